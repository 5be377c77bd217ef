// File helpers, snapshots and job fixtures. All tree
// walks go through directory descriptors with O_NOFOLLOW / AT_SYMLINK_NOFOLLOW
// so that a symbolic link planted by a test is recorded or removed as a link
// and never leads outside the tree.
#include "harness.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <cerrno>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <system_error>

namespace harness {

namespace {

[[noreturn]] void throwErrno(const std::string& what) {
  throw std::system_error(errno, std::generic_category(), what);
}

using testing_support::namesInDirectory;

}  // namespace

void writeFile(const fs::path& path, std::string_view bytes, mode_t mode) {
  UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, mode));
  if (!fd) throwErrno("open " + path.string());
  while (!bytes.empty()) {
    ssize_t n = ::write(fd.get(), bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throwErrno("write " + path.string());
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  // The umask must not decide the mode a test asked for.
  if (::fchmod(fd.get(), mode) != 0) throwErrno("fchmod " + path.string());
}

std::string readFile(const fs::path& path) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) throwErrno("open " + path.string());
  std::string bytes;
  char buffer[65536];
  for (;;) {
    ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throwErrno("read " + path.string());
    if (n == 0) return bytes;
    bytes.append(buffer, static_cast<size_t>(n));
  }
}

void makeDirectory(const fs::path& path, mode_t mode) {
  if (::mkdir(path.c_str(), mode) != 0) throwErrno("mkdir " + path.string());
  if (::chmod(path.c_str(), mode) != 0) throwErrno("chmod " + path.string());
}

void makeSymlink(const fs::path& target, const fs::path& link) {
  if (::symlink(target.c_str(), link.c_str()) != 0) throwErrno("symlink " + link.string());
}

void placeProgram(const fs::path& built, const fs::path& placed) {
  std::error_code linkError;
  fs::create_hard_link(built, placed, linkError);
  if (linkError) writeFile(placed, readFile(built), 0755);
}

