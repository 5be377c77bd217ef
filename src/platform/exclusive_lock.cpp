#include "platform/exclusive_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/paths.h"

namespace platform {

std::optional<UniqueFd> openLockFile(const std::string& directory, std::string_view name) {
  const std::string path = appendingPathComponent(directory, name);
  UniqueFd file(::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0600));
  if (!file) return std::nullopt;
  struct stat facts {};
  if (::fstat(file.get(), &facts) != 0 || !S_ISREG(facts.st_mode) || facts.st_uid != ::geteuid()) return std::nullopt;
  return file;
}

bool tryLockExclusive(const UniqueFd& file) {
  while (true) {
    if (::flock(file.get(), LOCK_EX | LOCK_NB) == 0) return true;
    if (errno != EINTR) return false;
  }
}

}  // namespace platform
