#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace vekta {

// Result codes of the object interfaces, with the values point-of-sale programs know.
using HRESULT = std::int32_t;

constexpr HRESULT S_OK = 0;
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
constexpr HRESULT E_UNEXPECTED = static_cast<HRESULT>(0x8000FFFFu);
constexpr HRESULT E_ACCESSDENIED = static_cast<HRESULT>(0x80070005u);
constexpr HRESULT REGDB_E_CLASSNOTREG = static_cast<HRESULT>(0x80040154u);
constexpr HRESULT REGDB_E_IIDNOTREG = static_cast<HRESULT>(0x80040155u);
constexpr HRESULT CONTEXT_E_SYNCH_TIMEOUT = static_cast<HRESULT>(0x8004E006u);
constexpr HRESULT RPC_S_SERVER_UNAVAILABLE = static_cast<HRESULT>(0x800706BAu);
constexpr HRESULT ERROR_TIMEOUT_HR = static_cast<HRESULT>(0x800705B4u);
constexpr HRESULT DISP_E_UNKNOWNNAME = static_cast<HRESULT>(0x80020006u);
constexpr HRESULT DISP_E_TYPEMISMATCH = static_cast<HRESULT>(0x80020005u);
constexpr HRESULT DISP_E_OVERFLOW = static_cast<HRESULT>(0x8002000Au);
constexpr HRESULT DISP_E_BADPARAMCOUNT = static_cast<HRESULT>(0x8002000Eu);
constexpr HRESULT RPC_E_DISCONNECTED = static_cast<HRESULT>(0x80010108u);

inline bool Succeeded(HRESULT hr) {
  return hr >= 0;
}
inline bool Failed(HRESULT hr) {
  return hr < 0;
}

// "0x80004005" style text.
std::string HresultHex(HRESULT hr);
// The symbolic name ("E_FAIL"), or empty for a code without one.
std::string HresultName(HRESULT hr);

// Raised by a remote object when the call could not be carried out at all (the server went away,
// refused the token, timed out); never raised across the printer link.
class ComError : public std::runtime_error {
 public:
  explicit ComError(HRESULT hr) : std::runtime_error(HresultHex(hr)), m_hr(hr) {}
  HRESULT Code() const { return m_hr; }

 private:
  HRESULT m_hr;
};

// Inside a catch block that turns a failure into an HRESULT or a failure value: one line on
// standard error saying where and what was caught, so that nothing is swallowed unseen.
void LogCaught(const char* where);

}  // namespace vekta
