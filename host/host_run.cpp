#include "host_run.h"

#include <fcntl.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "files/private_file.h"
#include "job/bundle_identity.h"
#include "job/job_contract.h"
#include "job/job_document.h"
#include "platform/bundle.h"
#include "platform/child_process.h"
#include "platform/paths.h"
#include "run_lock.h"

namespace support_draft::host_side {
namespace {

constexpr std::int64_t kMaxResultSize = 4096;

// What the host-side checks say about a job that ended without a result.
// `signal` ended the program, when one did (0: none, or not known).
std::string explainNoResult(const JobOnDisk& job, int signal, const std::optional<std::string>& bundleToolDirectory) {
  if (signal != 0) return "the program was ended by signal " + std::to_string(signal);
  if (bundleToolDirectory && *bundleToolDirectory != job.toolDirectory) {
    return "the bundle takes its jobs from " + *bundleToolDirectory + ", not " + job.toolDirectory;
  }
  const JobChain chain = openJobChain(job);
  if (!chain.job) return chain.refusal.text;
  const platform::Directory& directory = *chain.job;
  if (const JobDocumentCheck document = checkJobDocumentIn(directory, job.subjectPrefix); document.breach) {
    return reasonSentence(*document.breach);
  }
  struct statvfs fileSystem {};
  if (::faccessat(directory.fd(), ".", W_OK | X_OK, AT_EACCESS) != 0 ||
      (::fstatvfs(directory.fd(), &fileSystem) == 0 && (fileSystem.f_flag & ST_RDONLY) != 0)) {
    return "nothing can be written in " + job.directory;
  }
  return "the host-side checks found nothing wrong: is the job prepared for this bundle's identity "
         "(its tool directory and subject prefix)?";
}

// The result document of the job directory held, when there is one.
std::optional<RunOutcome> resultIn(const JobOnDisk& job, const platform::Directory& held) {
  const auto bytes = stillAt(job.directory, held) ? readPrivateFile(platform::childOf(held, kResultName), kMaxResultSize)
                                                  : std::nullopt;
  if (!bytes) return std::nullopt;
  switch (readResultDocument(*bytes)) {
    case ResultReading::opened:
      return RunOutcome::opened;
    case ResultReading::permissionDenied:
      return RunOutcome::permissionDenied;
    case ResultReading::failed:
    case ResultReading::unknown:
      break;
  }
  return RunOutcome::failed;
}

}  // namespace

std::vector<std::string> programEnvironment(const std::string& home) {
  std::vector<std::string> environment;
  for (std::string& entry : platform::processEnvironment()) {
    if (!entry.starts_with("HOME=")) environment.push_back(std::move(entry));
  }
  environment.push_back("HOME=" + home);
  return environment;
}

Started startJob(const std::string& bundle, const JobOnDisk& job, const StartOptions& options) {
  Started started;
  JobChain chain = openJobChain(job);
  if (!chain.job) {
    started.refusal = chain.refusal;
    return started;
  }
  // Only a bundle that is not there is refused here: one of another
  // channel, or none, is the program's to ignore, and the run then
  // explains the missing result.
  const BundleIdentityReading reading = readBundleIdentity(bundle);
  if (reading.breach && (reading.breach->reason == Reason::bundleMissing ||
                         reading.breach->reason == Reason::bundleExecutableMissing)) {
    started.refusal = refusalFor(*reading.breach);
    return started;
  }
  const std::string executable = platform::executableInBundle(bundle, "support-draft");
  // The exec is not waited for (on a busy machine it takes milliseconds of
  // the host's thread): what would make it fail is looked at here, and a
  // failure after all is told when the run ends.
  if (::access(executable.c_str(), X_OK) != 0) {
    started.refusal = {HostReason::startFailed,
                       "the program could not be started: " + executable + ": " + errorText(errno)};
    return started;
  }
  // Before anything changes: a refused start leaves the job as it was.
  platform::UniqueFd bundleLock;
  if (options.oneAtATime) {
    SoleRunLock sole = soleBundleRunLock(chain.drafts->fd());
    if (sole.running) {
      started.refusal = {HostReason::jobRunning,
                         "another job of this bundle runs: " + draftsPath(job.home, job.toolDirectory)};
      return started;
    }
    bundleLock = std::move(sole.held);
  } else {
    bundleLock = bundleRunLock(chain.drafts->fd());
  }
  if (!bundleLock) {
    started.refusal = {HostReason::startFailed, "the drafts directory cannot be locked: " +
                                                    draftsPath(job.home, job.toolDirectory) + ": " + errorText(errno)};
    return started;
  }
  // An earlier answer must not pass for this run's.
  if (::unlinkat(chain.job->fd(), std::string(kResultName).c_str(), 0) != 0 && errno != ENOENT) {
    started.refusal = {HostReason::resultNotRemovable,
                       "the earlier " + std::string(kResultName) + " cannot be removed: " + errorText(errno)};
    return started;
  }
  // The program prints nothing in job mode, and one left running past a
  // time bound must hold none of the host's pipes open: its standard
  // streams are /dev/null. The host gets no child and no thread.
  platform::ChildSpec spec;
  spec.paths = {executable};
  spec.arguments = {executable, "--job", job.id};
  spec.environment = programEnvironment(job.home);
  // Held from before the start, so that a host asking right after this
  // returns already finds the job running.
  const platform::UniqueFd lock = runLock(chain.job->fd());
  if (!lock) {
    started.refusal = {HostReason::startFailed, "the job directory cannot be locked: " + job.directory + ": " +
                                                    errorText(errno)};
    return started;
  }
  platform::DetachedOptions detachedOptions;
  detachedOptions.keptByWatcher = {lock.get(), bundleLock.get()};
  detachedOptions.awaitStart = false;
  detachedOptions.endable = true;
  // The bundle's watcher, when it has one, rather than a fork of the host.
  detachedOptions.watcherExecutable = platform::executableInBundle(bundle, "support-draft-watcher");
  platform::DetachedStart detached = platform::startDetached(spec, detachedOptions);
  if (detached.error != 0) {
    started.refusal = {HostReason::startFailed,
                       "the program could not be started: " + executable + ": " + errorText(detached.error)};
    return started;
  }
  std::optional<std::string> toolDirectory;
  if (reading.identity) toolDirectory = reading.identity->toolDirectory;
  started.run = std::make_unique<Run>(Run{job, std::move(toolDirectory), std::move(chain.job),
                                           std::move(detached.ended), std::move(detached.endRequests), std::nullopt,
                                           executable});
  return started;
}

Report waitJob(Run& run, std::chrono::milliseconds timeout) {
  using State = platform::ChildWait::State;
  if (run.report) return *run.report;
  const platform::ChildWait wait = platform::awaitDetached(run.ended.get(), timeout);
  if (wait.state == State::StillRunning) return Report{RunOutcome::running, ""};
  // The watcher is done: nothing is left to end.
  run.endRequests.reset();
  Report report;
  if (const auto outcome = resultIn(run.job, *run.jobDirectory)) {
    // A result written before the end was asked for, or before the end
    // came, stands: the draft is in the client.
    report.outcome = *outcome;
  } else if (wait.state == State::EndedOnRequest) {
    report.outcome = RunOutcome::cancelled;
  } else if (wait.state == State::NotStarted) {
    report.explanation = "the program could not be started: " + run.executable + ": " + errorText(wait.error);
  } else {
    const bool signalled = wait.state == State::Ended && WIFSIGNALED(wait.waitStatus);
    report.explanation =
        explainNoResult(run.job, signalled ? WTERMSIG(wait.waitStatus) : 0, run.bundleToolDirectory);
  }
  run.report = report;
  return report;
}

Report cancelJob(Run& run) {
  if (run.report) return *run.report;
  if (run.endRequests && !platform::endDetached(run.endRequests.get())) {
    // Not asked: the run goes on, and says so.
    return Report{RunOutcome::running, "the program could not be asked to end: " + errorText(errno)};
  }
  return waitJob(run, std::chrono::milliseconds::max());
}

Report collectResult(const JobOnDisk& job) {
  const JobChain chain = openJobChain(job);
  if (!chain.job) return Report{RunOutcome::noResult, chain.refusal.text};
  if (const auto outcome = resultIn(job, *chain.job)) return Report{*outcome, ""};
  if (idleLock(chain.job->fd()).running) return Report{RunOutcome::running, ""};
  // The program may have written its answer just before it ended.
  if (const auto outcome = resultIn(job, *chain.job)) return Report{*outcome, ""};
  return Report{RunOutcome::noResult, explainNoResult(job, 0, std::nullopt)};
}

Report runJob(const std::string& bundle, const JobOnDisk& job, std::chrono::milliseconds timeBound) {
  Started started = startJob(bundle, job);
  if (!started.run) return Report{RunOutcome::noResult, "not run: " + started.refusal.text};
  Report report = waitJob(*started.run, timeBound);
  if (report.outcome == RunOutcome::running) report.outcome = RunOutcome::timedOut;
  return report;
}

}  // namespace support_draft::host_side
