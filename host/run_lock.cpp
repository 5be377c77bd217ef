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

// Takes the lock `operation` on `file`, waiting as long as it takes;
// resets `file` (errno kept) when it cannot be had.
void lockOrReset(platform::UniqueFd& file, int operation) {
  int locked;
  do {
    locked = ::flock(file.get(), operation);
  } while (locked != 0 && errno == EINTR);
  if (locked != 0) {
    const int error = errno;
    file.reset();
    errno = error;
  }
}

platform::UniqueFd sharedLock(int directory) {
  platform::UniqueFd file = ownOpenFile(directory);
  if (file) lockOrReset(file, LOCK_SH);
  return file;
}

}  // namespace

platform::UniqueFd runLock(int jobDirectory) { return sharedLock(jobDirectory); }

platform::UniqueFd bundleRunLock(int drafts) { return sharedLock(drafts); }

SoleRunLock soleBundleRunLock(int drafts) {
  SoleRunLock lock;
  platform::UniqueFd gate(::openat(drafts, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!gate) return lock;
  lockOrReset(gate, LOCK_EX);
  if (!gate) return lock;
  platform::UniqueFd file = ownOpenFile(drafts);
  if (!file) return lock;
  // Exclusively only to look: the shared lock that follows lets runs
  // started without looking begin beside this one, and no other look can
  // come in between while the gate is held.
  if (::flock(file.get(), LOCK_EX | LOCK_NB) != 0) {
    lock.running = errno == EWOULDBLOCK;
    return lock;
  }
  lockOrReset(file, LOCK_SH);
  lock.held = std::move(file);
  return lock;
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
