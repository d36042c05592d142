#pragma once

#include <stdlib.h>

#include <filesystem>
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

// A fresh folder under /tmp, removed with everything in it when the object goes.
class TempDir {
 public:
  TempDir() {
    char dir[] = "/tmp/vekta-test-XXXXXX";
    if (::mkdtemp(dir)) m_path = dir;
  }
  ~TempDir() {
    std::error_code ignored;
    if (!m_path.empty()) std::filesystem::remove_all(m_path, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& Path() const { return m_path; }
  // Writes `name` in the folder; its path.
  std::string Write(const std::string& name, const std::string& text) const {
    std::ofstream(m_path + "/" + name) << text;
    return m_path + "/" + name;
  }

 private:
  std::string m_path;
};

}  // namespace vekta
