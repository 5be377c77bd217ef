#include "job_chain.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "job/bundle_identity.h"
#include "job/job_contract.h"
#include "job/job_directory.h"
#include "platform/paths.h"
#include "platform/unique_fd.h"

namespace support_draft::host_side {
namespace {

constexpr unsigned kDirectoryMode = 0700;
// The tool and drafts directories: each may be missing once, and another
// host may make or remove one at the same moment.
constexpr int kChainAttempts = 4;

bool sameItem(int a, int b) {
  struct stat first {}, second {};
  return ::fstat(a, &first) == 0 && ::fstat(b, &second) == 0 && first.st_dev == second.st_dev &&
         first.st_ino == second.st_ino;
}

}  // namespace

std::string toolDirectoryFor(JobChannel channel) {
  return *toolDirectoryName(channel == JobChannel::dev ? "dev" : "prod");
}

std::string draftsPath(const std::string& home, const std::string& toolDirectory) {
  return platform::appendingPathComponent(platform::appendingPathComponent(home, toolDirectory), kDraftsDirectory);
}

JobIdentity defaultIdentity(JobChannel channel) {
  return JobIdentity{channel, toolDirectoryFor(channel), std::string(kSubjectPrefix)};
}

BundleJobIdentity bundleJobIdentity(const std::string& bundlePath) {
  BundleJobIdentity found;
  BundleIdentityReading reading = readBundleIdentity(bundlePath);
  if (!reading.identity) {
    found.refusal = refusalFor(*reading.breach);
    return found;
  }
  BundleIdentity& identity = *reading.identity;
  found.identity = JobIdentity{identity.channel == "dev" ? JobChannel::dev : JobChannel::prod,
                               std::move(identity.toolDirectory), std::move(identity.subjectPrefix)};
  return found;
}

bool makePrivateDirectory(int parent, const std::string& name) {
  if (::mkdirat(parent, name.c_str(), kDirectoryMode) != 0) return false;
  platform::UniqueFd made(::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  return made && ::fchmod(made.get(), kDirectoryMode) == 0;
}

DraftsDirectory openDraftsDirectory(const std::string& home, const std::string& tool, bool create) {
  DraftsDirectory drafts;
  for (int attempt = 0; attempt < kChainAttempts; ++attempt) {
    DirectoryOpening opening = openJobLevels(home, {tool, kDraftsDirectory});
    if (opening.directory) {
      drafts.directory = std::move(opening.directory);
      return drafts;
    }
    drafts.refusal = refusalFor(*opening.breach);
    drafts.missing = opening.breach->reason == Reason::directoryMissing;
    if (!drafts.missing || !create || !opening.parent) return drafts;
    // Another host may make it at the same moment: then theirs is judged
    // like any existing directory on the next round.
    if (!makePrivateDirectory(opening.parent->fd(), opening.missingName) && errno != EEXIST) {
      drafts.refusal = {HostReason::directoryNotMade,
                        "the directory cannot be made: " +
                            platform::appendingPathComponent(opening.parent->path(), opening.missingName) + ": " +
                            errorText(errno)};
      return drafts;
    }
  }
  return drafts;
}

JobChain openJobChain(const JobOnDisk& job) {
  JobChain chain;
  if (!isCanonicalJobId(job.id)) {
    chain.refusal = refusalFor({Reason::jobIdInvalid, job.id});
    return chain;
  }
  DraftsDirectory drafts = openDraftsDirectory(job.home, job.toolDirectory, false);
  if (!drafts.directory) {
    chain.refusal = drafts.refusal;
    return chain;
  }
  DirectoryOpening opening = openPrivateLevel(*drafts.directory, job.id);
  chain.drafts = std::move(drafts.directory);
  if (opening.breach) chain.refusal = refusalFor(*opening.breach);
  chain.job = std::move(opening.directory);
  return chain;
}

bool stillAt(const std::string& path, const platform::Directory& held) {
  const auto directory = platform::Directory::openWithoutLinks(path);
  return directory && sameItem(directory->fd(), held.fd());
}

}  // namespace support_draft::host_side
