// A fresh directory for one unit test, removed with everything in it when
// the test ends. Its path is fully resolved, so tests can compare paths
// exactly and tell their own symbolic links from any above /tmp.
#pragma once

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace testing_support {

class ScratchDirectory {
 public:
  ScratchDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "support-draft-unit-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = std::filesystem::canonical(pattern).string();
  }
  ~ScratchDirectory() {
    // A test may leave the directory closed; give it back before removing.
    ::chmod(path_.c_str(), 0700);
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace testing_support
