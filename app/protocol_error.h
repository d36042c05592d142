#pragma once

#include <string>

#include "service/hresult.h"

namespace vekta {

// A request the object protocol refuses before anything runs: answered with `status` and
// {"error":text,"hresult":...}.
struct ProtocolError {
  int status = 400;
  HRESULT hresult = E_INVALIDARG;
  std::string text;
};

}  // namespace vekta
