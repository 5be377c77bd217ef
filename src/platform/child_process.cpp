#include "platform/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <span>
#include <thread>
#include <utility>

extern char** environ;

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

int groupingFlags(ChildSpec::Grouping grouping) {
  switch (grouping) {
    case ChildSpec::Grouping::OwnSession:
      return POSIX_SPAWN_SETSID;
    case ChildSpec::Grouping::OwnProcessGroup:
      return POSIX_SPAWN_SETPGROUP;
    case ChildSpec::Grouping::Callers:
      break;
  }
  return 0;
}

// A close-on-exec copy of `fd` numbered `lowest` or above.
UniqueFd copyAbove(int fd, int lowest = STDERR_FILENO + 1) { return UniqueFd(fcntl(fd, F_DUPFD_CLOEXEC, lowest)); }

// The same descriptor moved above the standard streams: with this
// process's own standard streams closed, a new descriptor can be 0, 1 or 2,
// and setting up the child's streams would then overwrite one of them.
UniqueFd aboveStandardStreams(UniqueFd fd) {
  if (!fd || fd.get() > STDERR_FILENO) return fd;
  return copyAbove(fd.get());
}

// MFD_NOEXEC_SEAL is newer than some C library headers.
#ifndef MFD_NOEXEC_SEAL
#define MFD_NOEXEC_SEAL 0x0008U
#endif

// A memory file as large as the output cap and sealed against growing or
// shrinking: a write beyond it fails, so a program that keeps writing (a
// mail client left running in the foreground logs for as long as it runs)
// holds at most that much memory instead of an ever larger file. The program
// writes at the file's shared offset, which tells how much it wrote; a
// refused write leaves the offset at the cap, since the kernel refuses it in
// whole pages (or larger power-of-two blocks), which the cap is a multiple
// of. Never a pipe, so that a program left running is not killed by a
// broken pipe once this process has gone.
UniqueFd captureFile() {
  // Kernels that forbid executable memory files refuse one without
  // MFD_NOEXEC_SEAL; kernels that predate it refuse the flag.
  UniqueFd fd(memfd_create("child-output", MFD_CLOEXEC | MFD_ALLOW_SEALING | MFD_NOEXEC_SEAL));
  if (!fd && errno == EINVAL) fd.reset(memfd_create("child-output", MFD_CLOEXEC | MFD_ALLOW_SEALING));
  if (!fd) return fd;
  if (ftruncate(fd.get(), static_cast<off_t>(kMaxChildOutput)) != 0) return UniqueFd();
  if (fcntl(fd.get(), F_ADD_SEALS, F_SEAL_GROW | F_SEAL_SHRINK | F_SEAL_SEAL) != 0) return UniqueFd();
  return fd;
}

// A stream the program gets: the caller's descriptor (a private copy above
// the standard streams), /dev/null opened with `discardMode`, or the
// capture file when `capture` allows it.
UniqueFd streamFor(int choice, int discardMode, bool capture) {
  if (choice >= 0) return copyAbove(choice);
  if (choice == kDiscardStream) return aboveStandardStreams(UniqueFd(open("/dev/null", discardMode | O_CLOEXEC)));
  if (choice == kCaptureStream && capture) return aboveStandardStreams(captureFile());
  errno = EINVAL;
  return UniqueFd();
}

// Pointers to the given strings, ended by a null pointer, as exec takes them.
std::vector<char*> nullTerminated(const std::vector<std::string>& words) {
  std::vector<char*> pointers;
  pointers.reserve(words.size() + 1);
  for (const std::string& word : words) pointers.push_back(const_cast<char*>(word.c_str()));
  pointers.push_back(nullptr);
  return pointers;
}

// What a start asks beyond its ChildSpec.
struct LaunchMode {
  // Standard output may be kCaptureStream: an attached start.
  bool capture = false;
  // The program starts with every signal blocked: a watcher, until it has
  // set up its own.
  bool signalsBlocked = false;
};

