// Running a child process with a controlled argument vector and environment,
// capturing both output streams in full.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <sstream>
#include <stdexcept>

#include "harness.h"
#include "platform/child_process.h"

namespace harness {

namespace {

using Clock = std::chrono::steady_clock;

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

int millisecondsUntil(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

std::string limitOption(int resource) {
  switch (resource) {
    case RLIMIT_AS: return "--as";
    case RLIMIT_CPU: return "--cpu";
    case RLIMIT_FSIZE: return "--fsize";
    case RLIMIT_NOFILE: return "--nofile";
    case RLIMIT_NPROC: return "--nproc";
    case RLIMIT_DATA: return "--data";
    case RLIMIT_STACK: return "--stack";
    default: throw std::invalid_argument("no prlimit option for resource " + std::to_string(resource));
  }
}

// The programs that set up what a spawn does not and then exec the next
// word: setpriv (the user), env (the directory, entered as that user, and
// the ignored signals) and prlimit, last, so that its limits bind the
// program alone.
std::vector<std::string> setupPrograms(const RunOptions& options) {
  std::vector<std::string> words;
  if (options.user) {
    words.insert(words.end(), {"/usr/bin/setpriv", "--reuid=" + std::to_string(options.user->first),
                               "--regid=" + std::to_string(options.user->second), "--clear-groups", "--"});
  }
  if (options.workingDirectory || !options.ignoredSignals.empty()) {
    words.push_back("/usr/bin/env");
    if (options.workingDirectory) words.push_back("--chdir=" + options.workingDirectory->string());
    for (const int number : options.ignoredSignals) words.push_back("--ignore-signal=" + std::to_string(number));
    words.push_back("--");
  }
  if (!options.limits.empty()) {
    words.push_back("/usr/bin/prlimit");
    for (const auto& [resource, limit] : options.limits) {
      words.push_back(limitOption(resource) + "=" + std::to_string(limit) + ":" + std::to_string(limit));
    }
    words.push_back("--");
  }
  return words;
}

RunResult spawnAndWait(const fs::path& exe, std::vector<std::string> argv, const Environment& env,
                       const RunOptions& options) {
  RunResult result;
  Pipe out, err;
  if (!makePipe(out) || !makePipe(err)) return result;
  if (options.outputReaderGone) out.read.reset();

  // A set-up program execs the words after it, the program's path first
  // (argv[0], which run() makes the path).
  platform::ChildSpec spec;
  spec.arguments = setupPrograms(options);
  spec.paths = {spec.arguments.empty() ? exe.string() : spec.arguments.front()};
  spec.arguments.insert(spec.arguments.end(), argv.begin(), argv.end());
  spec.environment.emplace();
  for (const auto& [key, value] : env) spec.environment->push_back(key + "=" + value);
  spec.output = out.write.get();
  spec.errors = err.write.get();
  // The mask is handed on at the start; the tests run on one thread.
  const std::optional<mode_t> savedMask = options.umask ? std::optional(::umask(*options.umask)) : std::nullopt;
  platform::ChildStart start = platform::startChild(spec);
  if (savedMask) ::umask(*savedMask);
  if (start.error != 0) return result;
  result.started = true;
  out.write.reset();
  err.write.reset();

  platform::Child& child = start.child;
  const Clock::time_point deadline = Clock::now() + options.timeout;
  std::optional<Clock::time_point> outputDeadline;
  auto note = [&](const platform::ChildWait& wait) {
    if (wait.state == platform::ChildWait::State::StillRunning) return;
    if (wait.state != platform::ChildWait::State::Unknown) {
      if (WIFEXITED(wait.waitStatus)) result.exitStatus = WEXITSTATUS(wait.waitStatus);
      if (WIFSIGNALED(wait.waitStatus)) result.signal = WTERMSIG(wait.waitStatus);
    }
    result.timedOut = wait.state == platform::ChildWait::State::EndedAtDeadline;
    outputDeadline = Clock::now() + options.outputGrace;
  };

  while (!outputDeadline || out.read || err.read) {
    if (!outputDeadline && Clock::now() >= deadline) {
      note(child.wait(std::chrono::milliseconds(0), platform::AtDeadline::End));
      continue;
    }
    if (outputDeadline && Clock::now() >= *outputDeadline) {
      result.outputLeftOpen = true;
      break;
    }
    std::vector<pollfd> fds;
    if (out.read) fds.push_back({out.read.get(), POLLIN, 0});
    if (err.read) fds.push_back({err.read.get(), POLLIN, 0});
    const int process = child.processDescriptor();
    if (!outputDeadline && process >= 0) fds.push_back({process, POLLIN, 0});
    int wait = millisecondsUntil(outputDeadline ? *outputDeadline : deadline);
    // Without a process descriptor (old kernels) the end is looked for in
    // short ticks.
    if (!outputDeadline && process < 0) wait = std::min(wait, 20);
    if (::poll(fds.data(), fds.size(), wait) < 0 && errno != EINTR) break;
    for (const auto& entry : fds) {
      if (entry.revents == 0) continue;
      if (out.read && entry.fd == out.read.get()) drain(out.read, result.out);
      else if (err.read && entry.fd == err.read.get()) drain(err.read, result.err);
    }
    if (!outputDeadline) note(child.wait(std::chrono::milliseconds(0), platform::AtDeadline::LeaveRunning));
  }
  if (!outputDeadline) note(child.wait(std::chrono::milliseconds(millisecondsUntil(deadline)), platform::AtDeadline::End));
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
  std::vector<std::string> argv{exe.string()};
  argv.insert(argv.end(), args.begin(), args.end());
  return spawnAndWait(exe, std::move(argv), env, options);
}

RunResult runWithEmptyArgv(const fs::path& exe, const Environment& env, std::chrono::milliseconds timeout) {
  RunOptions options;
  options.timeout = timeout;
  return spawnAndWait(exe, {}, env, options);
}

Companion::Companion(const fs::path& exe, const std::vector<std::string>& args, const Environment& env) {
  Pipe in, out;
  if (!makePipe(in) || !makePipe(out)) return;
  platform::ChildSpec spec;
  spec.paths = {exe.string()};
  spec.arguments = {exe.string()};
  spec.arguments.insert(spec.arguments.end(), args.begin(), args.end());
  spec.environment.emplace();
  for (const auto& [key, value] : env) spec.environment->push_back(key + "=" + value);
  spec.input = in.read.get();
  spec.output = out.write.get();
  spec.errors = STDERR_FILENO;
  platform::ChildStart start = platform::startChild(spec);
  if (start.error != 0) return;
  child_.emplace(std::move(start.child));
  input_ = std::move(in.write);
  output_ = std::move(out.read);
  out.write.reset();

  std::string said;
  const Clock::time_point deadline = Clock::now() + kDefaultTimeout;
  while (said.find('\n') == std::string::npos && output_) {
    pollfd entry{output_.get(), POLLIN, 0};
    const int ready = ::poll(&entry, 1, millisecondsUntil(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) break;
    drain(output_, said);
  }
  if (const std::size_t end = said.find('\n'); end != std::string::npos) readyLine_ = said.substr(0, end);
}

Companion::~Companion() {
  input_.reset();
  output_.reset();
  if (child_) child_->wait(kDefaultTimeout, platform::AtDeadline::End);
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
