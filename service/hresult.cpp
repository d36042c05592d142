#include "service/hresult.h"

#include <cstdio>
#include <exception>
#include <string>

namespace vekta {

std::string HresultHex(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
  return text;
}

std::string HresultName(HRESULT hr) {
  switch (hr) {
    case S_OK:
      return "S_OK";
    case E_FAIL:
      return "E_FAIL";
    case E_INVALIDARG:
      return "E_INVALIDARG";
    case E_OUTOFMEMORY:
      return "E_OUTOFMEMORY";
    case E_NOINTERFACE:
      return "E_NOINTERFACE";
    case E_UNEXPECTED:
      return "E_UNEXPECTED";
    case E_ACCESSDENIED:
      return "E_ACCESSDENIED";
    case REGDB_E_CLASSNOTREG:
      return "REGDB_E_CLASSNOTREG";
    case REGDB_E_IIDNOTREG:
      return "REGDB_E_IIDNOTREG";
    case CONTEXT_E_SYNCH_TIMEOUT:
      return "CONTEXT_E_SYNCH_TIMEOUT";
    case RPC_S_SERVER_UNAVAILABLE:
      return "RPC_S_SERVER_UNAVAILABLE";
    case ERROR_TIMEOUT_HR:
      return "ERROR_TIMEOUT";
    case DISP_E_UNKNOWNNAME:
      return "DISP_E_UNKNOWNNAME";
    case DISP_E_TYPEMISMATCH:
      return "DISP_E_TYPEMISMATCH";
    case DISP_E_OVERFLOW:
      return "DISP_E_OVERFLOW";
    case DISP_E_BADPARAMCOUNT:
      return "DISP_E_BADPARAMCOUNT";
    case RPC_E_DISCONNECTED:
      return "RPC_E_DISCONNECTED";
    default:
      return "";
  }
}

void LogCaught(const char* where) {
  std::string what = "an exception of an unknown type";
  try {
    throw;
  } catch (const ComError& error) {
    what = "COM error " + HresultHex(error.Code());
  } catch (const std::exception& error) {
    what = error.what();
  } catch (...) {
  }
  std::fprintf(stderr, "vektamanager: %s failed: %s\n", where, what.c_str());
}

}  // namespace vekta