// Everything one start needs, made before any process is created, so that
// spawn() allocates nothing and may run in a forked watcher. Every way of
// starting (attached, through a watcher executable, in a forked watcher)
// goes through it.
class Launch {
 public:
  Launch(const ChildSpec& spec, LaunchMode mode) : paths_(spec.paths) {
    actionsReady_ = posix_spawn_file_actions_init(&actions_) == 0;
    attributesReady_ = posix_spawnattr_init(&attributes_) == 0;
    error_ = actionsReady_ && attributesReady_ ? prepare(spec, mode) : ENOMEM;
  }
  ~Launch() {
    if (actionsReady_) posix_spawn_file_actions_destroy(&actions_);
    if (attributesReady_) posix_spawnattr_destroy(&attributes_);
  }
  Launch(const Launch&) = delete;
  Launch& operator=(const Launch&) = delete;

  // 0, or why the start could not be prepared (an errno value).
  int error() const { return error_; }

  // Starts the first path that can be started, passing over those that are
  // not there, as the C library's look-up does. Returns 0, or why nothing
  // was started: the preparation's error, the refusal met on the way, or
  // ENOENT when no path exists. Allocates nothing: the watcher calls it
  // after fork.
  int spawn(pid_t& pid) const {
    if (error_ != 0) return error_;
    int refusal = 0;
    for (const std::string& path : paths_) {
      // Looking first spares a process start for every path that does not
      // hold the program.
      if (access(path.c_str(), F_OK) != 0 && (errno == ENOENT || errno == ENOTDIR)) continue;
      const int error = posix_spawn(&pid, path.c_str(), &actions_, &attributes_, argv_.data(), envp_.data());
      if (error == 0) return 0;
      if (error == EACCES) {
        refusal = error;
      } else if (error != ENOENT && error != ENOTDIR) {
        return error;
      }
    }
    return refusal != 0 ? refusal : ENOENT;
  }

  UniqueFd takeCaptured() { return std::move(captured_); }

 private:
  // Returns 0 or an errno value.
  int prepare(const ChildSpec& spec, LaunchMode mode) {
    // The standard streams first: a copy made for one of them may have a
    // number an inherited descriptor goes to next. Standard input is the
    // caller's descriptor or /dev/null.
    const int choices[] = {spec.input >= 0 ? spec.input : kDiscardStream, spec.output, spec.errors};
    for (int target = STDIN_FILENO; target <= STDERR_FILENO; ++target) {
      streams_[target] = streamFor(choices[target], target == STDIN_FILENO ? O_RDONLY : O_WRONLY,
                                   mode.capture && target == STDOUT_FILENO);
      if (!streams_[target]) return errno;
      if (const int error = posix_spawn_file_actions_adddup2(&actions_, streams_[target].get(), target); error != 0) {
        return error;
      }
    }
    if (spec.output == kCaptureStream) {
      captured_ = copyAbove(streams_[STDOUT_FILENO].get());
      if (!captured_) return errno;
    }
    // Copies numbered above every target, so that no set-up step
    // overwrites a copy that a later one reads.
    const int firstFree = STDERR_FILENO + 1 + static_cast<int>(spec.inherited.size());
    for (std::size_t i = 0; i < spec.inherited.size(); ++i) {
      inherited_.push_back(copyAbove(spec.inherited[i], firstFree));
      if (!inherited_.back()) return errno;
      const int target = STDERR_FILENO + 1 + static_cast<int>(i);
      if (const int error = posix_spawn_file_actions_adddup2(&actions_, inherited_[i].get(), target); error != 0) {
        return error;
      }
    }
    environment_ = spec.environment ? *spec.environment : processEnvironment();
    argv_ = nullTerminated(spec.arguments);
    envp_ = nullTerminated(environment_);
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    for (const int error : {
             // Nothing else of this process's own (a host's pipes, a test
             // runner's files) reaches the program.
             posix_spawn_file_actions_addclosefrom_np(&actions_, firstFree),
             posix_spawnattr_setsigmask(&attributes_, mode.signalsBlocked ? &all : &none),
             // A signal this process ignores would stay ignored otherwise.
             posix_spawnattr_setsigdefault(&attributes_, &all),
             // Process group 0: the program's own pid.
             posix_spawnattr_setpgroup(&attributes_, 0),
             posix_spawnattr_setflags(&attributes_, static_cast<short>(groupingFlags(spec.grouping) |
                                                                      POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF)),
         }) {
      if (error != 0) return error;
    }
    return 0;
  }

