#pragma once

// The operator's page: the files of resources/web, compiled into the binary, and the headers
// they are served with. Knows nothing of the HTTP library, so that any server can serve them.

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vekta {

namespace embedded {
struct EmbeddedFile {
  const char* name;
  const unsigned char* data;
  std::size_t size;
};
// Ends with a row whose name is null.
extern const EmbeddedFile kWebFiles[];
}  // namespace embedded

struct WebAsset {
  std::string_view name;  // "app.js"
  std::string_view contentType;
  std::string_view body;
};

// The asset that answers a GET of `path`: "/" is the main window, "/web/NAME" a file of the
// page. Null for anything else (no directories, no dot files, no "..").
const WebAsset* FindWebAsset(std::string_view path);
const std::vector<WebAsset>& WebAssets();

// Headers of every asset response: a policy that lets the page load only its own files and talk
// only to its own server, and no sniffing, framing or caching.
const std::vector<std::pair<std::string, std::string>>& WebAssetHeaders();

}  // namespace vekta
