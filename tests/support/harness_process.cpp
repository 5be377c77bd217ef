// Running a child process with a controlled argument vector and environment,
// capturing both output streams in full.
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <sstream>

#include "harness.h"

namespace harness {

namespace {

using Clock = std::chrono::steady_clock;

// A posix_spawn attribute object, initialised and destroyed with its owner.
template <typename T, int (*init)(T*), int (*destroy)(T*)>
struct SpawnObject {
  T object;
  SpawnObject() { init(&object); }
  ~SpawnObject() { destroy(&object); }
  SpawnObject(const SpawnObject&) = delete;
  SpawnObject& operator=(const SpawnObject&) = delete;
};
using SpawnActions = SpawnObject<posix_spawn_file_actions_t, posix_spawn_file_actions_init,
                                 posix_spawn_file_actions_destroy>;
using SpawnAttributes = SpawnObject<posix_spawnattr_t, posix_spawnattr_init, posix_spawnattr_destroy>;

struct Pipe {
  UniqueFd read;
  UniqueFd write;
};

bool makePipe(Pipe& pipe) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return false;
  pipe.read.reset(fds[0]);
  pipe.write.reset(fds[1]);
  return true;
}

// Reads what is available; closes the descriptor at end of file.
void drain(UniqueFd& fd, std::string& into) {
  char buffer[65536];
  ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
  if (n > 0) {
    into.append(buffer, static_cast<size_t>(n));
  } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
    fd.reset();
  }
}

void recordStatus(int status, RunResult& result) {
  if (WIFEXITED(status)) result.exitStatus = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
}

int millisecondsUntil(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

// The fork-and-exec start for what the posix_spawn start does not do: a
// file-creation mask, another user, a working directory, ignored signals,
// resource limits.
// Between fork and exec only async-signal-safe calls run. Returns the
// child's pid, or -1 when it could not be started (the child reports a
// failed exec through a close-on-exec pipe).
pid_t forkAndExec(const fs::path& exe, std::vector<char*>& argv, std::vector<char*>& envp, int out, int err,
                  const RunOptions& options) {
  UniqueFd input(::open("/dev/null", O_RDONLY | O_CLOEXEC));
  Pipe status;
  if (!input || !makePipe(status)) return -1;
  const pid_t pid = ::fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    auto fail = [&] {
      const int error = errno;
      [[maybe_unused]] ssize_t written = ::write(status.write.get(), &error, sizeof error);
      ::_exit(127);
    };
    if (::setpgid(0, 0) != 0) fail();
    if (::dup2(input.get(), 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0) fail();
    // Everything above the standard streams goes at exec, the status pipe
    // included, exactly as with posix_spawn's closefrom.
    if (::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC) != 0) fail();
    for (int number = 1; number < NSIG; ++number) ::signal(number, SIG_DFL);
    for (const int number : options.ignoredSignals) {
      if (::signal(number, SIG_IGN) == SIG_ERR) fail();
    }
    sigset_t empty;
    sigemptyset(&empty);
    if (::sigprocmask(SIG_SETMASK, &empty, nullptr) != 0) fail();
    for (const auto& [resource, limit] : options.limits) {
      const rlimit both{limit, limit};
      if (::setrlimit(resource, &both) != 0) fail();
    }
    if (options.umask) ::umask(*options.umask);
    if (options.user) {
      const auto [uid, gid] = *options.user;
      if (::setgroups(0, nullptr) != 0 || ::setresgid(gid, gid, gid) != 0 || ::setresuid(uid, uid, uid) != 0) {
        fail();
      }
    }
    if (options.workingDirectory && ::chdir(options.workingDirectory->c_str()) != 0) fail();
    ::execve(exe.c_str(), argv.data(), envp.data());
    fail();
  }
  status.write.reset();
  int childError = 0;
  ssize_t got;
  do got = ::read(status.read.get(), &childError, sizeof childError);
  while (got < 0 && errno == EINTR);
  if (got == 0) return pid;
  int ignored = 0;
  while (::waitpid(pid, &ignored, 0) < 0 && errno == EINTR) {
  }
  return -1;
}

pid_t posixSpawn(const fs::path& exe, std::vector<char*>& argv, std::vector<char*>& envp, int out, int err) {
  SpawnActions actions;
  posix_spawn_file_actions_addopen(&actions.object, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions.object, out, 1);
  posix_spawn_file_actions_adddup2(&actions.object, err, 2);
  // Nothing of the test runner's own (GoogleTest output files, other
  // children's pipes) leaks into the child.
  posix_spawn_file_actions_addclosefrom_np(&actions.object, 3);

  SpawnAttributes attributes;
  sigset_t empty, all;
  sigemptyset(&empty);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attributes.object, &empty);
  posix_spawnattr_setsigdefault(&attributes.object, &all);
  // Its own process group, so that a timeout can kill whatever it started.
  posix_spawnattr_setpgroup(&attributes.object, 0);
  posix_spawnattr_setflags(&attributes.object,
                           POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);

  pid_t pid = -1;
  if (::posix_spawn(&pid, exe.c_str(), &actions.object, &attributes.object, argv.data(), envp.data()) != 0) {
    return -1;
  }
  return pid;
}

