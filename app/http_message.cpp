#include "app/http_message.h"

#include <strings.h>

#include "platform/codepage.h"

namespace vekta {

using nlohmann::json;

std::string HttpRequest::Header(std::string_view name) const {
  for (const auto& [key, value] : headers) {
    if (key.size() == name.size() && ::strncasecmp(key.data(), name.data(), name.size()) == 0) {
      return value;
    }
  }
  return {};
}

void HttpResponse::SetHeader(std::string name, std::string value) {
  for (auto& [key, old] : headers) {
    if (key == name) {
      old = std::move(value);
      return;
    }
  }
  headers.emplace_back(std::move(name), std::move(value));
}

void HttpResponse::SetContent(std::string text, std::string type) {
  body = std::move(text);
  contentType = std::move(type);
}

std::string Dump(const json& j) {
  return j.dump(-1, ' ', false, json::error_handler_t::replace);
}

void SendJson(HttpResponse& res, int status, const json& body) {
  res.status = status;
  res.SetContent(Dump(body), kJsonType);
}

void SendError(HttpResponse& res, const ProtocolError& error) {
  SendJson(res, error.status, {{"error", error.text}, {"hresult", HresultHex(error.hresult)}});
}

void SendError(HttpResponse& res, int status, HRESULT hr, std::string text) {
  SendError(res, ProtocolError{status, hr, std::move(text)});
}

bool ParseBody(const HttpRequest& req, HttpResponse& res, json& out) {
  if (req.body.empty()) {
    out = nullptr;
    return true;
  }
  const std::string type = req.Header("Content-Type");
  if (type.size() < 16 || ::strncasecmp(type.data(), "application/json", 16) != 0) {
    SendError(res, 415, E_INVALIDARG, "the body must be application/json");
    return false;
  }
  if (!IsValidUtf8(req.body)) {
    SendError(res, 400, E_INVALIDARG, "the body is not valid UTF-8");
    return false;
  }
  out = json::parse(req.body, nullptr, false);
  if (out.is_discarded()) {
    SendError(res, 400, E_INVALIDARG, "malformed JSON");
    return false;
  }
  return true;
}

std::optional<std::int64_t> WholeNumberIn(const json& value, std::int64_t min, std::int64_t max) {
  if (!value.is_number_integer()) return std::nullopt;
  if (value.is_number_unsigned()) {
    const auto n = value.get<std::uint64_t>();
    if (max < 0 || n > static_cast<std::uint64_t>(max) || static_cast<std::int64_t>(n) < min) {
      return std::nullopt;
    }
    return static_cast<std::int64_t>(n);
  }
  const auto n = value.get<std::int64_t>();
  if (n < min || n > max) return std::nullopt;
  return n;
}

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
