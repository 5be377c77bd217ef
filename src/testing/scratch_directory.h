// A fresh directory for one test, removed with everything in it when the
// test ends. Its path is fully resolved, so tests can compare paths exactly
// and tell their own symbolic links from any above /tmp. The unit tests, the
// process tests and the attack harness all use this one.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/unique_fd.h"

namespace testing_support {

// Names in the directory open at fd, sorted, without "." and "..". The
// descriptor is duplicated so the caller keeps its own.
inline std::optional<std::vector<std::string>> namesInDirectory(int fd) {
  const int copy = ::dup(fd);
  if (copy < 0) return std::nullopt;
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::fdopendir(copy), &::closedir);
  if (!dir) {
    ::close(copy);
    return std::nullopt;
  }
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(dir.get())) {
    const std::string_view name = entry->d_name;
    if (name != "." && name != "..") names.emplace_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

inline void removeAt(int parentFd, const std::string& name) noexcept {
  struct stat st {};
  if (::fstatat(parentFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return;
  if (S_ISDIR(st.st_mode)) {
    // A directory left at 0000 or 0500 can be neither listed nor emptied.
    // Should the chmod fail, listing may still work (e.g. for root).
    [[maybe_unused]] const int reopened = ::fchmodat(parentFd, name.c_str(), 0700, 0);
    const platform::UniqueFd fd(::openat(parentFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (fd) {
      if (const auto names = namesInDirectory(fd.get())) {
        for (const auto& child : *names) removeAt(fd.get(), child);
      }
    }
    ::unlinkat(parentFd, name.c_str(), AT_REMOVEDIR);
  } else {
    ::unlinkat(parentFd, name.c_str(), 0);
  }
}

// Removes a tree without ever following a symbolic link, giving directories
// back the permission bits needed to list and empty them (a test may leave a
// directory at 0000 or 0500). Missing paths are fine. Never throws: a
// leftover scratch directory is no reason to abort a test run.
inline void removeTree(const std::filesystem::path& path) noexcept {
  try {
    std::filesystem::path parent = path.parent_path();
    if (parent.empty()) parent = ".";
    const platform::UniqueFd parentFd(::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (parentFd) removeAt(parentFd.get(), path.filename().string());
  } catch (...) {
  }
}

// A directory from mkdtemp under $TMPDIR (or /tmp), removed with removeTree
// on destruction unless keep() was called.
class ScratchDirectory {
 public:
  ScratchDirectory() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/support-draft-test.XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp " + pattern + " failed");
    std::error_code error;
    path_ = std::filesystem::canonical(pattern, error).string();
    if (error) {
      removeTree(pattern);
      throw std::runtime_error("canonical " + pattern + ": " + error.message());
    }
  }
  ~ScratchDirectory() {
    if (!kept_) removeTree(path_);
  }
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  const std::string& path() const { return path_; }
  // Leaves the directory in place, for a look at it after the run.
  void keep() { kept_ = true; }

 private:
  std::string path_;
  bool kept_ = false;
};

}  // namespace testing_support