  posix_spawn_file_actions_t actions_{};
  posix_spawnattr_t attributes_{};
  bool actionsReady_ = false;
  bool attributesReady_ = false;
  int error_ = 0;
  std::vector<std::string> paths_;
  UniqueFd streams_[3];
  UniqueFd captured_;
  std::vector<UniqueFd> inherited_;
  std::vector<std::string> environment_;
  std::vector<char*> argv_;
  std::vector<char*> envp_;
};

// The deadline `limit` from now. A limit beyond what the clock can count
// (a caller's way of saying "for ever") is the clock's end rather than a
// sum that overflows into the past.
Clock::time_point deadlineAfter(std::chrono::milliseconds limit) {
  const Clock::time_point now = Clock::now();
  const auto room = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::time_point::max() - now);
  return limit >= room ? Clock::time_point::max() : now + limit;
}

// Milliseconds left until the deadline, rounded up: a time cut down to
// whole milliseconds would end a wait before the deadline.
int millisecondsUntil(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return static_cast<int>(std::clamp<std::int64_t>(left, 0, 60'000));
}

// Waits until the descriptor is readable or the deadline passes. Returns
// 1, 0 (the deadline passed) or -1 (poll failed; errno says why).
int readableBy(int fd, Clock::time_point deadline) {
  for (;;) {
    pollfd entry{fd, POLLIN, 0};
    const int ready = poll(&entry, 1, millisecondsUntil(deadline));
    if (ready > 0) return 1;
    if (ready == 0 && Clock::now() >= deadline) return 0;
    if (ready < 0 && errno != EINTR) return -1;
  }
}

// A descriptor that becomes readable when the process ends. Called through
// syscall(): the C library's own wrapper is missing from some releases.
UniqueFd processDescriptorOf(pid_t pid) { return UniqueFd(static_cast<int>(syscall(SYS_pidfd_open, pid, 0))); }

// Reaps the process when it has ended (blocking: it waits for the end).
// Returns true with the status, or false with errno set.
bool reap(pid_t pid, int options, int& status, bool& done) {
  for (;;) {
    const pid_t result = waitpid(pid, &status, options);
    if (result >= 0) {
      done = result == pid;
      return true;
    }
    if (errno != EINTR) return false;
  }
}

// Reaps a process whose status nobody needs, waiting for its end. With
// SIGCHLD ignored the system reaps it by itself and this fails with ECHILD,
// which is just as good.
void reapQuietly(pid_t pid) {
  int ignored = 0;
  bool done = false;
  reap(pid, 0, ignored, done);
}

// Ends a started program and its process group, which it leads and which
// holds what it started unless that moved elsewhere.
void killWithGroup(pid_t leader) {
  kill(-leader, SIGKILL);
  kill(leader, SIGKILL);
}

ChildWait unknown(int error) { return ChildWait{ChildWait::State::Unknown, 0, error}; }

// How long a watcher that has told the end may take to exit: it exits right
// after, so only a stopped watcher takes this long.
constexpr std::chrono::seconds kWatcherExitBound{2};

// Waits for the end of file a watcher's exit makes on its pipe, so that a
// caller told the end knows the watcher gone and the pipe readable from then on.
void awaitWatcherExit(int ended) {
  const Clock::time_point deadline = Clock::now() + kWatcherExitBound;
  while (readableBy(ended, deadline) == 1) {
    char byte;
    const ssize_t n = read(ended, &byte, 1);
    if (n == 0 || (n < 0 && errno != EINTR)) return;
  }
}

// The records a watcher writes on its pipe: that it is watching (a watcher
// executable only, first, so that the caller knows the start was handed
// over), the outcome of the start (an errno value, 0 when the program
// runs), then how it ended. Each is written whole in one call, which a pipe
// never splits.
struct Record {
  enum Kind : int { started, ended, endedOnRequest, watching };
  int kind = started;
  int value = 0;  // started: 0 or an errno value; ended: the wait status
};

bool readRecord(int fd, Record& record) {
  for (;;) {
    const ssize_t n = read(fd, &record, sizeof record);
    if (n == static_cast<ssize_t>(sizeof record)) return true;
    if (n < 0 && errno == EINTR) continue;
    return false;
  }
}

// Closes every descriptor but those in `keep` (ascending, none negative).
void closeAllBut(const std::vector<int>& keep) {
  unsigned next = 0;
  for (const int fd : keep) {
    if (static_cast<unsigned>(fd) > next) close_range(next, static_cast<unsigned>(fd) - 1, 0);
    next = static_cast<unsigned>(fd) + 1;
  }
  close_range(next, ~0U, 0);
}

// Closes what the watcher kept (`keep`, which holds `report`) but `report`,
// without allocating: the caller may have had other threads.
void closeAllButReport(const std::vector<int>& keep, int report) {
  for (const int fd : keep) {
    if (fd != report) close(fd);
  }
}

// Waits for the program while listening for requests to end it; true when
// it ended after one came. Falls back to a plain wait when the signal
// descriptor cannot be made, and stops listening once the caller's end of
// the channel is gone (the caller left the program to its course).
bool reapOrEnd(pid_t pid, int requests, int& status, bool& done) {
  sigset_t childSignal;
  sigemptyset(&childSignal);
  sigaddset(&childSignal, SIGCHLD);
  // SIGCHLD is blocked (as every signal is here): it waits for the
  // descriptor, also when the program ended before it was made.
  const int signals = signalfd(-1, &childSignal, SFD_CLOEXEC | SFD_NONBLOCK);
  if (signals < 0) requests = -1;
  bool asked = false;
  while (requests >= 0) {
    if (!reap(pid, WNOHANG, status, done)) return asked;
    if (done) return asked;
    pollfd entries[2] = {{signals, POLLIN, 0}, {requests, POLLIN, 0}};
    if (poll(entries, 2, -1) < 0 && errno != EINTR) break;
    if (entries[1].revents != 0) {
      char request = 0;
      const ssize_t n = recv(requests, &request, 1, MSG_DONTWAIT);
      if (n == 1 && !asked) {
        // Not reaped yet: the number cannot have passed to another process.
        killWithGroup(pid);
        asked = true;
      } else if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
        requests = -1;
      }
    }
    if (entries[0].revents != 0) {
      signalfd_siginfo drained[4];
      [[maybe_unused]] const ssize_t read = ::read(signals, drained, sizeof drained);
    }
  }
  if (signals >= 0) close(signals);
  reap(pid, 0, status, done);
  return asked;
}

// The watcher, in the grandchild: it belongs to no one but init (or the
// nearest subreaper), so the caller is left with no child. It starts the
// program, reports the start, keeps nothing of the caller's open while it
// waits, and reports the end. Only async-signal-safe calls and the prepared
// spawn run here, since the caller may have other threads. A start is
// reported when the caller waits for it, or when it failed: otherwise the
// pipe stays unreadable until the end.
[[noreturn]] void watch(const Launch& launch, int report, const std::vector<int>& keep, int requests,
                        bool reportStart) {
  // Out of the caller's session, so that a terminal's signals meant for
  // the caller do not end the watcher; every signal blocked, so that none of
  // the caller's handlers runs here. SIGCHLD at its default, since a caller
  // that ignores it would otherwise have the system reap the program, and
  // its status would be lost.
  setsid();
  sigset_t all;
  sigfillset(&all);
  sigprocmask(SIG_SETMASK, &all, nullptr);
  struct sigaction byDefault {};
  byDefault.sa_handler = SIG_DFL;
  sigaction(SIGCHLD, &byDefault, nullptr);

  // What the watcher keeps for the caller (locks) is let go before the last
  // record, so a caller that has read it finds them free.
  pid_t pid = -1;
  const Record start{Record::started, launch.spawn(pid)};
  if (start.value != 0) closeAllButReport(keep, report);
  if (start.value != 0 || reportStart) {
    if (write(report, &start, sizeof start) != static_cast<ssize_t>(sizeof start) || start.value != 0) _exit(0);
  }
  closeAllBut(keep);
  int status = 0;
  bool done = false;
  const bool asked = reapOrEnd(pid, requests, status, done);
  closeAllButReport(keep, report);
  if (!done) _exit(0);
  const Record end{asked ? Record::endedOnRequest : Record::ended, status};
  [[maybe_unused]] const ssize_t written = write(report, &end, sizeof end);
  _exit(0);
}

}  // namespace

