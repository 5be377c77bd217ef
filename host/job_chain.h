// The chain of directories from the home directory down to a job, opened
// level by level with the program's rules (the missing tool and drafts
// directories made on the way when a job is prepared), each level held open.
#pragma once

#include <optional>
#include <string>

#include "platform/directory.h"
#include "reason_codes.h"

namespace support_draft::host_side {

// The bundle's build channel; each has a tool directory of its own.
enum class JobChannel { dev, prod };

// Whom jobs are prepared for: the channel, the tool directory that holds
// the jobs and the prefix every subject must carry. A bundle's own, or the
// defaults of a channel.
struct JobIdentity {
  JobChannel channel = JobChannel::prod;
  std::string toolDirectory;
  std::string subjectPrefix;
};
JobIdentity defaultIdentity(JobChannel channel);

// The identity of the bundle at `bundlePath`, read as the program reads its
// own (readBundleIdentity), or why it has none.
struct BundleJobIdentity {
  std::optional<JobIdentity> identity;
  Refusal refusal;
};
BundleJobIdentity bundleJobIdentity(const std::string& bundlePath);

// A job on disk: its id, its directory, the standardised home directory the
// program must be given, the channel and tool directory that hold it and
// the subject prefix it was made with ("" when not known: a job named by
// its directory under a tool directory of an application's own).
struct JobOnDisk {
  std::string id;
  std::string directory;
  std::string home;
  JobChannel channel = JobChannel::prod;
  std::string toolDirectory;
  std::string subjectPrefix;
};

// A job on disk, or why there is none.
struct Prepared {
  std::optional<JobOnDisk> job;
  Refusal refusal;
};

// The default tool directory of a channel.
std::string toolDirectoryFor(JobChannel channel);
std::string draftsPath(const std::string& home, const std::string& toolDirectory);

// Makes a directory of mode 0700 whatever the umask; false (errno set) when
// it cannot be made, also when something else stands there already.
bool makePrivateDirectory(int parent, const std::string& name);

// The support-drafts directory of a place, checked from the root down with
// the program's rules; `create` makes the missing tool and drafts
// directories.
struct DraftsDirectory {
  std::optional<platform::Directory> directory;
  bool missing = false;  // the tool or drafts directory does not exist (and was not to be made)
  Refusal refusal;
};
DraftsDirectory openDraftsDirectory(const std::string& home, const std::string& toolDirectory, bool create);

// The whole chain of an existing job, each level held open.
struct JobChain {
  std::optional<platform::Directory> drafts;
  std::optional<platform::Directory> job;
  Refusal refusal;
};
JobChain openJobChain(const JobOnDisk& job);

// True when the job directory at `path`, opened along it again without
// following links, is still the directory held.
bool stillAt(const std::string& path, const platform::Directory& held);

}  // namespace support_draft::host_side
