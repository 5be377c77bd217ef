// Starting another program: the one place where this project, its host
// library and its test harnesses create processes.
//
// A program is started with posix_spawn, in a session of its own (unless
// asked for a process group of its own, or the caller's), with no blocked signals and every signal at its default
// disposition, standard input from /dev/null (or the caller's descriptor),
// and no descriptor of this process beyond its three standard streams and
// those the caller names. It is started either
//   - attached (startChild): it is this process's child, waited for through
//     a process descriptor, at most for a given time, after which the
//     caller leaves it running or ends it; or
//   - detached (startDetached): a watcher process started here starts it,
//     waits for it and writes its wait status to a pipe, so the caller has
//     no child to reap, ever, and no thread; the pipe's read end is the
//     caller's to poll from an event loop or to wait on for a bounded time.
//     The watcher is a watcher executable (whose main is runWatcher) when
//     the caller names one, otherwise a fork of the caller.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "platform/unique_fd.h"

namespace platform {

// Where a standard stream of the started program goes, besides a
// descriptor of the caller's (a number >= 0, duplicated for the program).
inline constexpr int kDiscardStream = -1;  // /dev/null
inline constexpr int kCaptureStream = -2;  // standard output of an attached start only: a memory file

// The memory file that captures standard output holds this many bytes; the
// program's writes beyond it fail, so its output never takes more room.
inline constexpr std::size_t kMaxChildOutput = std::size_t{16} << 20;

// This process's environment as it stands, entries as given: the one place
// that reads it, for whoever hands it on.
std::vector<std::string> processEnvironment();

struct ChildSpec {
  // The files to try, in order: the first that exists is started. One
  // that may not be executed is passed over for the next, and its refusal
  // (EACCES) is reported when none can be started; ENOENT when none exists.
  std::vector<std::string> paths;
  // The argument vector, the program's name first by convention. It may be
  // empty (the program then gets no arguments at all).
  std::vector<std::string> arguments;
  // "NAME=value" entries; unset: processEnvironment().
  std::optional<std::vector<std::string>> environment;
  // Standard input: a descriptor of the caller's, or kDiscardStream for
  // /dev/null.
  int input = kDiscardStream;
  int output = kDiscardStream;
  int errors = kDiscardStream;
  // Descriptors of the caller's that the program gets as 3, 4, ... in this
  // order; every other one above the standard streams is closed.
  std::vector<int> inherited;
  // Where the program stands among the caller's processes.
  enum class Grouping {
    // A session of its own, away from the caller's terminal.
    OwnSession,
    // A process group of its own in the caller's session: a terminal's
    // signals, which go to its foreground group, do not reach it, and the
    // group can be ended as a whole. It starts sooner than in a session of
    // its own, which the kernel also gives a scheduling group of its own
    // (autogroup): on a loaded machine that new group waited some 18 ms
    // before it first ran.
    OwnProcessGroup,
    // The caller's session and process group, as a client started inside
    // a terminal must stay to read its keyboard.
    Callers,
  };
  Grouping grouping = Grouping::OwnSession;
};

// What a wait found.
struct ChildWait {
  enum class State {
    Ended,            // it ended by itself; waitStatus holds how
    StillRunning,     // the time passed and it was left running
    EndedAtDeadline,  // the time passed and it was ended (SIGKILL); waitStatus holds how
    Unknown,          // how it ended cannot be told; error holds why
    // Detached starts only:
    EndedOnRequest,   // endDetached asked, and it ended after that (by the SIGKILL or just before); waitStatus holds how
    NotStarted,       // a start not waited for (DetachedOptions::awaitStart) failed; error holds why
  };
  State state = State::Unknown;
  int waitStatus = 0;  // as waitpid gives it (WIFEXITED, WEXITSTATUS, ...)
  int error = 0;
};

// What an attached start's standard output held when it was read.
struct CapturedOutput {
  std::string bytes;
  bool full = false;  // kMaxChildOutput bytes or more were written: the bytes are not read
  int error = 0;      // the memory file could not be read
};

enum class AtDeadline { LeaveRunning, End };

struct ChildStart;

// A program started attached. Destroying it leaves the program running
// (and, once it ends, a zombie until this process ends or waits for it).
class Child {
 public:
  pid_t pid() const { return pid_; }
  // Readable once the program has ended; -1 on kernels without process
  // descriptors (wait() then checks now and then instead).
  int processDescriptor() const { return process_.get(); }

