// Jobs on disk as the host library sees them: preparing one under the
// program's rules, naming an existing one, walking its directory chain and
// removing it. Every refusal carries a reason of the C API beside its
// sentence.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "job/rule_breach.h"
#include "platform/directory.h"
#include "support_draft_host.h"

namespace support_draft::host_side {

struct Refusal {
  support_draft_reason reason = SUPPORT_DRAFT_REASON_NONE;
  std::string text;

  explicit operator bool() const { return reason != SUPPORT_DRAFT_REASON_NONE; }
};

// The system's sentence for an error number.
std::string errorText(int error);

// The names in an open directory but "." and "..", or nothing when it
// cannot be listed.
std::optional<std::vector<std::string>> namesIn(int directory);

// A broken job rule as the API tells it: its reason and its sentence.
Refusal refusalFor(const RuleBreach& breach);

// Whom jobs are prepared for: the channel, the tool directory that holds
// the jobs and the prefix every subject must carry. A bundle's own, or the
// defaults of a channel.
struct JobIdentity {
  support_draft_channel channel = SUPPORT_DRAFT_CHANNEL_PROD;
  std::string toolDirectory;
  std::string subjectPrefix;
};
JobIdentity defaultIdentity(support_draft_channel channel);

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
  support_draft_channel channel = SUPPORT_DRAFT_CHANNEL_PROD;
  std::string toolDirectory;
  std::string subjectPrefix;
};

struct JobText {
  std::string_view subject;
  std::string_view body;
  std::optional<std::string_view> log;
};

struct Prepared {
  std::optional<JobOnDisk> job;
  Refusal refusal;
};

Prepared prepareJob(const JobIdentity& identity, const std::string& home, const JobText& text);

// A job named by its parts or by its directory's path. Checks the form
// only; nothing on disk is touched.
Prepared namedJob(support_draft_channel channel, const std::string& home, const std::string& id);
Prepared jobAtDirectory(const std::string& directory);

// The home directory for a place, standardised: HOME or the password entry
// when `home` is empty, as the program does.
std::optional<std::string> homeFor(const std::string& home, Refusal& refusal);

// The default tool directory of a channel.
std::string toolDirectoryFor(support_draft_channel channel);
std::string draftsPath(const std::string& home, const std::string& toolDirectory);

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

// Removes the files of a job directory and the directory itself, never
// following a link (a link is removed, not what it points to). Only this
// user's directory, closed to others, is taken, and only when it holds no
// directory: false for anything else, which is left as it was.
bool removeJobDirectory(int drafts, const std::string& id);

bool removeJob(const JobOnDisk& job);

}  // namespace support_draft::host_side
