// What the parts of the swap attack harness share besides the test support
// library: setup failures and directory descriptors.
#pragma once

#include <fcntl.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

#include "platform/unique_fd.h"

namespace attack {

using Fd = platform::UniqueFd;

// Setup steps throw this; a harness that cannot set up has proved nothing.
[[noreturn]] inline void fail(const std::string& what) { throw std::runtime_error(what); }

inline Fd openDirectory(const std::string& path) {
  Fd fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd) fail("open directory " + path + ": " + std::strerror(errno));
  return fd;
}

}  // namespace attack
