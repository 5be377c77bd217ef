// Runs of the program for a job, without blocking the host: a run is
// started, its descriptor becomes readable when the program has ended, and
// the outcome is read from the job's result document then or later.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "job_chain.h"
#include "platform/directory.h"
#include "platform/unique_fd.h"

namespace support_draft::host_side {

// What came of a run.
enum class RunOutcome {
  opened,            // the draft was handed to the mail client
  permissionDenied,  // the user has not allowed the program to drive the mail client
  failed,            // the draft could not be made (the program said so)
  noResult,          // the program ended, or never started, without a result
  timedOut,          // still running at the time bound; it is left to finish
  running,           // still running
  cancelled,         // ended by cancelJob before it wrote a result
};

struct Report {
  RunOutcome outcome = RunOutcome::noResult;
  // For a run without a result, what the host-side checks found: the rule
  // the job now breaks, a job directory where nothing can be written, or
  // that they found nothing. Empty for the other outcomes.
  std::string explanation;
};

struct Run {
  JobOnDisk job;
  // The tool directory the bundle names, when it names one: a job in
  // another one is never found by its program.
  std::optional<std::string> bundleToolDirectory;
  std::optional<platform::Directory> jobDirectory;  // held since the start: the same one is read at the end
  platform::UniqueFd ended;         // readable once the program has ended
  platform::UniqueFd endRequests;   // asks the watcher to end the program
  std::optional<Report> report;     // once known
  std::string executable;           // the program started, for the host's explanations
};

struct Started {
  std::unique_ptr<Run> run;
  Refusal refusal;
};

// The environment the program is started with for a job in `home`: the
// host's own, with HOME set to `home`.
std::vector<std::string> programEnvironment(const std::string& home);

struct StartOptions {
  // Refused (jobRunning) while another run of a job in the same tool
  // directory holds its lock, whichever host started it.
  bool oneAtATime = false;
};

// Starts <bundle>/Contents/MacOS/support-draft for the job after removing
// any earlier result document, through a watcher that holds the job's and
// the bundle's run locks (run_lock.h) until the program has ended. Returns
// once the watcher exists, without waiting for the program's start: a
// program that cannot be executed after all ends the run without a result,
// and says so.
Started startJob(const std::string& bundle, const JobOnDisk& job, const StartOptions& options = {});

// Ends the run's program and what it started in its process group, and
// waits for its end and its watcher's (the job's lock is free then):
// cancelled, unless the program wrote its result before it ended (then
// that result) or the outcome was known already.
Report cancelJob(Run& run);

// The outcome when the program has ended within `timeout` (zero: now),
// otherwise RunOutcome::running.
Report waitJob(Run& run, std::chrono::milliseconds timeout);

// The outcome a job's directory holds now; running while a program runs
// for it, from the moment its start has returned.
Report collectResult(const JobOnDisk& job);

// Starts and waits at most `timeBound`: timedOut when the program still runs.
Report runJob(const std::string& bundle, const JobOnDisk& job, std::chrono::milliseconds timeBound);

}  // namespace support_draft::host_side
