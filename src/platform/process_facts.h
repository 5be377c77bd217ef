// Facts about other processes of this machine, read without changing them:
// who holds a lock on a file, whether a process is alive, its environment.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <string>

#include "platform/unique_fd.h"

namespace platform {

// Who holds a POSIX record lock that would stop a write lock on the whole
// of `file` (F_GETLK: nothing is locked by asking).
struct LockHolder {
  bool locked = false;
  // The holder's process id as this process sees it; 0 when the kernel
  // cannot name it here (a process of another pid namespace, or of another
  // machine through a network file system).
  pid_t pid = 0;
};
std::optional<LockHolder> lockHolder(const UniqueFd& file);

// Whether a process with this id exists (also one of another user).
bool processExists(pid_t pid);

// The environment the process was started with, NUL-separated, when this
// process may read it and it holds at most `limit` bytes.
std::optional<std::string> processEnvironment(pid_t pid, std::size_t limit);

// The target of the symbolic link at `path`, not followed; nothing when it
// is no link or cannot be read.
std::optional<std::string> linkTarget(const std::string& path);

}  // namespace platform
