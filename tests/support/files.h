#pragma once

#include <fstream>
#include <sstream>
#include <string>

namespace vekta {

// A file's bytes as they are; empty when it cannot be read.
inline std::string ReadWholeFile(const std::string& path) {
  std::ostringstream content;
  content << std::ifstream(path, std::ios::binary).rdbuf();
  return content.str();
}

}  // namespace vekta
