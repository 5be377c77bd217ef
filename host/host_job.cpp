#include "host_job.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <system_error>
#include <vector>

// The program's own rules and checks, linked in rather than written again.
#include "files/private_file.h"
#include "host_log.h"
#include "job/job_contract.h"
#include "job/job_document.h"
#include "platform/file_io.h"
#include "platform/home.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace support_draft::host_side {
namespace {

using platform::UniqueFd;

constexpr unsigned kDirectoryMode = 0700;
constexpr unsigned kFileMode = 0600;
constexpr int kJobIdAttempts = 16;

std::string errorText(int error) { return std::error_code(error, std::generic_category()).message(); }

Refusal refused(support_draft_reason reason, std::string text) { return {reason, std::move(text)}; }

std::string toolDirectoryFor(support_draft_channel channel) {
  return *toolDirectoryName(channel == SUPPORT_DRAFT_CHANNEL_DEV ? "dev" : "prod");
}

// ---------------------------------------------------------------------------
// The texts

Refusal textRefusal(JobTextProblem problem) {
  switch (problem) {
    case JobTextProblem::none:
      return {};
    case JobTextProblem::subjectWithoutPrefix:
      return refused(SUPPORT_DRAFT_REASON_SUBJECT_PREFIX,
                     "the subject must begin with \"" + std::string(kSubjectPrefix) + "\"");
    case JobTextProblem::subjectTooLong:
      return refused(SUPPORT_DRAFT_REASON_SUBJECT_TOO_LONG,
                     "the subject is too long: at most " + std::to_string(kMaxSubjectSize) + " bytes of UTF-8");
    case JobTextProblem::subjectHoldsNul:
      return refused(SUPPORT_DRAFT_REASON_SUBJECT_HOLDS_NUL, "the subject contains U+0000");
    case JobTextProblem::bodyTooLong:
      return refused(SUPPORT_DRAFT_REASON_BODY_TOO_LONG,
                     "the body is too long: at most " + std::to_string(kMaxBodySize) + " bytes of UTF-8");
    case JobTextProblem::bodyHoldsNul:
      return refused(SUPPORT_DRAFT_REASON_BODY_HOLDS_NUL, "the body contains U+0000");
  }
  return refused(SUPPORT_DRAFT_REASON_JOB_NOT_WRITTEN, "the texts break a rule of the job document");
}

// The job document for the texts, or why the program would not take it.
std::optional<std::string> jobDocumentFor(const JobText& text, std::string_view log, Refusal& refusal) {
  refusal = textRefusal(jobTextProblem(text.subject, text.body));
  if (refusal) return std::nullopt;
  if (text.log && log.size() > static_cast<std::size_t>(kMaxLogSize)) {
    refusal = refused(SUPPORT_DRAFT_REASON_LOG_TOO_LARGE, "the log is too large: " + std::to_string(log.size()) +
                                                              " bytes, at most " + std::to_string(kMaxLogSize));
    return std::nullopt;
  }
  auto bytes = jobDocumentBytes(text.subject, text.body, text.log.has_value());
  if (!bytes) {
    refusal = platform::isValidUtf8(text.subject)
                  ? refused(SUPPORT_DRAFT_REASON_BODY_NOT_UTF8, "the body is not valid UTF-8")
                  : refused(SUPPORT_DRAFT_REASON_SUBJECT_NOT_UTF8, "the subject is not valid UTF-8");
    return std::nullopt;
  }
  if (bytes->size() > static_cast<std::size_t>(kMaxJobDocumentSize)) {
    refusal = refused(SUPPORT_DRAFT_REASON_JOB_DOCUMENT_TOO_LARGE,
                      "the job document would hold " + std::to_string(bytes->size()) + " bytes, at most " +
                          std::to_string(kMaxJobDocumentSize) +
                          " (control characters are written as 6-byte escapes)");
    return std::nullopt;
  }
  if (!acceptJobDocument(*bytes)) {
    refusal = refused(SUPPORT_DRAFT_REASON_JOB_NOT_WRITTEN, "the program would not accept the job document");
    return std::nullopt;
  }
  return bytes;
}

// ---------------------------------------------------------------------------
// The directories, from the root down to the job directory

// Why the program would not trust this directory of the chain. Above the
// home directory only links count: those directories are the
// administrator's.
Refusal directoryRefusal(const struct stat& facts, const std::string& path, bool homeOrBelow) {
  if (S_ISLNK(facts.st_mode)) {
    return refused(SUPPORT_DRAFT_REASON_DIRECTORY_LINKED,
                   path + " is a symbolic link: the job directory's path must hold none");
  }
  if (!S_ISDIR(facts.st_mode)) return refused(SUPPORT_DRAFT_REASON_DIRECTORY_NOT_DIRECTORY, path + " is not a directory");
  if (!homeOrBelow) return {};
  const uid_t user = ::geteuid();
  if (facts.st_uid != user && facts.st_uid != 0) {
    return refused(SUPPORT_DRAFT_REASON_DIRECTORY_NOT_OWNED, path + " belongs to user " +
                                                                 std::to_string(facts.st_uid) + ", not to user " +
                                                                 std::to_string(user) + " or root");
  }
  if ((facts.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(facts.st_mode & 07777));
    return refused(SUPPORT_DRAFT_REASON_DIRECTORY_WRITABLE_BY_OTHERS,
                   path + " is writable by group or others (mode " + mode + ")");
  }
  return {};
}

struct Opened {
  UniqueFd fd;
  bool missing = false;
  Refusal refusal;
};

// Opens `name` in `parent` without following a link and judges it on the
// descriptor it holds, so what was judged is what is used afterwards.
Opened openChecked(int parent, const std::string& name, const std::string& path, bool homeOrBelow) {
  Opened opened;
  opened.fd = UniqueFd(::openat(parent, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
  struct stat facts {};
  if (!opened.fd) {
    opened.missing = errno == ENOENT;
    opened.refusal = refused(SUPPORT_DRAFT_REASON_DIRECTORY_UNUSABLE,
                             path + (opened.missing ? " does not exist" : " cannot be opened: " + errorText(errno)));
  } else if (::fstat(opened.fd.get(), &facts) != 0) {
    opened.refusal = refused(SUPPORT_DRAFT_REASON_DIRECTORY_UNUSABLE, path + " cannot be examined: " + errorText(errno));
  } else {
    opened.refusal = directoryRefusal(facts, path, homeOrBelow);
  }
  if (opened.refusal) opened.fd.reset();
  return opened;
}

// Makes a directory of mode 0700 whatever the umask; false when it cannot
// be made (also when something else stands there already).
bool makePrivateDirectory(int parent, const std::string& name) {
  if (::mkdirat(parent, name.c_str(), kDirectoryMode) != 0) return false;
  UniqueFd made(::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  return made && ::fchmod(made.get(), kDirectoryMode) == 0;
}

// Opens a directory below the home directory; a missing one is made first
// when `create` is set. Another host may make it at the same moment: then
// theirs is judged like any existing directory.
Opened openOrMake(int parent, const std::string& name, const std::string& path, bool create) {
  Opened opened = openChecked(parent, name, path, true);
  if (!opened.missing || !create) return opened;
  if (!makePrivateDirectory(parent, name) && errno != EEXIST) {
    opened.refusal = refused(SUPPORT_DRAFT_REASON_DIRECTORY_UNUSABLE, path + " cannot be made: " + errorText(errno));
    return opened;
  }
  return openChecked(parent, name, path, true);
}

// Where the home directory came from, for a refusal that names it.
std::string homeSource(const std::string& home) {
  const char* variable = std::getenv("HOME");
  return variable != nullptr && platform::standardizedPath(variable) == home ? " (HOME)" : "";
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

std::string draftsPath(const std::string& home, support_draft_channel channel) {
  return platform::appendingPathComponent(platform::appendingPathComponent(home, toolDirectoryFor(channel)),
                                          kDraftsDirectory);
}

std::optional<std::string> homeFor(const std::string& given, Refusal& refusal) {
  const auto home = given.empty() ? platform::homeDirectory() : std::optional<std::string>(given);
  if (!home || home->empty() || home->front() != '/') {
    refusal = refused(SUPPORT_DRAFT_REASON_HOME_MISSING,
                      given.empty() ? "no home directory: HOME is not an absolute path and the password entry gives none"
                                    : "the home directory " + given + " is not an absolute path");
    return std::nullopt;
  }
  // The job directory's path is printed and written as JSON text, which a
  // path that is not UTF-8 has no form in.
  if (!platform::isValidUtf8(*home)) {
    refusal = refused(SUPPORT_DRAFT_REASON_HOME_NOT_UTF8, "the home directory's path is not valid UTF-8");
    return std::nullopt;
  }
  const std::string standard = platform::standardizedPath(*home);
  if (standard == "/") {
    refusal = refused(SUPPORT_DRAFT_REASON_HOME_IS_ROOT, "the home directory cannot be the root directory");
    return std::nullopt;
  }
  return standard;
}

DraftsDirectory openDraftsDirectory(const std::string& home, support_draft_channel channel, bool create) {
  DraftsDirectory chain;
  UniqueFd current(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!current) {
    chain.refusal = refused(SUPPORT_DRAFT_REASON_DIRECTORY_UNUSABLE,
                            "the root directory cannot be opened: " + errorText(errno));
    return chain;
  }
  std::string path;
  std::size_t start = 1;
  while (start < home.size()) {
    const std::size_t end = std::min(home.find('/', start), home.size());
    const std::string component = home.substr(start, end - start);
    start = end + 1;
    path += "/" + component;
    Opened next = openChecked(current.get(), component, path, end == home.size());
    if (next.missing) {
      chain.refusal = refused(SUPPORT_DRAFT_REASON_HOME_MISSING,
                              "the home directory " + home + homeSource(home) + " does not exist" +
                                  (path == home ? "" : ": " + path + " is missing"));
      return chain;
    }
    if (!next.fd) {
      chain.refusal = next.refusal;
      return chain;
    }
    current = std::move(next.fd);
  }
  for (const std::string& component : {toolDirectoryFor(channel), std::string(kDraftsDirectory)}) {
    path = platform::appendingPathComponent(path, component);
    Opened next = openOrMake(current.get(), component, path, create);
    if (!next.fd) {
      chain.missing = next.missing;
      chain.refusal = next.refusal;
      return chain;
    }
    current = std::move(next.fd);
  }
  chain.fd = std::move(current);
  return chain;
}

JobChain openJobChain(const JobOnDisk& job) {
  JobChain chain;
  if (!isCanonicalJobId(job.id)) {
    chain.refusal = refused(SUPPORT_DRAFT_REASON_NOT_A_JOB, "\"" + job.id + "\" is not a job id");
    return chain;
  }
  DraftsDirectory drafts = openDraftsDirectory(job.home, job.channel, false);
  if (!drafts.fd) {
    chain.refusal = drafts.refusal;
    return chain;
  }
  chain.drafts = std::move(drafts.fd);
  Opened opened = openChecked(chain.drafts.get(), job.id, job.directory, true);
  chain.job = std::move(opened.fd);
  chain.refusal = opened.refusal;
  return chain;
}

std::optional<platform::Directory> programView(const std::string& path, const UniqueFd& held) {
  auto directory = platform::Directory::openWithoutLinks(path);
  if (!directory || !sameItem(directory->fd(), held.get())) return std::nullopt;
  return directory;
}

bool removeJobDirectory(int drafts, const std::string& id) {
  UniqueFd listing(::openat(drafts, id.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!listing) return errno == ENOENT;
  std::vector<std::string> names;
  {
    const int forListing = ::dup(listing.get());
    DIR* entries = forListing < 0 ? nullptr : ::fdopendir(forListing);
    if (entries == nullptr) {
      if (forListing >= 0) ::close(forListing);
      return false;
    }
    while (const dirent* entry = ::readdir(entries)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(entries);
  }
  for (const std::string& name : names) {
    if (::unlinkat(listing.get(), name.c_str(), 0) != 0 && errno != ENOENT) return false;
  }
  return ::unlinkat(drafts, id.c_str(), AT_REMOVEDIR) == 0;
}

bool removeJob(const JobOnDisk& job) {
  const JobChain chain = openJobChain(job);
  if (!chain.drafts) return false;
  return removeJobDirectory(chain.drafts.get(), job.id);
}

Prepared namedJob(support_draft_channel channel, const std::string& home, const std::string& id) {
  Prepared named;
  const auto standard = homeFor(home, named.refusal);
  if (!standard) return named;
  if (!isCanonicalJobId(id)) {
    named.refusal = refused(SUPPORT_DRAFT_REASON_NOT_A_JOB, "\"" + id + "\" is not a job id");
    return named;
  }
  named.job = JobOnDisk{id, platform::appendingPathComponent(draftsPath(*standard, channel), id), *standard, channel};
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
  named.refusal = refused(SUPPORT_DRAFT_REASON_NOT_A_JOB,
                          directory + " is not a job directory (<home>/<tool directory>/support-drafts/<job id>)");
  return named;
}

Prepared prepareJob(support_draft_channel channel, const std::string& givenHome, const JobText& text) {
  Prepared preparation;
  std::string_view log = text.log.value_or(std::string_view());
  if (text.log && text.logTail) log = log.substr(logTailStart(log, static_cast<std::size_t>(kMaxLogSize)));
  const auto document = jobDocumentFor(text, log, preparation.refusal);
  if (!document) return preparation;
  const auto home = homeFor(givenHome, preparation.refusal);
  if (!home) return preparation;

  DraftsDirectory chain = openDraftsDirectory(*home, channel, true);
  if (!chain.fd) {
    preparation.refusal = chain.refusal;
    return preparation;
  }
  JobOnDisk job{"", "", *home, channel};
  // mkdir either makes the directory or fails: a job id that another host
  // took a moment earlier is simply drawn again.
  for (int attempt = 0; attempt < kJobIdAttempts && job.id.empty(); ++attempt) {
    const auto id = newJobId();
    if (!id) break;
    if (makePrivateDirectory(chain.fd.get(), *id)) job.id = *id;
    else if (errno != EEXIST) break;
  }
  const std::string drafts = draftsPath(*home, channel);
  if (job.id.empty()) {
    preparation.refusal =
        refused(SUPPORT_DRAFT_REASON_JOB_NOT_WRITTEN, "no job directory could be made in " + drafts + ": " + errorText(errno));
    return preparation;
  }
  job.directory = platform::appendingPathComponent(drafts, job.id);

  Opened held = openChecked(chain.fd.get(), job.id, job.directory, true);
  const auto directory = held.fd ? programView(job.directory, held.fd) : std::nullopt;
  const bool written = directory && (!text.log || writeJobFile(*directory, kLogName, log, kMaxLogSize)) &&
                       writeJobFile(*directory, kJobDocumentName, *document, kMaxJobDocumentSize);
  if (!written) {
    removeJobDirectory(chain.fd.get(), job.id);
    preparation.refusal = refused(SUPPORT_DRAFT_REASON_JOB_NOT_WRITTEN, "the job could not be written to " + job.directory);
    return preparation;
  }
  preparation.job = std::move(job);
  return preparation;
}

}  // namespace support_draft::host_side
