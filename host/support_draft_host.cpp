#include "support_draft_host.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <system_error>
#include <vector>

// The program's own rules and checks, linked in rather than written again.
#include "files/private_file.h"
#include "job/job_contract.h"
#include "job/job_document.h"
#include "platform/directory.h"
#include "platform/file_io.h"
#include "platform/home.h"
#include "platform/paths.h"
#include "platform/unique_fd.h"

extern char** environ;

namespace support_draft {
namespace {

using platform::UniqueFd;

constexpr unsigned kDirectoryMode = 0700;
constexpr unsigned kFileMode = 0600;
constexpr std::int64_t kMaxResultSize = 4096;
constexpr int kJobIdAttempts = 16;
constexpr int kCouldNotStart = 127;

std::string errorText(int error) { return std::error_code(error, std::generic_category()).message(); }

std::string toolDirectoryFor(Channel channel) {
  return *toolDirectoryName(channel == Channel::dev ? "dev" : "prod");
}

// ---------------------------------------------------------------------------
// The texts

std::string textRefusal(JobTextProblem problem) {
  switch (problem) {
    case JobTextProblem::none:
      return "";
    case JobTextProblem::subjectWithoutPrefix:
      return "the subject must begin with \"" + std::string(kSubjectPrefix) + "\"";
    case JobTextProblem::subjectTooLong:
      return "the subject is too long: at most " + std::to_string(kMaxSubjectSize) + " bytes of UTF-8";
    case JobTextProblem::subjectHoldsNul:
      return "the subject contains U+0000";
    case JobTextProblem::bodyTooLong:
      return "the body is too long: at most " + std::to_string(kMaxBodySize) + " bytes of UTF-8";
    case JobTextProblem::bodyHoldsNul:
      return "the body contains U+0000";
  }
  return "the texts break a rule of the job document";
}

// The job document for the request, or why the program would not take it.
std::optional<std::string> jobDocumentFor(const DraftRequest& request, std::string& refusal) {
  refusal = textRefusal(jobTextProblem(request.subject, request.body));
  if (!refusal.empty()) return std::nullopt;
  if (request.log && request.log->size() > static_cast<std::size_t>(kMaxLogSize)) {
    refusal = "the log is too large: " + std::to_string(request.log->size()) + " bytes, at most " +
              std::to_string(kMaxLogSize);
    return std::nullopt;
  }
  auto bytes = jobDocumentBytes(request.subject, request.body, request.log.has_value());
  if (!bytes) {
    refusal = "the subject or the body is not valid UTF-8";
    return std::nullopt;
  }
  if (bytes->size() > static_cast<std::size_t>(kMaxJobDocumentSize)) {
    refusal = "the job document would hold " + std::to_string(bytes->size()) + " bytes, at most " +
              std::to_string(kMaxJobDocumentSize) + " (control characters are written as 6-byte escapes)";
    return std::nullopt;
  }
  if (!acceptJobDocument(*bytes)) {
    refusal = "the program would not accept the job document";
    return std::nullopt;
  }
  return bytes;
}

// ---------------------------------------------------------------------------
// The directories, from the root down to the job directory

// Why the program would not trust this directory of the chain; empty when
// it would. Above the home directory only links count: those directories
// are the administrator's.
std::string directoryRefusal(const struct stat& facts, const std::string& path, bool homeOrBelow) {
  if (S_ISLNK(facts.st_mode)) return path + " is a symbolic link: the job directory's path must hold none";
  if (!S_ISDIR(facts.st_mode)) return path + " is not a directory";
  if (!homeOrBelow) return "";
  const uid_t user = ::geteuid();
  if (facts.st_uid != user && facts.st_uid != 0) {
    return path + " belongs to user " + std::to_string(facts.st_uid) + ", not to user " + std::to_string(user) +
           " or root";
  }
  if ((facts.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(facts.st_mode & 07777));
    return path + " is writable by group or others (mode " + mode + ")";
  }
  return "";
}

struct Opened {
  UniqueFd fd;
  bool missing = false;
  std::string refusal;
};

// Opens `name` in `parent` without following a link and judges it on the
// descriptor it holds, so what was judged is what is used afterwards.
Opened openChecked(int parent, const std::string& name, const std::string& path, bool homeOrBelow) {
  Opened opened;
  opened.fd = UniqueFd(::openat(parent, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
  struct stat facts {};
  if (!opened.fd) {
    opened.missing = errno == ENOENT;
    opened.refusal = path + (opened.missing ? " does not exist" : " cannot be opened: " + errorText(errno));
  } else if (::fstat(opened.fd.get(), &facts) != 0) {
    opened.refusal = path + " cannot be examined: " + errorText(errno);
  } else {
    opened.refusal = directoryRefusal(facts, path, homeOrBelow);
  }
  if (!opened.refusal.empty()) opened.fd.reset();
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
    opened.refusal = path + " cannot be made: " + errorText(errno);
    return opened;
  }
  return openChecked(parent, name, path, true);
}

struct Chain {
  UniqueFd drafts;  // <home>/<tool directory>/support-drafts
  std::string refusal;
};

// Walks from the root to the support-drafts directory of the place.
Chain openDraftsDirectory(const std::string& home, const std::string& toolDirectory, bool create) {
  Chain chain;
  UniqueFd current(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!current) {
    chain.refusal = "the root directory cannot be opened: " + errorText(errno);
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
    if (!next.fd) {
      chain.refusal = next.refusal;
      return chain;
    }
    current = std::move(next.fd);
  }
  for (const std::string& component : {toolDirectory, std::string(kDraftsDirectory)}) {
    path = platform::appendingPathComponent(path, component);
    Opened next = openOrMake(current.get(), component, path, create);
    if (!next.fd) {
      chain.refusal = next.refusal;
      return chain;
    }
    current = std::move(next.fd);
  }
  chain.drafts = std::move(current);
  return chain;
}

// The home directory for a place, standardised: HOME or the password entry
// when the place names none, as the program does.
std::optional<std::string> homeFor(const JobPlace& place, std::string& refusal) {
  const auto home = place.home.empty() ? platform::homeDirectory() : std::optional<std::string>(place.home);
  if (!home || home->empty() || home->front() != '/') {
    refusal = "no home directory: HOME is not an absolute path and the password entry gives none";
    return std::nullopt;
  }
  const std::string standard = platform::standardizedPath(*home);
  if (standard == "/") {
    refusal = "the home directory cannot be the root directory";
    return std::nullopt;
  }
  return standard;
}

struct JobChain {
  UniqueFd drafts;
  UniqueFd job;
  std::string refusal;
};

// The checks of the whole chain for an existing job.
JobChain openJobChain(const PreparedJob& job) {
  JobChain chain;
  if (!isCanonicalJobId(job.id)) {
    chain.refusal = "\"" + job.id + "\" is not a job id";
    return chain;
  }
  std::string home = job.place.home;
  Chain drafts = openDraftsDirectory(home, toolDirectoryFor(job.place.channel), false);
  if (!drafts.drafts) {
    chain.refusal = drafts.refusal;
    return chain;
  }
  chain.drafts = std::move(drafts.drafts);
  Opened opened = openChecked(chain.drafts.get(), job.id, job.directory, true);
  chain.job = std::move(opened.fd);
  chain.refusal = opened.refusal;
  return chain;
}

bool sameItem(int a, int b) {
  struct stat first {}, second {};
  return ::fstat(a, &first) == 0 && ::fstat(b, &second) == 0 && first.st_dev == second.st_dev &&
         first.st_ino == second.st_ino;
}

// The job directory as the program's own code sees it (opened along its
// path without following links), when it is the directory held.
std::optional<platform::Directory> programView(const std::string& path, const UniqueFd& held) {
  auto directory = platform::Directory::openWithoutLinks(path);
  if (!directory || !sameItem(directory->fd(), held.get())) return std::nullopt;
  return directory;
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

// Removes the files of a job directory and the directory itself, never
// following a link (a link is removed, not what it points to).
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

// Writes one file of the job the way the program wants it: atomically, mode
// 0600, and passing the program's own private file check afterwards.
bool writeJobFile(const platform::Directory& directory, std::string_view name, std::string_view bytes,
                  std::int64_t maxSize) {
  const platform::FileLocation location = platform::childOf(directory, name);
  return platform::writeFileAtomically(location, bytes, kFileMode) && privateFile(location, maxSize);
}

// ---------------------------------------------------------------------------
// Running the program

struct Finish {
  bool timedOut = false;
  bool started = false;
  std::optional<int> waitStatus;  // the program's, when the watcher could tell
};

std::vector<char*> pointersTo(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

// Starts the program through a watcher process that the host does not have
// to reap: the host's own child exits at once, the watcher waits for the
// program and then reports its wait status through a pipe. A program still
// running at the time bound is left to the watcher, and no zombie stays
// with the host. After fork only async-signal-safe calls are made, since the
// host may have other threads.
Finish startAndWait(std::vector<std::string> arguments, std::vector<std::string> environment,
                    std::chrono::milliseconds timeBound) {
  Finish finish;
  std::vector<char*> argv = pointersTo(arguments);
  std::vector<char*> envp = pointersTo(environment);
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) return finish;
  UniqueFd reading(report[0]);
  UniqueFd writing(report[1]);

  const pid_t middle = ::fork();
  if (middle == 0) {
    if (::fork() != 0) ::_exit(0);
    // The program prints nothing in job mode, and one left running past the
    // time bound must not hold the host's own pipes open (a host that reads
    // this command's output to its end would wait for it): the standard
    // streams become /dev/null. Beyond them the watcher keeps only its end
    // of the pipe.
    const int nothing = ::open("/dev/null", O_RDWR);
    if (nothing < 0) ::_exit(0);
    for (int stream = STDIN_FILENO; stream <= STDERR_FILENO; ++stream) {
      if (nothing != stream && ::dup2(nothing, stream) < 0) ::_exit(0);
    }
    ::close_range(STDERR_FILENO + 1, static_cast<unsigned>(report[1]) - 1, 0);
    ::close_range(static_cast<unsigned>(report[1]) + 1, ~0U, 0);
    struct sigaction defaultAction {};
    defaultAction.sa_handler = SIG_DFL;
    ::sigaction(SIGCHLD, &defaultAction, nullptr);
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    const pid_t program = ::fork();
    if (program == 0) {
      ::execve(argv[0], argv.data(), envp.data());
      ::_exit(kCouldNotStart);
    }
    int status = -1;
    while (program > 0 && ::waitpid(program, &status, 0) < 0 && errno == EINTR) {
    }
    [[maybe_unused]] const ssize_t written = ::write(report[1], &status, sizeof status);
    ::_exit(0);
  }
  writing.reset();
  if (middle < 0) return finish;
  finish.started = true;
  // With SIGCHLD ignored by the host the middle process is reaped by the
  // system and this fails with ECHILD, which is fine.
  while (::waitpid(middle, nullptr, 0) < 0 && errno == EINTR) {
  }

  const auto deadline = std::chrono::steady_clock::now() + timeBound;
  while (true) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      finish.timedOut = true;
      return finish;
    }
    pollfd wanted{reading.get(), POLLIN, 0};
    const int ready = ::poll(&wanted, 1, static_cast<int>(std::min<long long>(left.count(), 60'000)));
    if (ready < 0 && errno != EINTR) return finish;
    if (ready > 0) break;
  }
  int status = -1;
  if (::read(reading.get(), &status, sizeof status) == static_cast<ssize_t>(sizeof status) && status != -1) {
    finish.waitStatus = status;
  }
  return finish;
}

std::vector<std::string> environmentWithHome(const std::string& home) {
  std::vector<std::string> environment;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    const std::string text = *entry;
    if (text.rfind("HOME=", 0) != 0) environment.push_back(text);
  }
  environment.push_back("HOME=" + home);
  return environment;
}

// What the host-side checks say about a job that ended without a result.
std::string explainNoResult(const PreparedJob& job, const Finish& finish) {
  if (finish.waitStatus && WIFEXITED(*finish.waitStatus) && WEXITSTATUS(*finish.waitStatus) == kCouldNotStart) {
    return "the program could not be started";
  }
  if (finish.waitStatus && WIFSIGNALED(*finish.waitStatus)) {
    return "the program was ended by signal " + std::to_string(WTERMSIG(*finish.waitStatus));
  }
  const JobChain chain = openJobChain(job);
  if (!chain.job) return chain.refusal;
  const auto directory = programView(job.directory, chain.job);
  if (!directory) return job.directory + " changed while the program ran";
  if (!readJobDocument(*directory)) {
    return std::string(kJobDocumentName) + " is missing, not private to the user, too large or not valid";
  }
  struct statvfs fileSystem {};
  if (::faccessat(directory->fd(), ".", W_OK | X_OK, AT_EACCESS) != 0 ||
      (::fstatvfs(directory->fd(), &fileSystem) == 0 && (fileSystem.f_flag & ST_RDONLY) != 0)) {
    return "nothing can be written in " + job.directory;
  }
  return "the host-side checks found nothing wrong: is the bundle built for the job's channel?";
}

}  // namespace

Preparation prepareJob(const JobPlace& place, const DraftRequest& request) {
  Preparation preparation;
  const auto document = jobDocumentFor(request, preparation.refusal);
  if (!document) return preparation;
  const auto home = homeFor(place, preparation.refusal);
  if (!home) return preparation;

  Chain chain = openDraftsDirectory(*home, toolDirectoryFor(place.channel), true);
  if (!chain.drafts) {
    preparation.refusal = chain.refusal;
    return preparation;
  }
  PreparedJob job;
  job.place = JobPlace{place.channel, *home};
  // mkdir either makes the directory or fails: a job id that another host
  // took a moment earlier is simply drawn again.
  for (int attempt = 0; attempt < kJobIdAttempts && job.id.empty(); ++attempt) {
    const auto id = newJobId();
    if (!id) break;
    if (makePrivateDirectory(chain.drafts.get(), *id)) job.id = *id;
    else if (errno != EEXIST) break;
  }
  const std::string draftsPath = platform::appendingPathComponent(
      platform::appendingPathComponent(*home, toolDirectoryFor(place.channel)), kDraftsDirectory);
  if (job.id.empty()) {
    preparation.refusal = "no job directory could be made in " + draftsPath + ": " + errorText(errno);
    return preparation;
  }
  job.directory = platform::appendingPathComponent(draftsPath, job.id);

  Opened held = openChecked(chain.drafts.get(), job.id, job.directory, true);
  const auto directory = held.fd ? programView(job.directory, held.fd) : std::nullopt;
  const bool written = directory && (!request.log || writeJobFile(*directory, kLogName, *request.log, kMaxLogSize)) &&
                       writeJobFile(*directory, kJobDocumentName, *document, kMaxJobDocumentSize);
  if (!written) {
    removeJobDirectory(chain.drafts.get(), job.id);
    preparation.refusal = "the job could not be written to " + job.directory;
    return preparation;
  }
  preparation.job = std::move(job);
  return preparation;
}

RunReport runJob(const std::string& bundlePath, const PreparedJob& job, std::chrono::milliseconds timeBound) {
  RunReport report;
  const JobChain chain = openJobChain(job);
  if (!chain.job) {
    report.explanation = "not run: " + chain.refusal;
    return report;
  }
  // An earlier answer must not pass for this run's.
  if (::unlinkat(chain.job.get(), std::string(kResultName).c_str(), 0) != 0 && errno != ENOENT) {
    report.explanation = "not run: the earlier " + std::string(kResultName) + " cannot be removed: " + errorText(errno);
    return report;
  }
  const std::string executable =
      platform::appendingPathComponent(platform::appendingPathComponent(bundlePath, "Contents/MacOS"), "support-draft");
  const Finish finish = startAndWait({executable, "--job", job.id}, environmentWithHome(job.place.home), timeBound);
  if (!finish.started) {
    report.explanation = "the program could not be started";
    return report;
  }
  if (finish.timedOut) {
    report.outcome = Outcome::timedOut;
    return report;
  }
  const auto directory = programView(job.directory, chain.job);
  const auto bytes = directory ? readPrivateFile(platform::childOf(*directory, kResultName), kMaxResultSize)
                               : std::nullopt;
  if (!bytes) {
    report.explanation = explainNoResult(job, finish);
    return report;
  }
  switch (readResultDocument(*bytes)) {
    case ResultReading::opened:
      report.outcome = Outcome::opened;
      break;
    case ResultReading::permissionDenied:
      report.outcome = Outcome::permissionDenied;
      break;
    case ResultReading::failed:
    case ResultReading::unknown:
      report.outcome = Outcome::failed;
      break;
  }
  return report;
}

bool removeJob(const PreparedJob& job) {
  const JobChain chain = openJobChain(job);
  if (!chain.drafts) return false;
  return removeJobDirectory(chain.drafts.get(), job.id);
}

const char* outcomeName(Outcome outcome) {
  switch (outcome) {
    case Outcome::opened:
      return "opened";
    case Outcome::permissionDenied:
      return "permissionDenied";
    case Outcome::failed:
      return "failed";
    case Outcome::noResult:
      return "noResult";
    case Outcome::timedOut:
      return "timedOut";
  }
  return "noResult";
}

}  // namespace support_draft
