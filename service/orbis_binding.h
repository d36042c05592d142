#pragma once

// How a member of the table is called on an IOrbis object. `Bind<&IOrbis::FiscalLine>` takes the
// [in] arguments from a list of values in parameter order (already checked against the table)
// and gives back the [out] value, when the member set one. The member table names the binding of
// each IOrbis member; everything that calls members late-bound goes through it.

#include <cstddef>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "service/i_orbis.h"
#include "service/member_table.h"

namespace vekta {

namespace binding {

struct OutSlots {
  std::optional<std::int32_t> number;
  std::optional<std::string> text;
};

template <class P>
decltype(auto) Argument(const std::vector<Value>& args, std::size_t index, OutSlots& slots) {
  if constexpr (std::is_same_v<P, Out<std::int32_t>>) {
    return Out<std::int32_t>(&slots.number);
  } else if constexpr (std::is_same_v<P, Out<std::string>>) {
    return Out<std::string>(&slots.text);
  } else {
    return std::get<std::decay_t<P>>(args[index]);
  }
}

template <class... P, std::size_t... I>
HRESULT Apply(IOrbis& object, HRESULT (IOrbis::*member)(P...), const std::vector<Value>& args,
              OutSlots& slots, std::index_sequence<I...>) {
  return (object.*member)(Argument<P>(args, I, slots)...);
}

template <class... P>
HRESULT Call(IOrbis& object, HRESULT (IOrbis::*member)(P...), const std::vector<Value>& args,
             OutSlots& slots) {
  return Apply(object, member, args, slots, std::index_sequence_for<P...>{});
}

}  // namespace binding

template <auto Member>
HRESULT Bind(IOrbis& object, const std::vector<Value>& args, std::optional<Value>& out) {
  binding::OutSlots slots;
  const HRESULT hr = binding::Call(object, Member, args, slots);
  if (slots.number) {
    out = *slots.number;
  } else if (slots.text) {
    out = std::move(*slots.text);
  }
  return hr;
}

// The table's entry of an IOrbis member, found by its binding.
template <auto Member>
const MemberInfo& BoundMember() {
  static const MemberInfo& member = *OrbisInterface().FindByInvoker(&Bind<Member>);
  return member;
}

}  // namespace vekta