namespace {

void changeOwnerAt(int parentFd, const std::string& name, uid_t uid, gid_t gid) {
  if (::fchownat(parentFd, name.c_str(), uid, gid, AT_SYMLINK_NOFOLLOW) != 0) throwErrno("chown " + name);
  struct stat st {};
  if (::fstatat(parentFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) throwErrno("stat " + name);
  if (!S_ISDIR(st.st_mode)) return;
  UniqueFd fd(::openat(parentFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd) throwErrno("open " + name);
  const auto names = namesInDirectory(fd.get());
  if (!names) throwErrno("list " + name);
  for (const auto& child : *names) changeOwnerAt(fd.get(), child, uid, gid);
}

}  // namespace

void changeOwnerOfTree(const fs::path& path, uid_t uid, gid_t gid) {
  fs::path parent = path.parent_path();
  UniqueFd parentFd(::open(parent.empty() ? "." : parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!parentFd) throwErrno("open " + parent.string());
  changeOwnerAt(parentFd.get(), path.filename().string(), uid, gid);
}

// ---------------------------------------------------------------------------
// Snapshots

namespace {

char typeLetter(mode_t mode) {
  if (S_ISREG(mode)) return 'f';
  if (S_ISDIR(mode)) return 'd';
  if (S_ISLNK(mode)) return 'l';
  if (S_ISFIFO(mode)) return 'p';
  if (S_ISSOCK(mode)) return 's';
  if (S_ISCHR(mode)) return 'c';
  if (S_ISBLK(mode)) return 'b';
  return '?';
}

std::optional<std::string> readAt(int parentFd, const std::string& name) {
  // O_NONBLOCK: the entry was a regular file at fstatat time, but must not
  // hang the walk if it was swapped for a FIFO since.
  UniqueFd fd(::openat(parentFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!fd) return std::nullopt;
  std::string bytes;
  char buffer[65536];
  for (;;) {
    ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) return bytes;
    bytes.append(buffer, static_cast<size_t>(n));
  }
}

void snapshotAt(int parentFd, const std::string& name, const std::string& relative, const SnapshotOptions& options,
                Snapshot& out) {
  if (options.skipped.contains(relative)) return;
  SnapshotEntry entry;
  struct stat st {};
  if (::fstatat(parentFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    entry.unreadable = true;
    out[relative] = entry;
    return;
  }
  entry.type = typeLetter(st.st_mode);
  entry.mode = st.st_mode & 07777;
  entry.uid = st.st_uid;
  entry.gid = st.st_gid;
  entry.size = st.st_size;
  entry.mtimeNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
  if (entry.type == 'd' && options.timeless.contains(relative)) entry.size = entry.mtimeNs = 0;
  if (options.inodes) entry.inode = st.st_ino;

  if (entry.type == 'l') {
    std::string target(static_cast<size_t>(st.st_size) + 1, '\0');
    ssize_t n = ::readlinkat(parentFd, name.c_str(), target.data(), target.size());
    if (n < 0) {
      entry.unreadable = true;
    } else {
      target.resize(static_cast<size_t>(n));
      entry.linkTarget = std::move(target);
    }
  } else if (entry.type == 'f' && st.st_size <= kSnapshotContentLimit) {
    entry.contents = readAt(parentFd, name);
    entry.unreadable = !entry.contents;
  }

  std::optional<std::vector<std::string>> children;
  UniqueFd dirFd;
  if (entry.type == 'd') {
    dirFd.reset(::openat(parentFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (dirFd) children = namesInDirectory(dirFd.get());
    entry.unreadable = !children;
  }
  out[relative] = entry;
  if (!children) return;
  for (const auto& child : *children) {
    snapshotAt(dirFd.get(), child, relative == "." ? child : relative + "/" + child, options, out);
  }
}

std::string octal(mode_t mode) {
  std::ostringstream text;
  text << '0' << std::oct << mode;
  return text.str();
}

std::string differences(const SnapshotEntry& a, const SnapshotEntry& b) {
  std::ostringstream text;
  if (a.type != b.type) text << " type " << a.type << "->" << b.type;
  if (a.mode != b.mode) text << " mode " << octal(a.mode) << "->" << octal(b.mode);
  if (a.uid != b.uid) text << " uid " << a.uid << "->" << b.uid;
  if (a.gid != b.gid) text << " gid " << a.gid << "->" << b.gid;
  if (a.size != b.size) text << " size " << a.size << "->" << b.size;
  if (a.mtimeNs != b.mtimeNs) text << " mtime";
  if (a.inode != b.inode) text << " inode";
  if (a.linkTarget != b.linkTarget) text << " link " << a.linkTarget << "->" << b.linkTarget;
  if (a.contents != b.contents) text << " contents";
  if (a.unreadable != b.unreadable) text << " readability";
  return text.str().substr(1);
}

}  // namespace

std::optional<std::string> readFileIfPresent(const fs::path& path) { return readAt(AT_FDCWD, path.string()); }

Snapshot takeSnapshot(const fs::path& root, const SnapshotOptions& options) {
  Snapshot out;
  fs::path parent = root.parent_path();
  UniqueFd parentFd(::open(parent.empty() ? "." : parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!parentFd) throwErrno("open " + parent.string());
  snapshotAt(parentFd.get(), root.filename().string(), ".", options, out);
  return out;
}

std::vector<SnapshotChange> compareSnapshots(const Snapshot& before, const Snapshot& after) {
  std::vector<SnapshotChange> changes;
  for (const auto& [path, entry] : before) {
    auto found = after.find(path);
    if (found == after.end()) {
      changes.push_back({SnapshotChange::removed, path, std::string(1, entry.type)});
    } else if (!(found->second == entry)) {
      changes.push_back({SnapshotChange::changed, path, differences(entry, found->second)});
    }
  }
  for (const auto& [path, entry] : after) {
    if (!before.contains(path)) {
      changes.push_back({SnapshotChange::added, path, std::string(1, entry.type) + " " + octal(entry.mode)});
    }
  }
  return changes;
}

std::string formatChanges(const std::vector<SnapshotChange>& changes) {
  std::string text;
  for (const auto& change : changes) {
    const char* sign = change.kind == SnapshotChange::added ? "+ " : change.kind == SnapshotChange::removed ? "- " : "~ ";
    text += sign + change.path + " (" + change.detail + ")\n";
  }
  return text;
}

// ---------------------------------------------------------------------------
// Job fixtures

const std::string_view kWellFormedJob =
    R"({"subject":"Support Request - Quorvel test","body":"b","attachLogs":false})";

std::string jobJson(std::string_view subject, std::string_view body, bool attachLogs) {
  const nlohmann::json document = {{"subject", subject}, {"body", body}, {"attachLogs", attachLogs}};
  return document.dump();
}

std::string_view toolDirFor(std::string_view channel) {
  if (channel == "dev") return kDevToolDir;
  if (channel == "prod") return kProdToolDir;
  throw std::invalid_argument("no tool directory for channel " + std::string(channel));
}

fs::path prepareJob(const fs::path& home, std::string_view toolDir, std::string_view jobId,
                    std::string_view jobJson, std::optional<std::string_view> log) {
  // An existing level (a second job in the same support-drafts, or a link a
  // test planted) stays as the test left it.
  auto ensureDirectory = [](const fs::path& dir) {
    std::error_code error;
    if (!fs::exists(fs::symlink_status(dir, error))) makeDirectory(dir, 0700);
  };
  ensureDirectory(home);
  fs::path dir = home;
  for (std::string_view component : {toolDir, std::string_view("support-drafts"), jobId}) {
    dir /= component;
    ensureDirectory(dir);
  }
  writeFile(dir / "job.json", jobJson, 0600);
  if (log) writeFile(dir / "log.txt", *log, 0600);
  return dir;
}

}  // namespace harness
