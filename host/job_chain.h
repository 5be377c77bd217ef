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

// A job on disk: its id, its directory, the standardised home directory the
// program must be given and the channel whose tool directory holds it.
struct JobOnDisk {
  std::string id;
  std::string directory;
  std::string home;
  JobChannel channel = JobChannel::prod;
};

// A job on disk, or why there is none.
struct Prepared {
  std::optional<JobOnDisk> job;
  Refusal refusal;
};

// The tool directory of a channel.
std::string toolDirectoryFor(JobChannel channel);
std::string draftsPath(const std::string& home, JobChannel channel);

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
DraftsDirectory openDraftsDirectory(const std::string& home, JobChannel channel, bool create);

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