std::vector<std::string> processEnvironment() {
  std::vector<std::string> environment;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) environment.emplace_back(*entry);
  return environment;
}

ChildStart startChild(const ChildSpec& spec) {
  ChildStart start;
  Launch launch(spec, {.capture = true});
  pid_t pid = -1;
  start.error = launch.spawn(pid);
  if (start.error != 0) return start;
  start.child.pid_ = pid;
  start.child.process_ = processDescriptorOf(pid);
  start.child.output_ = launch.takeCaptured();
  return start;
}

ChildWait Child::wait(std::chrono::milliseconds limit, AtDeadline atDeadline) {
  if (ended_) return *ended_;
  if (pid_ < 0) return unknown(ECHILD);
  const Clock::time_point deadline = deadlineAfter(limit);
  int status = 0;
  bool done = false;
  if (process_) {
    // The descriptor tells when it has ended; a failed poll falls back to
    // looking now and then.
    const int ready = readableBy(process_.get(), deadline);
    if (ready > 0 && !reap(pid_, 0, status, done)) return unknown(errno);
  }
  while (!done) {
    if (!reap(pid_, WNOHANG, status, done)) return unknown(errno);
    if (done || Clock::now() >= deadline) break;
    std::this_thread::sleep_for(std::min<Clock::duration>(std::chrono::milliseconds(10), deadline - Clock::now()));
  }
  if (done) {
    ended_ = ChildWait{ChildWait::State::Ended, status, 0};
    return *ended_;
  }
  if (atDeadline == AtDeadline::LeaveRunning) return ChildWait{ChildWait::State::StillRunning, 0, 0};
  killWithGroup(pid_);
  if (!reap(pid_, 0, status, done) || !done) return unknown(errno);
  ended_ = ChildWait{ChildWait::State::EndedAtDeadline, status, 0};
  return *ended_;
}

