#include "platform/file_io.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/write_all.h"

namespace platform {
namespace {

// A name no one else is likely to have chosen; O_EXCL settles the rest.
std::optional<std::string> temporaryNameFor(std::string_view name) {
  unsigned char random[8];
  if (::getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) return std::nullopt;
  static constexpr char kHex[] = "0123456789abcdef";
  std::string temporary = ".";
  temporary += name;
  temporary += '.';
  for (unsigned char byte : random) {
    temporary += kHex[byte >> 4];
    temporary += kHex[byte & 0xf];
  }
  return temporary;
}

}  // namespace

std::optional<UniqueFd> openForReading(const FileLocation& location) {
  if (location.directory == nullptr) return std::nullopt;
  UniqueFd fd(::openat(location.directory->fd(), location.name.c_str(),
                       O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!fd) return std::nullopt;
  return fd;
}

std::optional<std::string> readAtMost(const UniqueFd& file, std::size_t limit) {
  // Read in chunks rather than sizing the buffer by the limit: the limits
  // are generous, the files usually small.
  std::string bytes;
  char chunk[16384];
  while (bytes.size() < limit) {
    const ssize_t got = ::read(file.get(), chunk, std::min(sizeof chunk, limit - bytes.size()));
    if (got < 0) {
      if (errno == EINTR) continue;
      return std::nullopt;
    }
    if (got == 0) break;
    bytes.append(chunk, static_cast<std::size_t>(got));
  }
  return bytes;
}

std::optional<std::string> readWholeFile(const std::string& path, std::size_t maxSize) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  struct stat st {};
  if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  auto bytes = readAtMost(fd, maxSize + 1);
  if (!bytes || bytes->size() > maxSize) return std::nullopt;
  return bytes;
}

bool writeFileAtomically(const FileLocation& location, std::string_view bytes) {
  if (location.directory == nullptr) return false;
  const int dir = location.directory->fd();
  const auto temporary = temporaryNameFor(location.name);
  if (!temporary) return false;
  UniqueFd fd(::openat(dir, temporary->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!fd) return false;
  const bool written = writeAll(fd.get(), bytes);
  fd.reset();
  if (written && ::renameat(dir, temporary->c_str(), dir, location.name.c_str()) == 0) return true;
  ::unlinkat(dir, temporary->c_str(), 0);
  return false;
}

bool setPermissionsWithoutFollowing(const FileLocation& location, unsigned mode) {
  if (location.directory == nullptr) return false;
  // With AT_SYMLINK_NOFOLLOW the C library changes a regular file through a
  // descriptor of the item itself and refuses a link.
  return ::fchmodat(location.directory->fd(), location.name.c_str(), static_cast<mode_t>(mode),
                    AT_SYMLINK_NOFOLLOW) == 0;
}

}  // namespace platform
