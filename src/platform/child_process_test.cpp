#include "platform/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <thread>

#include "testing/scratch_directory.h"

namespace platform {
namespace {

using std::chrono::milliseconds;

ChildSpec program(std::vector<std::string> paths, std::vector<std::string> arguments) {
  ChildSpec spec;
  spec.paths = std::move(paths);
  spec.arguments = std::move(arguments);
  return spec;
}

ChildSpec shell(const std::string& script, int output = kCaptureStream) {
  ChildSpec spec = program({"/bin/sh"}, {"sh", "-c", script});
  spec.output = output;
  return spec;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> result;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) result.push_back(line);
  return result;
}

struct Pipe {
  UniqueFd read;
  UniqueFd write;
  Pipe() {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) == 0) {
      read.reset(ends[0]);
      write.reset(ends[1]);
    }
  }
};

std::string readAll(int fd) {
  std::string text;
  char buffer[256];
  for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<std::size_t>(n));
  return text;
}

// Writes a line to the gate a moment from now, from a thread of its own:
// a program reading the gate goes on then.
std::thread openLater(const Pipe& gate) {
  return std::thread([&gate] {
    std::this_thread::sleep_for(milliseconds(50));
    EXPECT_EQ(::write(gate.write.get(), "go\n", 3), 3);
  });
}

// The watchers of a detached start: a fork of this process, the watcher
// executable, and executables that do not take the start over (none there,
// one that fails, one that ends without a word, and one stopped before a
// word, which would hold the caller forever were it not ended at its
// bound), after which a fork watches, as before, and the program still
// runs once.
struct Watcher {
  const char* name;
  std::string executable;
};
constexpr std::string_view kStopped = "stopped";
const Watcher kWatchers[] = {{"forked", ""},
                             {"executable", SUPPORT_DRAFT_WATCHER_EXECUTABLE},
                             {"missing executable", "/nonexistent/watcher"},
                             {"failing executable", "/bin/false"},
                             {"silent executable", "/bin/true"},
                             {"stopped executable", std::string(kStopped)}};

// The stopped watcher executable, made once.
const std::string& stoppedWatcher() {
  static const testing_support::ScratchDirectory scratch;
  static const std::string path = [] {
    const std::string file = scratch.path() + "/stopped";
    const UniqueFd script(open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0755));
    const std::string text = "#!/bin/sh\nexec sleep 600\n";
    EXPECT_EQ(::write(script.get(), text.data(), text.size()), static_cast<ssize_t>(text.size()));
    return file;
  }();
  return path;
}

DetachedOptions watchedBy(const Watcher& watcher) {
  DetachedOptions options;
  options.watcherExecutable = watcher.executable;
  if (watcher.executable == kStopped) {
    options.watcherExecutable = stoppedWatcher();
    options.watcherHandOverBound = milliseconds(50);
  }
  return options;
}

// The number of descriptors process `pid` has open.
std::size_t openDescriptors(pid_t pid) {
  std::size_t count = 0;
  const std::string directory = "/proc/" + std::to_string(pid) + "/fd";
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    static_cast<void>(entry);
    ++count;
  }
  return count;
}

// Ignores and blocks a signal in this process for one scope.
class SignalIgnoredAndBlocked {
 public:
  explicit SignalIgnoredAndBlocked(int number) : number_(number) {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigaction(number, &ignore, &saved_);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, number);
    sigprocmask(SIG_BLOCK, &set, &savedMask_);
  }
  ~SignalIgnoredAndBlocked() {
    sigprocmask(SIG_SETMASK, &savedMask_, nullptr);
    sigaction(number_, &saved_, nullptr);
  }

 private:
  int number_;
  struct sigaction saved_ {};
  sigset_t savedMask_{};
};