RunResult spawnAndWait(const fs::path& exe, std::vector<char*>& argv, const Environment& env,
                       const RunOptions& options) {
  const std::chrono::milliseconds timeout = options.timeout;
  RunResult result;
  std::vector<std::string> envStrings;
  for (const auto& [key, value] : env) envStrings.push_back(key + "=" + value);
  std::vector<char*> envp;
  for (auto& entry : envStrings) envp.push_back(entry.data());
  envp.push_back(nullptr);

  Pipe out, err;
  if (!makePipe(out) || !makePipe(err)) return result;
  if (options.outputReaderGone) out.read.reset();

  const pid_t pid = options.needsFork()
                        ? forkAndExec(exe, argv, envp, out.write.get(), err.write.get(), options)
                        : posixSpawn(exe, argv, envp, out.write.get(), err.write.get());
  if (pid < 0) return result;
  result.started = true;
  out.write.reset();
  err.write.reset();

  // A pidfd turns the child's end into a poll event; without one (old
  // kernels) the loop falls back to short ticks.
  UniqueFd pidFd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
  const Clock::time_point deadline = Clock::now() + timeout;
  std::optional<Clock::time_point> outputDeadline;
  bool reaped = false;

  auto reap = [&](int flags) {
    int status = 0;
    pid_t done;
    do done = ::waitpid(pid, &status, flags);
    while (done < 0 && errno == EINTR);
    if (done == pid) {
      recordStatus(status, result);
      reaped = true;
      outputDeadline = Clock::now() + options.outputGrace;
    }
  };

  while (!reaped || out.read || err.read) {
    if (!reaped && Clock::now() >= deadline) {
      ::kill(-pid, SIGKILL);
      ::kill(pid, SIGKILL);
      result.timedOut = true;
      reap(0);
      continue;
    }
    if (reaped && Clock::now() >= *outputDeadline) {
      result.outputLeftOpen = true;
      break;
    }
    std::vector<pollfd> fds;
    if (out.read) fds.push_back({out.read.get(), POLLIN, 0});
    if (err.read) fds.push_back({err.read.get(), POLLIN, 0});
    if (!reaped && pidFd) fds.push_back({pidFd.get(), POLLIN, 0});
    int wait = millisecondsUntil(reaped ? *outputDeadline : deadline);
    if (!reaped && !pidFd) wait = std::min(wait, 20);
    if (::poll(fds.data(), fds.size(), wait) < 0 && errno != EINTR) break;
    for (const auto& entry : fds) {
      if (entry.revents == 0) continue;
      if (out.read && entry.fd == out.read.get()) drain(out.read, result.out);
      else if (err.read && entry.fd == err.read.get()) drain(err.read, result.err);
    }
    if (!reaped) reap(WNOHANG);
  }
  if (!reaped) reap(0);
  return result;
}

}  // namespace

Environment minimalEnvironment(const fs::path& home) {
  Environment env{{"PATH", "/usr/bin:/bin"}, {"HOME", home.string()}};
  for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
    if (const char* value = std::getenv(name)) env[name] = value;
  }
  return env;
}

RunResult run(const fs::path& exe, const std::vector<std::string>& args, const Environment& env,
              std::chrono::milliseconds timeout) {
  RunOptions options;
  options.timeout = timeout;
  return run(exe, args, env, options);
}

RunResult run(const fs::path& exe, const std::vector<std::string>& args, const Environment& env,
              const RunOptions& options) {
  std::string program = exe.string();
  std::vector<std::string> copies(args);
  std::vector<char*> argv{program.data()};
  for (auto& arg : copies) argv.push_back(arg.data());
  argv.push_back(nullptr);
  return spawnAndWait(exe, argv, env, options);
}

RunResult runWithEmptyArgv(const fs::path& exe, const Environment& env, std::chrono::milliseconds timeout) {
  std::vector<char*> argv{nullptr};
  RunOptions options;
  options.timeout = timeout;
  return spawnAndWait(exe, argv, env, options);
}

std::string describe(const RunResult& result) {
  std::ostringstream text;
  text << "started=" << result.started << " timedOut=" << result.timedOut;
  text << " exit=" << (result.exitStatus ? std::to_string(*result.exitStatus) : "-");
  text << " signal=" << (result.signal ? std::to_string(*result.signal) : "-");
  text << " outputLeftOpen=" << result.outputLeftOpen;
  text << "\nstdout: [" << result.out << "]\nstderr: [" << result.err << "]";
  return text.str();
}

}  // namespace harness
