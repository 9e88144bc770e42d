// Tests' scratch directory: created under the working directory (the build
// tree), never under /tmp, which the relay refuses for sockets.
#pragma once

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

namespace vk::testing {

class PrivateDir {
 public:
  PrivateDir() {
    char name[] = "vk_test.XXXXXX";
    if (::mkdtemp(name) != nullptr) path_ = name;
  }
  ~PrivateDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  PrivateDir(const PrivateDir&) = delete;
  PrivateDir& operator=(const PrivateDir&) = delete;

  // Relative to the working directory, so socket paths stay short.
  const std::string& path() const { return path_; }
  std::string file(std::string_view name) const { return path_ + "/" + std::string(name); }

  // Writes `content` to the file `name` and returns its path.
  std::string write_file(std::string_view name, std::string_view content) const {
    const std::string full = file(name);
    std::ofstream(full, std::ios::binary) << content;
    return full;
  }

 private:
  std::string path_;
};

}  // namespace vk::testing