  // Waits at most `limit` (zero: only looks) for the program to end. When
  // the limit passes, AtDeadline::End kills its whole process group, which
  // holds whatever it started and did not move elsewhere, and waits for it.
  // Once it has ended, every further call gives the same answer. When this
  // process ignores SIGCHLD the system reaps the program by itself and the
  // answer is Unknown (ECHILD): such a caller wants startDetached.
  ChildWait wait(std::chrono::milliseconds limit, AtDeadline atDeadline);

  // The standard output captured so far (ChildSpec::output == kCaptureStream).
  CapturedOutput capturedOutput() const;

 private:
  friend ChildStart startChild(const ChildSpec& spec);
  pid_t pid_ = -1;
  UniqueFd process_;
  UniqueFd output_;
  std::optional<ChildWait> ended_;
};

struct ChildStart {
  Child child;
  int error = 0;  // 0, or why nothing was started (an errno value)
};

ChildStart startChild(const ChildSpec& spec);

struct DetachedStart {
  // Becomes readable when the program has ended (or its watcher was killed,
  // or a start not waited for failed); awaitDetached reads what it holds.
  // Close-on-exec.
  UniqueFd ended;
  // With DetachedOptions::endable: the caller's end of the channel on which
  // endDetached asks the watcher to end the program. Close-on-exec; closing
  // it asks nothing.
  UniqueFd endRequests;
  int error = 0;  // 0, or why nothing was started (an errno value)
};

struct DetachedOptions {
  // Descriptors of the caller's whose open files the watcher keeps until
  // the program has ended and the program never gets: a lock on such an
  // open file lasts exactly as long as the program runs, whatever becomes
  // of the caller, and is free by the time `ended` tells the end.
  std::vector<int> keptByWatcher;
  // True: return once the program runs, or with why it could not be
  // started. False: return once the watcher exists; a failed start then
  // makes `ended` readable, and awaitDetached tells it (NotStarted).
  // Waiting for the start waits for the program's exec, which on a busy
  // machine takes milliseconds.
  bool awaitStart = true;
  // True: the watcher also listens for endDetached.
  bool endable = false;
  // A watcher executable to start with posix_spawn, whose main calls
  // runWatcher: unlike a fork, that never copies this process's page
  // tables, which for a process with hundreds of megabytes resident takes
  // a hundred milliseconds and more. Empty, not there, or one that does not
  // take the start over: a fork of this process watches, as before.
  std::string watcherExecutable;
  // How long the watcher executable has to take the start over. One that
  // has not by then (stopped, or not the kit's) is killed with everything
  // it started so far, and a fork watches instead.
  std::chrono::milliseconds watcherHandOverBound{2'000};
};

// Starts the program through a watcher. kCaptureStream is refused
// (EINVAL): a detached program's output goes to a descriptor of the
// caller's or nowhere. Unless it is endable, the caller cannot end a
// detached program; it is left to run its course.
DetachedStart startDetached(const ChildSpec& spec, const DetachedOptions& options = {});

// The main of a watcher executable (DetachedOptions::watcherExecutable):
// reads the start from its command line and descriptors as startDetached
// hands it over, trusting nothing else, hands the watching to a process of
// its own and returns 0; or returns non-zero, having started nothing, when
// what it was handed is not such a start.
int runWatcher(int argc, char** argv);

// Asks the watcher of an endable start to end the program with its whole
// process group (SIGKILL), which holds whatever the program started in it;
// what it started in a session of its own (a mail client showing a draft)
// stays. Returns at once: the end is told by `ended` as ever. False (errno
// set) when the request could not be sent; a watcher that has gone already
// needs none.
bool endDetached(int endRequests);

// Waits at most `limit` (zero: only looks) on the descriptor startDetached
// gave: Ended (or EndedOnRequest) with the wait status, StillRunning,
// NotStarted for a start not waited for that failed, or Unknown when the
// watcher ended without telling (it was killed). Told an end, it also
// waits the moment the watcher takes to exit, so the descriptor stays
// readable from then on. Read the answer once.
ChildWait awaitDetached(int ended, std::chrono::milliseconds limit);

}  // namespace platform