CapturedOutput Child::capturedOutput() const {
  CapturedOutput captured;
  if (!output_) {
    captured.error = EBADF;
    return captured;
  }
  // The bytes up to the file's offset, which the program's writes moved. A
  // full file may have refused more.
  const off_t end = lseek(output_.get(), 0, SEEK_CUR);
  if (end < 0) {
    captured.error = errno;
    return captured;
  }
  const auto size = static_cast<std::size_t>(end);
  if (size >= kMaxChildOutput) {
    captured.full = true;
    return captured;
  }
  captured.bytes.resize(size);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = pread(output_.get(), captured.bytes.data() + done, size - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      captured.error = errno;
      captured.bytes.clear();
      return captured;
    }
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  captured.bytes.resize(done);
  return captured;
}

namespace {

// What the watcher executable is told on its command line, after its name:
// this marker, which names the version of what follows (one that does not
// know it starts nothing, and the caller forks a watcher instead), then
//   report-start | report-failed-start   DetachedOptions::awaitStart
//   endable | not-endable                DetachedOptions::endable
//   own-session | own-group | callers    ChildSpec::grouping
//   <kept> <inherited> <paths>           counts, each at most kMaxWatcherCount
//   <path>... <argument>...              ChildSpec::paths, then ChildSpec::arguments
// Its descriptors: 0 to 2 the program's standard streams, 3 the report
// pipe, then the end request socket when endable, then the kept files, then
// the descriptors the program inherits; nothing else. Its environment is
// the program's.
constexpr std::string_view kWatcherMarker = "--detached-watcher-1";
constexpr std::size_t kWatcherWordsBeforePaths = 8;
constexpr std::size_t kMaxWatcherCount = 64;
constexpr int kReportDescriptor = STDERR_FILENO + 1;

// The words of each setting, indexed by its value.
constexpr std::string_view kReportStartWords[] = {"report-failed-start", "report-start"};
constexpr std::string_view kEndableWords[] = {"not-endable", "endable"};
// In the order of ChildSpec::Grouping.
constexpr std::string_view kGroupingWords[] = {"own-session", "own-group", "callers"};
static_assert(std::size(kGroupingWords) == static_cast<std::size_t>(ChildSpec::Grouping::Callers) + 1);

// The value `word` stands for among a setting's words.
std::optional<std::size_t> settingIn(std::string_view word, std::span<const std::string_view> words) {
  const auto found = std::ranges::find(words, word);
  if (found == words.end()) return std::nullopt;
  return static_cast<std::size_t>(found - words.begin());
}

// A count as the caller writes it: decimal digits, no leading zero, at
// most kMaxWatcherCount.
std::optional<std::size_t> countIn(std::string_view word) {
  std::size_t count = 0;
  const char* const end = word.data() + word.size();
  const auto [stop, error] = std::from_chars(word.data(), end, count);
  if (error != std::errc() || stop != end || (word.size() > 1 && word[0] == '0') || count > kMaxWatcherCount) {
    return std::nullopt;
  }
  return count;
}

// The watcher executable's command line for a start.
std::vector<std::string> watcherArguments(const std::string& watcher, const ChildSpec& spec,
                                          const DetachedOptions& options, std::size_t keptCount) {
  std::vector<std::string> words = {watcher,
                                    std::string(kWatcherMarker),
                                    std::string(kReportStartWords[options.awaitStart]),
                                    std::string(kEndableWords[options.endable]),
                                    std::string(kGroupingWords[static_cast<std::size_t>(spec.grouping)]),
                                    std::to_string(keptCount),
                                    std::to_string(spec.inherited.size()),
                                    std::to_string(spec.paths.size())};
  words.insert(words.end(), spec.paths.begin(), spec.paths.end());
  words.insert(words.end(), spec.arguments.begin(), spec.arguments.end());
  return words;
}

// The pipe a watcher reports on and, for an endable start, the socket it
// takes end requests from (a socket rather than a pipe: a request sent
// after the watcher has gone fails instead of raising SIGPIPE in the
// caller). The caller keeps `reading` and `endRequests`.
struct Channels {
  UniqueFd reading;
  UniqueFd writing;
  UniqueFd endRequests;
  UniqueFd requests;

