#include "app/web_assets.h"

#include <algorithm>

namespace vekta {

namespace {

std::string_view ContentTypeOf(std::string_view name) {
  auto endsWith = [name](std::string_view tail) {
    return name.size() >= tail.size() && name.substr(name.size() - tail.size()) == tail;
  };
  if (endsWith(".html")) return "text/html; charset=utf-8";
  if (endsWith(".css")) return "text/css; charset=utf-8";
  if (endsWith(".js")) return "text/javascript; charset=utf-8";
  if (endsWith(".svg")) return "image/svg+xml";
  if (endsWith(".png")) return "image/png";
  if (endsWith(".ico")) return "image/x-icon";
  return "application/octet-stream";
}

bool SafeName(std::string_view name) {
  if (name.empty() || name.size() > 64 || name.front() == '.') return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_' || c == '.';
  });
}

}  // namespace

const std::vector<WebAsset>& WebAssets() {
  static const std::vector<WebAsset> assets = [] {
    std::vector<WebAsset> list;
    for (const embedded::EmbeddedFile* f = embedded::kWebFiles; f->name; ++f) {
      list.push_back({f->name, ContentTypeOf(f->name),
                      std::string_view(reinterpret_cast<const char*>(f->data), f->size)});
    }
    return list;
  }();
  return assets;
}

const WebAsset* FindWebAsset(std::string_view path) {
  std::string_view name;
  if (path == "/" || path == "/index.html") {
    name = "index.html";
  } else if (path.rfind("/web/", 0) == 0) {
    name = path.substr(5);
  } else {
    return nullptr;
  }
  if (!SafeName(name)) return nullptr;
  for (const WebAsset& asset : WebAssets()) {
    if (asset.name == name) return &asset;
  }
  return nullptr;
}

const std::vector<std::pair<std::string, std::string>>& WebAssetHeaders() {
  static const std::vector<std::pair<std::string, std::string>> headers = {
      {"Content-Security-Policy",
       "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; "
       "connect-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'"},
      {"X-Content-Type-Options", "nosniff"},
      {"X-Frame-Options", "DENY"},
      {"Referrer-Policy", "no-referrer"},
      {"Cache-Control", "no-cache"},
  };
  return headers;
}

}  // namespace vekta