TEST(ChildProcess, StartsInASessionOfItsOwnWithCleanSignalsAndOnlyTheNamedDescriptors) {
  const UniqueFd stray(open("/dev/null", O_RDONLY));  // not close-on-exec: must still not be handed on
  ASSERT_TRUE(stray);
  Pipe first;
  Pipe second;
  ChildStart start;
  {
    const SignalIgnoredAndBlocked quiet(SIGUSR1);
    ChildSpec spec = shell(
        "readlink /proc/self/fd/0; echo $$; cut -d' ' -f6 /proc/$$/stat; ls /proc/self/fd | wc -l;"
        "grep -E '^Sig(Blk|Ign)' /proc/self/status | tr -d '\\t'; echo to-errors >&2; echo 3 >&3; echo 4 >&4");
    // In the wrong order at first: the second pipe's write end goes to 3.
    spec.inherited = {second.write.get(), first.write.get()};
    start = startChild(spec);
  }
  first.write.reset();
  second.write.reset();
  EXPECT_EQ(readAll(second.read.get()), "3\n");
  EXPECT_EQ(readAll(first.read.get()), "4\n");
  ASSERT_EQ(start.error, 0);
  const ChildWait end = start.child.wait(milliseconds(20'000), AtDeadline::End);
  ASSERT_EQ(end.state, ChildWait::State::Ended);
  EXPECT_TRUE(WIFEXITED(end.waitStatus) && WEXITSTATUS(end.waitStatus) == 0);
  const CapturedOutput output = start.child.capturedOutput();
  ASSERT_EQ(output.error, 0);
  const std::vector<std::string> got = lines(output.bytes);
  ASSERT_EQ(got.size(), 6u) << output.bytes;
  EXPECT_EQ(got[0], "/dev/null");
  EXPECT_EQ(got[1], std::to_string(start.child.pid()));
  EXPECT_EQ(got[2], got[1]) << "not the leader of its own session";
  EXPECT_EQ(got[3], "6") << "descriptors besides 0 to 4 and ls's own directory";
  // Masks in hexadecimal, bit N-1 for signal N.
  const auto has = [](const std::string& line, int number) {
    return ((std::stoull(line.substr(line.find(':') + 1), nullptr, 16) >> (number - 1)) & 1) != 0;
  };
  EXPECT_EQ(got[4], "SigBlk:0000000000000000");
  EXPECT_FALSE(has(got[5], SIGUSR1)) << "a signal this process ignores stays ignored";
  EXPECT_EQ(start.child.wait(milliseconds(0), AtDeadline::End).waitStatus, end.waitStatus) << "asked again";
}

TEST(ChildProcess, ArgumentsAndEnvironmentArriveAsGiven) {
  Pipe out;
  ChildSpec spec = program({"/usr/bin/printenv"}, {"printenv"});
  spec.environment = {"A=1", "B= two words"};
  spec.output = out.write.get();
  ChildStart start = startChild(spec);
  ASSERT_EQ(start.error, 0);
  out.write.reset();
  EXPECT_EQ(readAll(out.read.get()), "A=1\nB= two words\n");
  EXPECT_EQ(start.child.wait(milliseconds(20'000), AtDeadline::End).state, ChildWait::State::Ended);

  // No arguments at all, not even the program's name.
  ChildStart bare = startChild(program({"/bin/true"}, {}));
  ASSERT_EQ(bare.error, 0);
  EXPECT_EQ(bare.child.wait(milliseconds(20'000), AtDeadline::End).state, ChildWait::State::Ended);
}

TEST(ChildProcess, PathsAreTriedInOrderAndTheReasonForNoStartIsKept) {
  const ChildSpec missing = program({"/nonexistent/a", "/nonexistent/b"}, {"x"});
  EXPECT_EQ(startChild(missing).error, ENOENT);
  EXPECT_EQ(startChild(ChildSpec{}).error, ENOENT);
  // A file that may not be executed is passed over, and its refusal kept
  // when nothing after it can be started.
  testing_support::ScratchDirectory scratch;
  const std::string plain = scratch.path() + "/plain";
  ASSERT_TRUE(UniqueFd(open(plain.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644)));
  const ChildSpec refused = program({plain, "/nonexistent"}, {"x"});
  EXPECT_EQ(startChild(refused).error, EACCES);
  ChildStart second = startChild(program({"/nonexistent/true", plain, "/bin/true"}, {"true"}));
  ASSERT_EQ(second.error, 0);
  EXPECT_EQ(second.child.wait(milliseconds(20'000), AtDeadline::End).state, ChildWait::State::Ended);
  EXPECT_EQ(startDetached(missing).error, ENOENT);
  EXPECT_EQ(startDetached(missing, watchedBy(kWatchers[1])).error, ENOENT);
  EXPECT_EQ(startDetached(shell("true")).error, EINVAL) << "a detached program's output cannot be captured";
}

TEST(ChildProcess, AtTheDeadlineTheCallerLeavesItRunningOrEndsItsWholeGroup) {
  Pipe out;
  ChildStart start = startChild(shell("sleep 60 & echo $!; exec sleep 60", out.write.get()));
  ASSERT_EQ(start.error, 0);
  out.write.reset();
  EXPECT_EQ(start.child.wait(milliseconds(0), AtDeadline::LeaveRunning).state, ChildWait::State::StillRunning);
  EXPECT_EQ(start.child.wait(milliseconds(30), AtDeadline::LeaveRunning).state, ChildWait::State::StillRunning);
  EXPECT_EQ(kill(start.child.pid(), 0), 0) << "left running means running";
  const ChildWait ended = start.child.wait(milliseconds(0), AtDeadline::End);
  ASSERT_EQ(ended.state, ChildWait::State::EndedAtDeadline);
  EXPECT_TRUE(WIFSIGNALED(ended.waitStatus) && WTERMSIG(ended.waitStatus) == SIGKILL);
  // The background sleep went with it: nothing holds the pipe open.
  EXPECT_EQ(lines(readAll(out.read.get())).size(), 1u);
}

TEST(ChildProcess, DetachedLeavesTheCallerNoChildAndReportsTheEnd) {
  const UniqueFd stray(open("/dev/null", O_RDONLY));  // not close-on-exec: must still not be handed on
  ASSERT_TRUE(stray);
  for (const Watcher& watcher : kWatchers) {
    SCOPED_TRACE(watcher.name);
    testing_support::ScratchDirectory scratch;
    const std::string go = scratch.path() + "/go";
    Pipe out;
    ChildSpec spec = shell(
        "echo $$ $PPID; ls /proc/self/fd | wc -l; grep -E '^Sig(Blk|Ign)' /proc/self/status | tr -d '\\t';"
        "until [ -e \"$1\" ]; do sleep 0.01; done; exit 7",
        out.write.get());
    spec.arguments.insert(spec.arguments.end(), {"sh", go});
    // The watcher keeps this open file for as long as the program runs.
    Pipe kept;
    DetachedOptions options = watchedBy(watcher);
    options.keptByWatcher = {kept.write.get()};
    DetachedStart start;
    {
      const SignalIgnoredAndBlocked quiet(SIGUSR1);
      start = startDetached(spec, options);
    }
    ASSERT_EQ(start.error, 0);
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1) << "a process of the start is this process's child";
    out.write.reset();
    kept.write.reset();
    std::vector<std::string> told;
    std::string line;
    for (char c; told.size() < 4 && ::read(out.read.get(), &c, 1) == 1;) {
      if (c != '\n') {
        line += c;
      } else {
        told.push_back(line);
        line.clear();
      }
    }
    ASSERT_EQ(told.size(), 4u) << line;
    std::istringstream ids(told[0]);
    pid_t program = 0, parent = 0;
    ids >> program >> parent;
    ASSERT_GT(program, 0) << told[0];
    EXPECT_NE(parent, getpid());
    EXPECT_EQ(waitpid(program, nullptr, WNOHANG), -1) << "the program is this process's child";
    EXPECT_EQ(told[1], "4") << "descriptors besides 0 to 2 and ls's own directory";
    EXPECT_EQ(told[2], "SigBlk:0000000000000000");
    const unsigned long long ignored = std::stoull(told[3].substr(told[3].find(':') + 1), nullptr, 16);
    EXPECT_EQ((ignored >> (SIGUSR1 - 1)) & 1, 0u) << "a signal this process ignores stays ignored";
    // The watcher holds its report pipe, the kept file and, while it waits,
    // its own signal descriptor, nothing else (not the stray /dev/null),
    // once it has started the program.
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (openDescriptors(parent) > 3 && std::chrono::steady_clock::now() < limit) {
      std::this_thread::sleep_for(milliseconds(10));
    }
    EXPECT_LE(openDescriptors(parent), 3u);
    for (const auto& entry : std::filesystem::directory_iterator("/proc/" + std::to_string(parent) + "/fd")) {
      std::error_code error;
      EXPECT_NE(std::filesystem::read_symlink(entry.path(), error), "/dev/null") << entry.path();
    }
    EXPECT_EQ(awaitDetached(start.ended.get(), milliseconds(0)).state, ChildWait::State::StillRunning);
    pollfd keptEnd{kept.read.get(), POLLIN, 0};
    EXPECT_EQ(poll(&keptEnd, 1, 0), 0) << "the watcher let go of the kept file while the program runs";

    ASSERT_TRUE(UniqueFd(open(go.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600)));
    const ChildWait end = awaitDetached(start.ended.get(), milliseconds(20'000));
    ASSERT_EQ(end.state, ChildWait::State::Ended);
    EXPECT_TRUE(WIFEXITED(end.waitStatus) && WEXITSTATUS(end.waitStatus) == 7);
    // Told the end, the caller finds the kept file let go (a lock on it is
    // free for whoever read the end) and the watcher gone (its pipe at end of
    // file), without waiting any further.
    EXPECT_EQ(poll(&keptEnd, 1, 0), 1) << "the kept file outlived the end's report";
    pollfd endedEnd{start.ended.get(), POLLIN, 0};
    EXPECT_EQ(poll(&endedEnd, 1, 0), 1) << "the watcher had not gone when the end was told";
    // Neither the program nor its watcher holds the caller's pipes any more.
    EXPECT_EQ(readAll(out.read.get()), "");
    EXPECT_EQ(readAll(kept.read.get()), "");
    EXPECT_EQ(waitpid(program, nullptr, WNOHANG), -1);
  }
}

TEST(ChildProcess, TheWatcherExecutableStartsNothingFromWhatIsNotAStart) {
  testing_support::ScratchDirectory scratch;
  const std::string made = scratch.path() + "/made";
  const UniqueFd notAPipe(open((scratch.path() + "/regular").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
  ASSERT_TRUE(notAPipe);
  Pipe report;
  // Runs the watcher executable with `words` after its name and `handed`
  // from descriptor 3 on; its exit status.
  const auto statusOf = [&](std::vector<std::string> words, std::vector<int> handed) {
    ChildSpec spec = program({SUPPORT_DRAFT_WATCHER_EXECUTABLE}, {SUPPORT_DRAFT_WATCHER_EXECUTABLE});
    spec.arguments.insert(spec.arguments.end(), words.begin(), words.end());
    spec.inherited = std::move(handed);
    ChildStart start = startChild(spec);
    const ChildWait end = start.child.wait(milliseconds(20'000), AtDeadline::End);
    return end.state == ChildWait::State::Ended && WIFEXITED(end.waitStatus) ? WEXITSTATUS(end.waitStatus) : -1;
  };
  const std::vector<std::string> start = {"--detached-watcher-1", "report-start", "not-endable", "own-group",
                                          "0", "0", "1", "/bin/sh", "sh", "-c", ": > \"$0\"", made};
  const auto with = [&](std::size_t at, const std::string& word) {
    std::vector<std::string> words = start;
    words[at] = word;
    return words;
  };
  const std::vector<std::vector<std::string>> refused = {
      {},
      {"--detached-watcher-1"},
      with(0, "--detached-watcher-2"),
      with(1, "report-everything"),
      with(2, "endable"),  // no socket handed for the requests
      with(3, "own-world"),
      with(4, "1"),  // no kept descriptor handed
      with(4, "01"),
      with(5, "x"),
      with(5, "65"),
      with(6, "0"),
      with(6, "9"),
      with(7, ""),
  };
  for (const std::vector<std::string>& words : refused) {
    std::string shown;
    for (const std::string& word : words) shown += word + " ";
    EXPECT_EQ(statusOf(words, {report.write.get()}), 2) << shown;
  }
  EXPECT_EQ(statusOf(start, {notAPipe.get()}), 2) << "the report descriptor is not a pipe";
  EXPECT_EQ(statusOf(start, {}), 2) << "no report descriptor";
  EXPECT_FALSE(std::filesystem::exists(made)) << "a refused start ran the program";

  // The same start, handed over as it must be, runs it and tells its end.
  ASSERT_EQ(statusOf(start, {report.write.get()}), 0);
  report.write.reset();
  const ChildWait end = awaitDetached(report.read.get(), milliseconds(20'000));
  ASSERT_EQ(end.state, ChildWait::State::Ended);
  EXPECT_TRUE(WIFEXITED(end.waitStatus) && WEXITSTATUS(end.waitStatus) == 0);
  EXPECT_TRUE(std::filesystem::exists(made));
}

TEST(ChildProcess, TheLongestLimitWaitsForTheEnd) {
  // The program ends only once the gate opens, which a thread does once the
  // wait has begun; a wait that took the limit for a time already past would
  // come back first, with the program still running. A detached start's
  // longest wait is tried with each watcher below.
  Pipe gate;
  ChildSpec spec = shell("read line <&3; exit 5", kDiscardStream);
  spec.inherited = {gate.read.get()};
  ChildStart child = startChild(spec);
  ASSERT_EQ(child.error, 0);
  std::thread opener = openLater(gate);
  const ChildWait end = child.child.wait(milliseconds::max(), AtDeadline::LeaveRunning);
  opener.join();
  ASSERT_EQ(end.state, ChildWait::State::Ended);
  EXPECT_TRUE(WIFEXITED(end.waitStatus) && WEXITSTATUS(end.waitStatus) == 5);
}

TEST(ChildProcess, DetachedEndedOnRequestTakesItsProcessGroupButNotAnotherSession) {
  for (const Watcher& watcher : kWatchers) {
    SCOPED_TRACE(watcher.name);
    Pipe out;
    Pipe elsewhere;
    // A helper in the program's process group, and one in a session of its
    // own (as a mail client is started) that holds `elsewhere` open.
    ChildSpec spec = shell("sleep 60 3>&- & setsid sh -c 'echo $$; exec sleep 60' >&3 3>&- & exec sleep 60 3>&-",
                           out.write.get());
    spec.inherited = {elsewhere.write.get()};
    DetachedOptions options = watchedBy(watcher);
    options.endable = true;
    options.awaitStart = false;
    DetachedStart start = startDetached(spec, options);
    ASSERT_EQ(start.error, 0);
    ASSERT_TRUE(start.endRequests);
    out.write.reset();
    elsewhere.write.reset();
    std::string line;
    // Told once it is in its own session.
    for (char c; ::read(elsewhere.read.get(), &c, 1) == 1 && c != '\n';) line += c;
    const pid_t ownSession = static_cast<pid_t>(std::atol(line.c_str()));
    ASSERT_GT(ownSession, 0) << line;
    EXPECT_EQ(awaitDetached(start.ended.get(), milliseconds(0)).state, ChildWait::State::StillRunning);

    ASSERT_TRUE(endDetached(start.endRequests.get()));
    const ChildWait end = awaitDetached(start.ended.get(), milliseconds::max());
    ASSERT_EQ(end.state, ChildWait::State::EndedOnRequest);
    EXPECT_TRUE(WIFSIGNALED(end.waitStatus) && WTERMSIG(end.waitStatus) == SIGKILL);
    // The group's helper went with it; the other session's did not.
    EXPECT_EQ(readAll(out.read.get()), "");
    pollfd stays{elsewhere.read.get(), POLLIN, 0};
    EXPECT_EQ(poll(&stays, 1, 0), 0) << "the helper in a session of its own was ended too";
    kill(ownSession, SIGKILL);
  }
}

TEST(ChildProcess, DetachedEndsAreToldAfterTheLongestWaitAndWhenTheCallerIgnoresChildSignals) {
  for (const Watcher& watcher : kWatchers) {
    SCOPED_TRACE(watcher.name);
    DetachedOptions options = watchedBy(watcher);
    options.endable = true;
    options.awaitStart = false;
    // The longest wait lasts until the end, which comes once the gate opens
    // after the wait has begun.
    Pipe gate;
    ChildSpec spec = shell("read line <&3; exit 3", kDiscardStream);
    spec.inherited = {gate.read.get()};
    DetachedStart start = startDetached(spec, options);
    ASSERT_EQ(start.error, 0);
    std::thread opener = openLater(gate);
    const ChildWait end = awaitDetached(start.ended.get(), milliseconds::max());
    opener.join();
    ASSERT_EQ(end.state, ChildWait::State::Ended);
    EXPECT_TRUE(WIFEXITED(end.waitStatus) && WEXITSTATUS(end.waitStatus) == 3);
    // The watcher has gone: a request finds no one, and raises no SIGPIPE.
    EXPECT_TRUE(endDetached(start.endRequests.get()));

    // A caller that ignores SIGCHLD (hosts in some languages do) still
    // hears the end, which the system would otherwise reap; not waited
    // for, a start that fails is told by the wait.
    const SignalIgnoredAndBlocked quiet(SIGCHLD);
    DetachedStart exits = startDetached(shell("exit 7", kDiscardStream), watchedBy(watcher));
    ASSERT_EQ(exits.error, 0);
    const ChildWait exited = awaitDetached(exits.ended.get(), milliseconds(20'000));
    ASSERT_EQ(exited.state, ChildWait::State::Ended);
    EXPECT_TRUE(WIFEXITED(exited.waitStatus) && WEXITSTATUS(exited.waitStatus) == 7);
    DetachedStart missing = startDetached(program({"/nonexistent/program"}, {"program"}), options);
    ASSERT_EQ(missing.error, 0);
    const ChildWait never = awaitDetached(missing.ended.get(), milliseconds(20'000));
    EXPECT_EQ(never.state, ChildWait::State::NotStarted);
    EXPECT_EQ(never.error, ENOENT);
  }
}

TEST(ChildProcess, NoDescriptorsLeftToStartWithIsAnErrorAndStartsNothing) {
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
  // Every number up to the limit is taken: the standard streams and these.
  std::vector<UniqueFd> held;
  const rlimit tight{8, saved.rlim_max};
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
  for (UniqueFd fd(open("/dev/null", O_RDONLY | O_CLOEXEC)); fd; fd.reset(open("/dev/null", O_RDONLY | O_CLOEXEC))) {
    held.push_back(std::move(fd));
  }
  const int attached = startChild(shell("true")).error;
  const int detached = startDetached(shell("true", kDiscardStream)).error;
  held.clear();
  setrlimit(RLIMIT_NOFILE, &saved);
  EXPECT_EQ(attached, EMFILE);
  EXPECT_EQ(detached, EMFILE);
}

}  // namespace
}  // namespace platform
