#include "host_job.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <system_error>
#include <vector>

// The program's own rules and checks, linked in rather than written again.
#include "files/private_file.h"
#include "job/bundle_identity.h"
#include "job/job_contract.h"
#include "job/job_directory.h"
#include "job/job_document.h"
#include "job/job_home.h"
#include "platform/file_io.h"
#include "platform/home.h"
#include "platform/paths.h"
#include "reason_codes.h"

namespace support_draft::host_side {
namespace {

using platform::UniqueFd;

constexpr unsigned kDirectoryMode = 0700;
constexpr unsigned kFileMode = 0600;
constexpr int kJobIdAttempts = 16;
// The tool and drafts directories: each may be missing once, and another
// host may make or remove one at the same moment.
constexpr int kChainAttempts = 4;

// Makes a directory of mode 0700 whatever the umask; false when it cannot
// be made (also when something else stands there already).
bool makePrivateDirectory(int parent, const std::string& name) {
  if (::mkdirat(parent, name.c_str(), kDirectoryMode) != 0) return false;
  UniqueFd made(::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  return made && ::fchmod(made.get(), kDirectoryMode) == 0;
}

// A random UUID (version 4) in canonical lower-case form.
std::optional<std::string> newJobId() {
  unsigned char bytes[16];
  if (::getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) return std::nullopt;
  bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0f) | 0x40);
  bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3f) | 0x80);
  static constexpr char kHex[] = "0123456789abcdef";
  std::string id;
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) id += '-';
    id += kHex[bytes[i] >> 4];
    id += kHex[bytes[i] & 0xf];
  }
  return id;
}

// Writes one file of the job the way the program wants it: atomically, mode
// 0600, and passing the program's own private file check afterwards.
bool writeJobFile(const platform::Directory& directory, std::string_view name, std::string_view bytes,
                  std::int64_t maxSize) {
  const platform::FileLocation location = platform::childOf(directory, name);
  return platform::writeFileAtomically(location, bytes, kFileMode) && privateFile(location, maxSize);
}

bool sameItem(int a, int b) {
  struct stat first {}, second {};
  return ::fstat(a, &first) == 0 && ::fstat(b, &second) == 0 && first.st_dev == second.st_dev &&
         first.st_ino == second.st_ino;
}

}  // namespace

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

std::string errorText(int error) { return std::error_code(error, std::generic_category()).message(); }

Refusal refusalFor(const RuleBreach& breach) { return {apiReason(breach.reason), reasonSentence(breach)}; }

std::string toolDirectoryFor(support_draft_channel channel) {
  return *toolDirectoryName(channel == SUPPORT_DRAFT_CHANNEL_DEV ? "dev" : "prod");
}

std::string draftsPath(const std::string& home, const std::string& toolDirectory) {
  return platform::appendingPathComponent(platform::appendingPathComponent(home, toolDirectory), kDraftsDirectory);
}

JobIdentity defaultIdentity(support_draft_channel channel) {
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
  found.identity = JobIdentity{identity.channel == "dev" ? SUPPORT_DRAFT_CHANNEL_DEV : SUPPORT_DRAFT_CHANNEL_PROD,
                               std::move(identity.toolDirectory), std::move(identity.subjectPrefix)};
  return found;
}