  // The watcher's ends, in the order the watcher executable gets them.
  std::vector<int> watcherEnds() const {
    std::vector<int> ends = {writing.get()};
    if (requests) ends.push_back(requests.get());
    return ends;
  }
  // Called once the watcher holds its own copies: the pipe then ends when
  // the watcher does.
  void handedToWatcher() {
    writing.reset();
    requests.reset();
  }
};

// Makes fresh channels; 0 or an errno value.
int makeChannels(bool endable, Channels& channels) {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return errno;
  channels.reading.reset(ends[0]);
  channels.writing.reset(ends[1]);
  if (endable) {
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return errno;
    channels.endRequests.reset(ends[0]);
    channels.requests.reset(ends[1]);
  }
  return 0;
}

// Starts the watcher executable with posix_spawn, which shares this
// process's memory until the exec instead of copying its page tables as a
// fork does, and waits until its first process has handed the watching to
// a second and ended, so the caller is left with no child. False when no
// watcher took over; it then started nothing, and the channels are spent.
bool startThroughWatcher(const std::string& watcher, const ChildSpec& spec, const DetachedOptions& options,
                         const std::vector<UniqueFd>& kept, Channels& channels) {
  ChildSpec start = spec;  // its environment and standard streams
  start.paths = {watcher};
  start.arguments = watcherArguments(watcher, spec, options, kept.size());
  start.inherited = channels.watcherEnds();
  for (const UniqueFd& fd : kept) start.inherited.push_back(fd.get());
  start.inherited.insert(start.inherited.end(), spec.inherited.begin(), spec.inherited.end());
  // In a process group of its own, not a session: a new session waits for
  // its first turn on a loaded machine, and this thread waits for the
  // watcher. Every signal blocked until it has set up its own.
  start.grouping = ChildSpec::Grouping::OwnProcessGroup;
  pid_t pid = -1;
  {
    // Its copies of the channels go with it, before the report is read.
    const Launch launch(start, {.signalsBlocked = true});
    if (launch.spawn(pid) != 0) return false;
  }
  channels.handedToWatcher();
  // A watcher that has not taken over within the bound is ended with its
  // whole group: its second process stays in the group, starting nothing,
  // until the first has said it watches and exited. Once the first is
  // gone, whatever it wrote is in the pipe and decides.
  const bool answered = readableBy(channels.reading.get(), Clock::now() + options.watcherHandOverBound) == 1;
  if (!answered) kill(-pid, SIGKILL);
  reapQuietly(pid);
  if (!answered && readableBy(channels.reading.get(), Clock::now()) != 1) return false;
  Record first;
  return readRecord(channels.reading.get(), first) && first.kind == Record::watching;
}

// Forks the watcher: the middle process only makes it and exits at once,
// so the watcher has no parent to report to but init. Returns 0 or an
// errno value.
int forkWatcher(const Launch& launch, const std::vector<UniqueFd>& kept, bool reportStart, Channels& channels) {
  // What the watcher keeps, in ascending order, made before any fork.
  std::vector<int> keep = channels.watcherEnds();
  for (const UniqueFd& fd : kept) keep.push_back(fd.get());
  std::sort(keep.begin(), keep.end());
  const int report = channels.writing.get();
  const int requests = channels.requests ? channels.requests.get() : -1;
  const pid_t middle = fork();
  if (middle < 0) return errno;
  if (middle == 0) {
    if (fork() == 0) watch(launch, report, keep, requests, reportStart);
    _exit(0);
  }
  channels.handedToWatcher();
  reapQuietly(middle);
  return 0;
}

DetachedStart failedStart(int error) {
  DetachedStart start;
  start.error = error;
  return start;
}

// The start once a watcher has it: when the caller waits for the start,
// how it went, read from the watcher's report.
DetachedStart watchedStart(Channels& channels, bool awaitStart) {
  if (awaitStart) {
    Record started;
    // No record: the watcher could not be made (fork failed in the middle
    // process) or died before it reported.
    if (!readRecord(channels.reading.get(), started)) return failedStart(EAGAIN);
    if (started.value != 0) return failedStart(started.value);
  }
  DetachedStart start;
  start.ended = std::move(channels.reading);
  start.endRequests = std::move(channels.endRequests);
  return start;
}

}  // namespace

