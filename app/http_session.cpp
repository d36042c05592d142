#include "app/http_session.h"

namespace vekta {

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string PathOf(std::string_view target) {
  target = target.substr(0, target.find('?'));
  std::string path;
  path.reserve(target.size());
  for (std::size_t i = 0; i < target.size(); ++i) {
    if (target[i] == '%' && i + 2 < target.size() && HexDigit(target[i + 1]) >= 0 &&
        HexDigit(target[i + 2]) >= 0) {
      path.push_back(static_cast<char>(HexDigit(target[i + 1]) * 16 + HexDigit(target[i + 2])));
      i += 2;
    } else {
      path.push_back(target[i]);
    }
  }
  return path;
}

HttpResponse ErrorAnswer(int status, std::string text) {
  HttpResponse res;
  SendError(res, status, E_INVALIDARG, std::move(text));
  res.close = true;
  return res;
}

}  // namespace vekta
