#include "tree.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <vector>

namespace attack {
namespace {

std::string systemError(const std::string& call, const std::string& path) {
  return call + " " + path + ": " + std::strerror(errno);
}

// FNV-1a: enough to notice a changed byte, no library needed.
std::uint64_t hashBytes(std::uint64_t hash, const char* bytes, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) {
    hash ^= static_cast<unsigned char>(bytes[i]);
    hash *= 1099511628211ULL;
  }
  return hash;
}

std::uint64_t hashFile(const std::string& path) {
  // O_NONBLOCK and O_NOFOLLOW: a FIFO or link that appeared since the lstat
  // must not stall or redirect the snapshot.
  Fd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!fd) fail(systemError("open", path));
  std::uint64_t hash = 14695981039346656037ULL;
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) fail(systemError("read", path));
    if (got == 0) return hash;
    hash = hashBytes(hash, buffer, static_cast<std::size_t>(got));
  }
}

std::string linkTarget(const std::string& path) {
  std::vector<char> buffer(4096);
  const ssize_t length = ::readlink(path.c_str(), buffer.data(), buffer.size());
  if (length < 0) fail(systemError("readlink", path));
  return std::string(buffer.data(), static_cast<std::size_t>(length));
}

void walk(const std::string& path, const std::set<std::string>& skipped, const std::set<std::string>& churned,
          Snapshot& out) {
  if (skipped.contains(path)) return;
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) fail(systemError("lstat", path));
  Entry entry;
  entry.mode = st.st_mode;
  entry.owner = st.st_uid;
  entry.group = st.st_gid;
  entry.inode = st.st_ino;
  if (!S_ISDIR(st.st_mode)) entry.size = st.st_size;
  if (!(S_ISDIR(st.st_mode) && churned.contains(path))) {
    entry.mtimeNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  }
  if (S_ISREG(st.st_mode)) entry.contentHash = hashFile(path);
  if (S_ISLNK(st.st_mode)) entry.linkTarget = linkTarget(path);
  out[path] = entry;
  if (!S_ISDIR(st.st_mode)) return;

  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(path.c_str()), &::closedir);
  if (!dir) fail(systemError("opendir", path));
  std::vector<std::string> names;
  while (const dirent* item = ::readdir(dir.get())) {
    const std::string name = item->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  for (const auto& name : names) walk(path + "/" + name, skipped, churned, out);
}

}  // namespace

void fail(const std::string& what) {
  throw std::runtime_error(what);
}

void makeDirectory(const std::string& path, mode_t mode) {
  if (::mkdir(path.c_str(), mode) != 0) fail(systemError("mkdir", path));
  // The umask must not decide the mode the program is meant to see.
  if (::chmod(path.c_str(), mode) != 0) fail(systemError("chmod", path));
}

void writeFile(const std::string& path, const std::string& bytes, mode_t mode) {
  Fd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
  if (!fd) fail(systemError("create", path));
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t wrote = ::write(fd.get(), bytes.data() + done, bytes.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote < 0) fail(systemError("write", path));
    done += static_cast<std::size_t>(wrote);
  }
  if (::fchmod(fd.get(), mode) != 0) fail(systemError("fchmod", path));
}

std::string readFile(const std::string& path) {
  Fd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!fd) return {};
  std::string bytes;
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return bytes;
    bytes.append(buffer, static_cast<std::size_t>(got));
  }
}

Fd openDirectory(const std::string& path) {
  Fd fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd) fail(systemError("open directory", path));
  return fd;
}

Snapshot snapshotTree(const std::string& root, const std::set<std::string>& skipped,
                      const std::set<std::string>& churned) {
  Snapshot out;
  walk(root, skipped, churned, out);
  return out;
}

std::string describeDifferences(const Snapshot& before, const Snapshot& after) {
  std::string report;
  for (const auto& [path, entry] : before) {
    const auto found = after.find(path);
    if (found == after.end())
      report += "  removed: " + path + "\n";
    else if (!(found->second == entry))
      report += "  changed: " + path + "\n";
  }
  for (const auto& [path, entry] : after) {
    if (!before.contains(path)) report += "  added:   " + path + "\n";
  }
  return report;
}

}  // namespace attack