DetachedStart startDetached(const ChildSpec& spec, const DetachedOptions& options) {
  if (spec.output == kCaptureStream) return failedStart(EINVAL);
  // Copies above the standard streams, close-on-exec: the watcher holds
  // them, the program it starts does not get them.
  std::vector<UniqueFd> kept;
  for (const int fd : options.keptByWatcher) {
    kept.push_back(copyAbove(fd));
    if (!kept.back()) return failedStart(errno);
  }
  Channels channels;
  if (!options.watcherExecutable.empty()) {
    if (const int error = makeChannels(options.endable, channels); error != 0) return failedStart(error);
    if (startThroughWatcher(options.watcherExecutable, spec, options, kept, channels)) {
      return watchedStart(channels, options.awaitStart);
    }
  }
  // No watcher executable took the start over: a fork of this process
  // watches, on fresh channels.
  const Launch launch(spec, {});
  if (launch.error() != 0) return failedStart(launch.error());
  if (const int error = makeChannels(options.endable, channels); error != 0) return failedStart(error);
  if (const int error = forkWatcher(launch, kept, options.awaitStart, channels); error != 0) return failedStart(error);
  return watchedStart(channels, options.awaitStart);
}

int runWatcher(int argc, char** argv) {
  constexpr int kRefused = 2;
  const std::vector<std::string_view> words(argv, argv + std::max(argc, 0));
  if (words.size() < kWatcherWordsBeforePaths || words[1] != kWatcherMarker) return kRefused;
  const std::optional<std::size_t> reportStart = settingIn(words[2], kReportStartWords);
  const std::optional<std::size_t> endable = settingIn(words[3], kEndableWords);
  const std::optional<std::size_t> grouping = settingIn(words[4], kGroupingWords);
  const std::optional<std::size_t> keptCount = countIn(words[5]);
  const std::optional<std::size_t> inheritedCount = countIn(words[6]);
  const std::optional<std::size_t> pathCount = countIn(words[7]);
  if (!reportStart || !endable || !grouping || !keptCount || !inheritedCount || !pathCount || *pathCount == 0 ||
      words.size() < kWatcherWordsBeforePaths + *pathCount) {
    return kRefused;
  }
  const auto firstPath = words.begin() + static_cast<std::ptrdiff_t>(kWatcherWordsBeforePaths);
  const auto firstArgument = firstPath + static_cast<std::ptrdiff_t>(*pathCount);
  if (std::any_of(firstPath, firstArgument, [](std::string_view path) { return path.empty(); })) return kRefused;
  ChildSpec spec;
  spec.paths.assign(firstPath, firstArgument);
  spec.arguments.assign(firstArgument, words.end());
  spec.grouping = static_cast<ChildSpec::Grouping>(*grouping);
  spec.input = STDIN_FILENO;
  spec.output = STDOUT_FILENO;
  spec.errors = STDERR_FILENO;

  // The descriptors handed over, each checked to be what it must be; every
  // other one is closed, whatever started this.
  const auto isOpen = [](int fd) { return fcntl(fd, F_GETFD) != -1; };
  const auto kindOf = [](int fd) {
    struct stat facts {};
    return fstat(fd, &facts) == 0 ? facts.st_mode & S_IFMT : 0u;
  };
  int next = kReportDescriptor;
  const int report = next++;
  if (kindOf(report) != S_IFIFO || (fcntl(report, F_GETFL) & O_ACCMODE) != O_WRONLY) return kRefused;
  int requests = -1;
  if (*endable == 1) {
    requests = next++;
    if (kindOf(requests) != S_IFSOCK) return kRefused;
  }
  std::vector<int> keep = {report};
  if (requests >= 0) keep.push_back(requests);
  for (std::size_t i = 0; i < *keptCount; ++i) keep.push_back(next++);
  for (std::size_t i = 0; i < *inheritedCount; ++i) spec.inherited.push_back(next++);
  for (int fd = STDIN_FILENO; fd < next; ++fd) {
    if (!isOpen(fd)) return kRefused;
  }
  close_range(static_cast<unsigned>(next), ~0U, 0);

  const Launch launch(spec, {});
  if (launch.error() != 0) return kRefused;
  // This first process hands the watching to a second and ends at once,
  // so the caller, who waits for that, is left with no child. It says so
  // itself rather than the second, which the caller would otherwise wait to
  // be given its first turn; the second starts nothing until then.
  int gate[2];
  if (pipe2(gate, O_CLOEXEC) != 0) return kRefused;
  const pid_t watcher = fork();
  if (watcher < 0) return kRefused;
  if (watcher == 0) {
    close(gate[1]);
    char ignored;
    while (read(gate[0], &ignored, 1) < 0 && errno == EINTR) {
    }
    watch(launch, report, keep, requests, *reportStart == 1);
  }
  const Record watching{Record::watching, 0};
  if (write(report, &watching, sizeof watching) != static_cast<ssize_t>(sizeof watching)) {
    // Nobody reads: the second must start nothing.
    kill(watcher, SIGKILL);
    return kRefused;
  }
  return 0;
}