std::optional<std::string> homeFor(const std::string& given, Refusal& refusal) {
  std::string home = given;
  if (given.empty()) {
    const JobHome chosen = jobHome(platform::homeFacts());
    if (!chosen.home) {
      refusal = refusalFor(*chosen.breach);
      return std::nullopt;
    }
    home = *chosen.home;
  } else if (given.front() != '/') {
    refusal = {SUPPORT_DRAFT_REASON_HOME_NOT_ABSOLUTE, "the home directory is not an absolute path: " + given};
    return std::nullopt;
  }
  // The job directory's path is printed and written as JSON text, which a
  // path that is not UTF-8 has no form in.
  if (const auto breach = hostHomeBreach(home)) {
    refusal = refusalFor(*breach);
    return std::nullopt;
  }
  return platform::standardizedPath(home);
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
      drafts.refusal = {SUPPORT_DRAFT_REASON_DIRECTORY_NOT_MADE,
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

Prepared namedJob(support_draft_channel channel, const std::string& home, const std::string& id) {
  Prepared named;
  const auto standard = homeFor(home, named.refusal);
  if (!standard) return named;
  if (!isCanonicalJobId(id)) {
    named.refusal = refusalFor({Reason::jobIdInvalid, id});
    return named;
  }
  named.job = JobOnDisk{id,      jobDirectoryPath(*standard, toolDirectoryFor(channel), id), *standard, channel,
                        toolDirectoryFor(channel), std::string(kSubjectPrefix)};
  return named;
}

Prepared jobAtDirectory(const std::string& directory) {
  Prepared named;
  const std::string path = directory.empty() || directory.front() != '/' ? directory
                                                                         : platform::standardizedPath(directory);
  // <home>/<tool directory>/support-drafts/<job id>
  std::string_view rest = path;
  std::string parts[3];
  for (std::string& part : parts) {
    const std::size_t slash = rest.rfind('/');
    if (slash == std::string_view::npos || slash == 0) break;
    part = std::string(rest.substr(slash + 1));
    rest = rest.substr(0, slash);
  }
  for (const support_draft_channel channel : {SUPPORT_DRAFT_CHANNEL_DEV, SUPPORT_DRAFT_CHANNEL_PROD}) {
    if (parts[2] == toolDirectoryFor(channel) && parts[1] == kDraftsDirectory && !rest.empty()) {
      return namedJob(channel, std::string(rest), parts[0]);
    }
  }
  // A tool directory of an application's own bundle: which channel and
  // which subject prefix its jobs have is the bundle's to say, not the path's.
  if (isValidToolDirectory(parts[2]) && parts[1] == kDraftsDirectory && !rest.empty()) {
    named = namedJob(SUPPORT_DRAFT_CHANNEL_PROD, std::string(rest), parts[0]);
    if (named.job) {
      named.job->toolDirectory = parts[2];
      named.job->subjectPrefix.clear();
      named.job->directory = jobDirectoryPath(named.job->home, parts[2], parts[0]);
    }
    return named;
  }
  named.refusal = {SUPPORT_DRAFT_REASON_NOT_A_JOB_DIRECTORY,
                   "not a job directory (<home>/<tool directory>/support-drafts/<job id>): " + directory};
  return named;
}

Prepared prepareJob(const JobIdentity& identity, const std::string& givenHome, const JobText& text) {
  Prepared preparation;
  const JobDocumentMaking document =
      makeJobDocument(text.subject, text.body, text.log.has_value(), identity.subjectPrefix);
  if (!document.bytes) {
    preparation.refusal = refusalFor(*document.breach);
    return preparation;
  }
  // The log is given as bytes here; the rule's limit is the one the program
  // applies to log.txt.
  if (text.log && text.log->size() > static_cast<std::size_t>(kMaxLogSize)) {
    preparation.refusal = refusalFor({Reason::logTooLarge, ""});
    return preparation;
  }
  const auto home = homeFor(givenHome, preparation.refusal);
  if (!home) return preparation;

  DraftsDirectory drafts = openDraftsDirectory(*home, identity.toolDirectory, true);
  if (!drafts.directory) {
    preparation.refusal = drafts.refusal;
    return preparation;
  }
  JobOnDisk job{"", "", *home, identity.channel, identity.toolDirectory, identity.subjectPrefix};
  // mkdir either makes the directory or fails: a job id that another host
  // took a moment earlier is simply drawn again.
  for (int attempt = 0; attempt < kJobIdAttempts && job.id.empty(); ++attempt) {
    const auto id = newJobId();
    if (!id) break;
    if (makePrivateDirectory(drafts.directory->fd(), *id)) job.id = *id;
    else if (errno != EEXIST) break;
  }
  if (job.id.empty()) {
    preparation.refusal = {SUPPORT_DRAFT_REASON_JOB_NOT_WRITTEN, "no job directory could be made in " +
                                                                     drafts.directory->path() + ": " +
                                                                     errorText(errno)};
    return preparation;
  }
  job.directory = jobDirectoryPath(*home, identity.toolDirectory, job.id);

  bool written = false;
  {
    const DirectoryOpening held = openPrivateLevel(*drafts.directory, job.id);
    written = held.directory && stillAt(job.directory, *held.directory) &&
              (!text.log || writeJobFile(*held.directory, kLogName, *text.log, kMaxLogSize)) &&
              writeJobFile(*held.directory, kJobDocumentName, *document.bytes, kMaxJobDocumentSize);
  }
  if (!written) {
    // Out of descriptors even for the removal, the directory just made may
    // still be empty, and removing an empty directory needs none.
    if (!removeJobDirectory(drafts.directory->fd(), job.id)) {
      ::unlinkat(drafts.directory->fd(), job.id.c_str(), AT_REMOVEDIR);
    }
    preparation.refusal = {SUPPORT_DRAFT_REASON_JOB_NOT_WRITTEN, "the job could not be written to " + job.directory};
    return preparation;
  }
  preparation.job = std::move(job);
  return preparation;
}

}  // namespace support_draft::host_side
