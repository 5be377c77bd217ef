#include "run_lock.h"

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>

namespace support_draft::host_side {
namespace {

// A lock belongs to an open file: every lock here gets its own, so that a
// lock the caller holds on another never answers for it.
platform::UniqueFd ownOpenFile(int directory) {
  return platform::UniqueFd(::openat(directory, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

}  // namespace

platform::UniqueFd runLock(int jobDirectory) {
  platform::UniqueFd file = ownOpenFile(jobDirectory);
  if (!file) return file;
  int locked;
  do {
    locked = ::flock(file.get(), LOCK_SH);
  } while (locked != 0 && errno == EINTR);
  if (locked != 0) {
    const int error = errno;
    file.reset();
    errno = error;
  }
  return file;
}

IdleLock idleLock(int jobDirectory) {
  IdleLock lock;
  platform::UniqueFd file = ownOpenFile(jobDirectory);
  if (!file) return lock;
  if (::flock(file.get(), LOCK_EX | LOCK_NB) == 0) {
    lock.held = std::move(file);
  } else {
    lock.running = errno == EWOULDBLOCK;
  }
  return lock;
}

}  // namespace support_draft::host_side