bool endDetached(int endRequests) {
  const char request = 'x';
  for (;;) {
    if (send(endRequests, &request, 1, MSG_NOSIGNAL | MSG_DONTWAIT) == 1) return true;
    // Gone: the program has ended and its watcher with it. Full: requests
    // are waiting already.
    if (errno == EPIPE || errno == ECONNRESET || errno == EAGAIN) return true;
    if (errno != EINTR) return false;
  }
}

ChildWait awaitDetached(int ended, std::chrono::milliseconds limit) {
  const Clock::time_point deadline = deadlineAfter(limit);
  for (;;) {
    const int ready = readableBy(ended, deadline);
    if (ready < 0) return unknown(errno);
    if (ready == 0) return ChildWait{ChildWait::State::StillRunning, 0, 0};
    Record record;
    if (!readRecord(ended, record)) return unknown(EPIPE);
    // A start not waited for is reported only when it failed; a watcher
    // executable says first that it watches.
    if ((record.kind == Record::started && record.value == 0) || record.kind == Record::watching) continue;
    awaitWatcherExit(ended);
    switch (record.kind) {
      case Record::started:
        return ChildWait{ChildWait::State::NotStarted, 0, record.value};
      case Record::endedOnRequest:
        return ChildWait{ChildWait::State::EndedOnRequest, record.value, 0};
      default:
        return ChildWait{ChildWait::State::Ended, record.value, 0};
    }
  }
}

}  // namespace platform
