#include "job_removal.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <string_view>

namespace support_draft::host_side {

std::optional<std::vector<std::string>> namesIn(int directory) {
  const int listing = ::openat(directory, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (listing < 0) return std::nullopt;
  const std::unique_ptr<DIR, int (*)(DIR*)> entries(::fdopendir(listing), &::closedir);
  if (!entries) {
    ::close(listing);
    return std::nullopt;
  }
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(entries.get())) {
    const std::string_view name = entry->d_name;
    if (name != "." && name != "..") names.emplace_back(name);
  }
  return names;
}

bool removeJobDirectory(int drafts, const std::string& id) {
  const int opened = ::openat(drafts, id.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (opened < 0) return errno == ENOENT;
  // The listing's descriptor serves the checks and removals too: a host
  // near its limit of open files can still remove a job it could not finish.
  const std::unique_ptr<DIR, int (*)(DIR*)> entries(::fdopendir(opened), &::closedir);
  if (!entries) {
    ::close(opened);
    return false;
  }
  const int directory = opened;
  // Only this user's private directory is taken, never one of another user
  // or one a person made open to others that merely sits where a job would.
  struct stat held {};
  if (::fstat(directory, &held) != 0 || held.st_uid != ::geteuid() || (held.st_mode & 077) != 0) return false;
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(entries.get())) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  // A directory inside cannot be unlinked: found first, it leaves the job
  // whole rather than half emptied.
  for (const std::string& name : names) {
    struct stat item {};
    if (::fstatat(directory, name.c_str(), &item, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno != ENOENT) return false;
    } else if (S_ISDIR(item.st_mode)) {
      return false;
    }
  }
  for (const std::string& name : names) {
    if (::unlinkat(directory, name.c_str(), 0) != 0 && errno != ENOENT) return false;
  }
  return ::unlinkat(drafts, id.c_str(), AT_REMOVEDIR) == 0;
}

bool removeJob(const JobOnDisk& job) {
  const JobChain chain = openJobChain(job);
  if (!chain.drafts) return false;
  return removeJobDirectory(chain.drafts->fd(), job.id);
}

}  // namespace support_draft::host_side
