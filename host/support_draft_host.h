// The host's side of support-draft: prepares a job exactly as the program
// demands, runs the program for it and tells what came of it.
//
// Every mistake a host can make in preparing a job (a loose directory mode,
// a link in the home directory's path, a subject that is too long, ...) makes
// the program stop without a word. These functions check the same rules with
// the program's own code before anything is written, and say which rule a
// job breaks.
//
// C++17. Link the target SupportDraft::host (find_package(SupportDraft)).
// The functions may be called from several threads at once.
#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace support_draft {

// The bundle's build channel; each has a tool directory of its own in the
// home directory (".vantrel-devtool-dev" for dev, ".vantrel-devtool" for prod).
enum class Channel { dev, prod };

// Where jobs go: the channel of the bundle that will run them and the home
// directory. An empty home means the user's home as the program finds it:
// HOME when it holds an absolute path, otherwise the password entry's.
struct JobPlace {
  Channel channel = Channel::prod;
  std::string home;
};

// What the draft should hold. The subject must begin with
// "Support Request - Quorvel " and hold at most 200 bytes of UTF-8, the body
// at most 8192 bytes; neither may contain U+0000. The log, when given, is
// written as log.txt and attached (at most 24576 bytes).
struct DraftRequest {
  std::string subject;
  std::string body;
  std::optional<std::string> log;
};

// A job written to disk: its id (a random UUID in canonical lower-case form),
// its directory, and the place it was prepared in (the home directory there
// is the one the program must be given).
struct PreparedJob {
  std::string id;
  std::string directory;
  JobPlace place;
};

// Either a prepared job, or why none was prepared.
struct Preparation {
  std::optional<PreparedJob> job;
  std::string refusal;  // empty when `job` is set
};

// Prepares a job: checks the texts and the log against the program's limits,
// then the directories from the home directory down (each existing one must
// be a real directory, not a link, owned by the user or root, with no write
// bit for group or others; no link may lie above the home directory either),
// creates the missing ones with mode 0700 without following links, and
// writes log.txt and job.json with mode 0600, each atomically. A job refused
// by a check leaves nothing behind; one that could not be written is removed
// again. Two callers never get the same job directory.
Preparation prepareJob(const JobPlace& place, const DraftRequest& request);

enum class Outcome {
  opened,            // the draft was handed to the mail client
  permissionDenied,  // the user has not allowed the program to drive the mail client
  failed,            // the draft could not be made (the program said so)
  noResult,          // the program ended without a result document
  timedOut,          // the program was still running at the time bound; it is left to finish
};

struct RunReport {
  Outcome outcome = Outcome::noResult;
  // For noResult, what the host-side checks found: the rule the job now
  // breaks, a job directory where nothing can be written, or that they found
  // nothing. Empty for the other outcomes.
  std::string explanation;
};

// Runs <bundle>/Contents/MacOS/support-draft for the job with the host's
// environment (HOME set to the job's home) and waits for it, at most
// `timeBound`. Any earlier result.json is removed first, so the answer read
// afterwards is this run's.
RunReport runJob(const std::string& bundlePath, const PreparedJob& job, std::chrono::milliseconds timeBound);

// Removes the job's directory and the files in it, never following a link.
// Only when the host asks: the mail client may read the log after the program
// has ended. True when the directory is gone.
bool removeJob(const PreparedJob& job);

// "opened", "permissionDenied", "failed", "noResult", "timedOut".
const char* outcomeName(Outcome outcome);

}  // namespace support_draft
