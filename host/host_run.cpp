#include "host_run.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <vector>

#include "files/private_file.h"
#include "job/bundle_channel.h"
#include "job/job_contract.h"
#include "job/job_document.h"
#include "platform/paths.h"
#include "running_jobs.h"

extern char** environ;

namespace support_draft::host_side {
namespace {

using platform::UniqueFd;

constexpr std::int64_t kMaxResultSize = 4096;
constexpr int kCouldNotStart = 127;

std::string errorText(int error) { return std::error_code(error, std::generic_category()).message(); }

std::vector<char*> pointersTo(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

// Starts the program through a watcher process that the host does not have
// to reap: the host's own child exits at once, the watcher waits for the
// program and then reports its wait status through a pipe, whose reading
// end is returned. After fork only async-signal-safe calls are made, since
// the host may have other threads.
UniqueFd startWatched(std::vector<std::string> arguments, std::vector<std::string> environment) {
  std::vector<char*> argv = pointersTo(arguments);
  std::vector<char*> envp = pointersTo(environment);
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) return UniqueFd();
  UniqueFd reading(report[0]);
  UniqueFd writing(report[1]);

  const pid_t middle = ::fork();
  if (middle == 0) {
    if (::fork() != 0) ::_exit(0);
    // The program prints nothing in job mode, and one left running past the
    // time bound must not hold the host's own pipes open: the standard
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
  if (middle < 0) return UniqueFd();
  // With SIGCHLD ignored by the host the middle process is reaped by the
  // system and this fails with ECHILD, which is fine.
  while (::waitpid(middle, nullptr, 0) < 0 && errno == EINTR) {
  }
  return reading;
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
// `waitStatus` is the program's, when the watcher could tell it.
std::string explainNoResult(const JobOnDisk& job, std::optional<int> waitStatus) {
  if (waitStatus && WIFEXITED(*waitStatus) && WEXITSTATUS(*waitStatus) == kCouldNotStart) {
    return "the program could not be started";
  }
  if (waitStatus && WIFSIGNALED(*waitStatus)) {
    return "the program was ended by signal " + std::to_string(WTERMSIG(*waitStatus));
  }
  const JobChain chain = openJobChain(job);
  if (!chain.job) return chain.refusal.text;
  const platform::Directory& directory = *chain.job;
  if (const JobDocumentCheck document = checkJobDocumentIn(directory); document.breach) {
    return reasonSentence(*document.breach);
  }
  struct statvfs fileSystem {};
  if (::faccessat(directory.fd(), ".", W_OK | X_OK, AT_EACCESS) != 0 ||
      (::fstatvfs(directory.fd(), &fileSystem) == 0 && (fileSystem.f_flag & ST_RDONLY) != 0)) {
    return "nothing can be written in " + job.directory;
  }
  return "the host-side checks found nothing wrong: is the bundle built for the job's channel?";
}

// The result document of the job directory held, when there is one.
std::optional<support_draft_outcome> resultIn(const JobOnDisk& job, const platform::Directory& held) {
  const auto bytes = stillAt(job.directory, held) ? readPrivateFile(platform::childOf(held, kResultName), kMaxResultSize)
                                                  : std::nullopt;
  if (!bytes) return std::nullopt;
  switch (readResultDocument(*bytes)) {
    case ResultReading::opened:
      return SUPPORT_DRAFT_OUTCOME_OPENED;
    case ResultReading::permissionDenied:
      return SUPPORT_DRAFT_OUTCOME_PERMISSION_DENIED;
    case ResultReading::failed:
    case ResultReading::unknown:
      break;
  }
  return SUPPORT_DRAFT_OUTCOME_FAILED;
}

}  // namespace

Started startJob(const std::string& bundle, const JobOnDisk& job) {
  Started started;
  JobChain chain = openJobChain(job);
  if (!chain.job) {
    started.refusal = chain.refusal;
    return started;
  }
  // Only a bundle that is not there is refused here: one of another
  // channel, or none, is the program's to ignore, and the run then
  // explains the missing result.
  const BundleChannelReading reading = readBundleChannel(bundle);
  if (reading.breach && reading.breach->reason != Reason::bundleChannelUnknown) {
    started.refusal = refusalFor(*reading.breach);
    return started;
  }
  const std::string executable =
      platform::appendingPathComponent(platform::appendingPathComponent(bundle, "Contents/MacOS"), "support-draft");
  // An earlier answer must not pass for this run's.
  if (::unlinkat(chain.job->fd(), std::string(kResultName).c_str(), 0) != 0 && errno != ENOENT) {
    started.refusal = {SUPPORT_DRAFT_REASON_RESULT_NOT_REMOVABLE,
                       "the earlier " + std::string(kResultName) + " cannot be removed: " + errorText(errno)};
    return started;
  }
  UniqueFd ended = startWatched({executable, "--job", job.id}, environmentWithHome(job.home));
  if (!ended) {
    started.refusal = {SUPPORT_DRAFT_REASON_START_FAILED, "the program could not be started: " + errorText(errno)};
    return started;
  }
  started.run = std::make_unique<Run>(Run{job, std::move(chain.job), std::move(ended), std::nullopt});
  return started;
}

Report waitJob(Run& run, std::chrono::milliseconds timeout) {
  if (run.report) return *run.report;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (true) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd wanted{run.ended.get(), POLLIN, 0};
    const int ready = ::poll(&wanted, 1, static_cast<int>(std::clamp<long long>(left.count(), 0, 60'000)));
    if (ready > 0) break;
    if (ready < 0 && errno != EINTR) {
      return Report{SUPPORT_DRAFT_OUTCOME_RUNNING, ""};
    }
    if (ready == 0 && left.count() <= 0) return Report{SUPPORT_DRAFT_OUTCOME_RUNNING, ""};
  }
  int status = -1;
  std::optional<int> waitStatus;
  if (::read(run.ended.get(), &status, sizeof status) == static_cast<ssize_t>(sizeof status) && status != -1) {
    waitStatus = status;
  }
  Report report;
  if (const auto outcome = resultIn(run.job, *run.jobDirectory)) report.outcome = *outcome;
  else report.explanation = explainNoResult(run.job, waitStatus);
  run.report = report;
  return report;
}

Report collectResult(const JobOnDisk& job) {
  const JobChain chain = openJobChain(job);
  if (!chain.job) return Report{SUPPORT_DRAFT_OUTCOME_NO_RESULT, chain.refusal.text};
  if (const auto outcome = resultIn(job, *chain.job)) return Report{*outcome, ""};
  if (jobsBeingRun().count(job.id) != 0) return Report{SUPPORT_DRAFT_OUTCOME_RUNNING, ""};
  // The program may have written its answer just before it ended.
  if (const auto outcome = resultIn(job, *chain.job)) return Report{*outcome, ""};
  return Report{SUPPORT_DRAFT_OUTCOME_NO_RESULT, explainNoResult(job, std::nullopt)};
}

Report runJob(const std::string& bundle, const JobOnDisk& job, std::chrono::milliseconds timeBound) {
  Started started = startJob(bundle, job);
  if (!started.run) return Report{SUPPORT_DRAFT_OUTCOME_NO_RESULT, "not run: " + started.refusal.text};
  Report report = waitJob(*started.run, timeBound);
  if (report.outcome == SUPPORT_DRAFT_OUTCOME_RUNNING) report.outcome = SUPPORT_DRAFT_OUTCOME_TIMED_OUT;
  return report;
}

}  // namespace support_draft::host_side
