// Jobs on disk as the host library sees them: preparing one under the
// program's rules, naming an existing one, walking its directory chain and
// removing it. Every refusal carries a reason of the C API beside its
// sentence.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/directory.h"
#include "platform/unique_fd.h"
#include "support_draft_host.h"

namespace support_draft::host_side {

struct Refusal {
  support_draft_reason reason = SUPPORT_DRAFT_REASON_NONE;
  std::string text;

  explicit operator bool() const { return reason != SUPPORT_DRAFT_REASON_NONE; }
};

// A job on disk: its id, its directory, the standardised home directory the
// program must be given and the channel whose tool directory holds it.
struct JobOnDisk {
  std::string id;
  std::string directory;
  std::string home;
  support_draft_channel channel = SUPPORT_DRAFT_CHANNEL_PROD;
};

struct JobText {
  std::string_view subject;
  std::string_view body;
  std::optional<std::string_view> log;
  bool logTail = false;
};

struct Prepared {
  std::optional<JobOnDisk> job;
  Refusal refusal;
};

Prepared prepareJob(support_draft_channel channel, const std::string& home, const JobText& text);

// A job named by its parts or by its directory's path. Checks the form
// only; nothing on disk is touched.
Prepared namedJob(support_draft_channel channel, const std::string& home, const std::string& id);
Prepared jobAtDirectory(const std::string& directory);

// The home directory for a place, standardised: HOME or the password entry
// when `home` is empty, as the program does.
std::optional<std::string> homeFor(const std::string& home, Refusal& refusal);

std::string draftsPath(const std::string& home, support_draft_channel channel);

// The support-drafts directory of a place, checked from the root down;
// `create` makes the missing tool and drafts directories.
struct DraftsDirectory {
  platform::UniqueFd fd;
  bool missing = false;  // the tool or drafts directory does not exist (and was not to be made)
  Refusal refusal;
};
DraftsDirectory openDraftsDirectory(const std::string& home, support_draft_channel channel, bool create);

// The whole chain of an existing job, the job directory held open.
struct JobChain {
  platform::UniqueFd drafts;
  platform::UniqueFd job;
  Refusal refusal;
};
JobChain openJobChain(const JobOnDisk& job);

// The job directory as the program's own code sees it (opened along its
// path without following links), when it is the directory held.
std::optional<platform::Directory> programView(const std::string& path, const platform::UniqueFd& held);

// Removes the files of a job directory and the directory itself, never
// following a link (a link is removed, not what it points to).
bool removeJobDirectory(int drafts, const std::string& id);

bool removeJob(const JobOnDisk& job);

}  // namespace support_draft::host_side
