#include "platform/file_io.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/write_all.h"

namespace platform {
namespace {

constexpr char kHex[] = "0123456789abcdef";
constexpr std::size_t kTemporaryRandomBytes = 8;

// A name no one else is likely to have chosen; O_EXCL and linkat settle the
// rest.
std::optional<std::string> temporaryNameFor(std::string_view name) {
  unsigned char random[kTemporaryRandomBytes];
  if (::getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) return std::nullopt;
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

std::optional<UniqueFd> openPathForReading(const std::string& path) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!fd) return std::nullopt;
  return fd;
}

bool seekTo(const UniqueFd& file, std::int64_t offset) {
  return offset >= 0 && ::lseek(file.get(), static_cast<off_t>(offset), SEEK_SET) == static_cast<off_t>(offset);
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

namespace {

// True for the names temporaryNameFor gives.
bool isTemporaryNameFor(std::string_view candidate, std::string_view name) {
  const std::size_t prefix = name.size() + 2;  // the dots before and after the name
  if (candidate.size() != prefix + 2 * kTemporaryRandomBytes) return false;
  if (candidate[0] != '.' || candidate.substr(1, name.size()) != name || candidate[prefix - 1] != '.') return false;
  const std::string_view digits = candidate.substr(prefix);
  return std::all_of(digits.begin(), digits.end(),
                     [](char c) { return std::string_view(kHex).find(c) != std::string_view::npos; });
}

// A regular file of this user that no other directory entry leads to:
// changing or removing it touches nothing else.
bool isOwnSoleFile(const struct stat& st) {
  return S_ISREG(st.st_mode) && st.st_uid == ::geteuid() && st.st_nlink == 1;
}

// Removes the temporary files for `name` that an earlier write, ended
// before its rename, left in the directory. Only this program's own names
// and only files that are the user's alone are taken.
void removeLeftoverTemporaries(int dir, std::string_view name) {
  const int listing = ::openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (listing < 0) return;
  const std::unique_ptr<DIR, int (*)(DIR*)> entries(::fdopendir(listing), &::closedir);
  if (!entries) {
    ::close(listing);
    return;
  }
  while (const dirent* entry = ::readdir(entries.get())) {
    if (!isTemporaryNameFor(entry->d_name, name)) continue;
    struct stat st {};
    if (::fstatat(dir, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && isOwnSoleFile(st)) {
      ::unlinkat(dir, entry->d_name, 0);
    }
  }
}

// A new file without a name in the directory, for writing; nothing when the
// file system cannot make one.
UniqueFd unnamedFileIn(int dir) {
  return UniqueFd(::openat(dir, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
}

// Gives the unnamed file a temporary name in the directory.
std::optional<std::string> linkUnderTemporaryName(const UniqueFd& file, int dir, std::string_view name) {
  auto temporary = temporaryNameFor(name);
  if (!temporary) return std::nullopt;
  const std::string self = "/proc/self/fd/" + std::to_string(file.get());
  if (::linkat(AT_FDCWD, self.c_str(), dir, temporary->c_str(), AT_SYMLINK_FOLLOW) != 0) return std::nullopt;
  return temporary;
}

}  // namespace

bool writeFileAtomically(const FileLocation& location, std::string_view bytes, unsigned mode) {
  if (location.directory == nullptr) return false;
  const int dir = location.directory->fd();
  removeLeftoverTemporaries(dir, location.name);

  // The file gets its name only once it is complete, so a process ended
  // while writing leaves nothing behind. Where the file system has no
  // unnamed files, a named one is written instead.
  std::optional<std::string> temporary;
  UniqueFd file = unnamedFileIn(dir);
  if (!file) {
    if (errno != EOPNOTSUPP && errno != EISDIR) return false;
    temporary = temporaryNameFor(location.name);
    if (!temporary) return false;
    file.reset(::openat(dir, temporary->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!file) return false;
  }
  bool written = writeAll(file.get(), bytes);
  if (written && !temporary) {
    temporary = linkUnderTemporaryName(file, dir, location.name);
    written = temporary.has_value();
  }
  if (written && ::renameat(dir, temporary->c_str(), dir, location.name.c_str()) == 0) {
    // In place first, then the mode: under a strict umask the file was made
    // stricter still, and is opened up to exactly `mode` only now.
    return ::fchmod(file.get(), static_cast<mode_t>(mode)) == 0;
  }
  if (temporary) ::unlinkat(dir, temporary->c_str(), 0);
  return false;
}

bool setPermissionsOfOwnFile(const FileLocation& location, unsigned mode) {
  if (location.directory == nullptr) return false;
  const int dir = location.directory->fd();
  // Judged before it is opened, so that a FIFO or a device is never opened;
  // judged again once open, so that nothing swapped in meanwhile is changed.
  struct stat seen {};
  if (::fstatat(dir, location.name.c_str(), &seen, AT_SYMLINK_NOFOLLOW) != 0 || !isOwnSoleFile(seen)) return false;
  UniqueFd file(::openat(dir, location.name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  struct stat opened {};
  if (!file || ::fstat(file.get(), &opened) != 0 || !isOwnSoleFile(opened) || opened.st_dev != seen.st_dev ||
      opened.st_ino != seen.st_ino) {
    return false;
  }
  return ::fchmod(file.get(), static_cast<mode_t>(mode)) == 0;
}

bool failWritesBeyondFileSizeLimit() {
  return ::signal(SIGXFSZ, SIG_IGN) != SIG_ERR;
}

}  // namespace platform
