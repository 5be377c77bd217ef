#include "platform/scripting/run_program.h"

#include "platform/scripting/errors.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "platform/scripting/program_search.h"
#include "platform/unique_fd.h"

extern char** environ;

namespace platform::scripting {

namespace {

ProgramRun failure(std::int64_t number, std::string message) {
  return ProgramRun{number, std::move(message), {}};
}

ProgramRun systemFailure(const char* call) {
  return failure(kErrorLaunchFailed, std::string(call) + " failed: " + std::strerror(errno));
}

// The file actions and attributes of one spawn, destroyed with it.
class SpawnSetup {
 public:
  SpawnSetup() {
    actionsReady_ = posix_spawn_file_actions_init(&actions_) == 0;
    attributesReady_ = posix_spawnattr_init(&attributes_) == 0;
  }
  ~SpawnSetup() {
    if (actionsReady_) posix_spawn_file_actions_destroy(&actions_);
    if (attributesReady_) posix_spawnattr_destroy(&attributes_);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  // Standard streams from the given descriptors, every other descriptor
  // closed, a new session, no blocked signals and default dispositions (a
  // signal this process ignores stays ignored otherwise). Returns 0 or an
  // error number.
  int prepare(int input, int output, int errors) {
    if (!actionsReady_ || !attributesReady_) return ENOMEM;
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    for (const int error : {
             posix_spawn_file_actions_adddup2(&actions_, input, STDIN_FILENO),
             posix_spawn_file_actions_adddup2(&actions_, output, STDOUT_FILENO),
             posix_spawn_file_actions_adddup2(&actions_, errors, STDERR_FILENO),
             posix_spawn_file_actions_addclosefrom_np(&actions_, STDERR_FILENO + 1),
             posix_spawnattr_setsigmask(&attributes_, &none),
             posix_spawnattr_setsigdefault(&attributes_, &all),
             posix_spawnattr_setflags(&attributes_,
                                      POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF),
         }) {
      if (error != 0) return error;
    }
    return 0;
  }

  const posix_spawn_file_actions_t* actions() const { return &actions_; }
  const posix_spawnattr_t* attributes() const { return &attributes_; }

 private:
  posix_spawn_file_actions_t actions_{};
  posix_spawnattr_t attributes_{};
  bool actionsReady_ = false;
  bool attributesReady_ = false;
};

// The same descriptor moved above the standard streams: with this
// process's own standard streams closed, a new descriptor can be 0, 1 or 2,
// and setting up the child's streams would then overwrite one of them.
UniqueFd aboveStandardStreams(UniqueFd fd) {
  if (!fd || fd.get() > STDERR_FILENO) return fd;
  return UniqueFd(fcntl(fd.get(), F_DUPFD_CLOEXEC, STDERR_FILENO + 1));
}

// MFD_NOEXEC_SEAL is newer than some C library headers.
#ifndef MFD_NOEXEC_SEAL
#define MFD_NOEXEC_SEAL 0x0008U
#endif

// A memory file for the program's output, as large as the output cap and
// sealed against growing or shrinking: a write beyond it fails, so a
// program that keeps writing (a mail client left running in the foreground
// logs for as long as it runs) holds at most that much memory instead of an
// ever larger file. The program writes at the file's shared offset, which
// tells how much it wrote; a refused write leaves the offset at the cap,
// since the kernel refuses it in whole pages (or larger power-of-two
// blocks), which the cap is a multiple of. Never a pipe, so that a program
// left running is not killed by a broken pipe once this process has gone.
UniqueFd outputFile() {
  // Kernels that forbid executable memory files refuse one without
  // MFD_NOEXEC_SEAL; kernels that predate it refuse the flag.
  UniqueFd fd(memfd_create("run-program-output", MFD_CLOEXEC | MFD_ALLOW_SEALING | MFD_NOEXEC_SEAL));
  if (!fd && errno == EINVAL) fd.reset(memfd_create("run-program-output", MFD_CLOEXEC | MFD_ALLOW_SEALING));
  if (!fd) return fd;
  if (ftruncate(fd.get(), static_cast<off_t>(kMaxProgramOutput)) != 0) return UniqueFd();
  if (fcntl(fd.get(), F_ADD_SEALS, F_SEAL_GROW | F_SEAL_SHRINK | F_SEAL_SEAL) != 0) return UniqueFd();
  return fd;
}

std::int64_t launchErrorNumber(int error) {
  return error == ENOENT || error == ENOTDIR ? kErrorProgramNotFound : kErrorLaunchFailed;
}

// Starts the first candidate that can be started, passing over those that
// are not there, as the C library's look-up does (but never in the current
// directory). Returns 0, or why nothing was started: the refusal met on the
// way (a file that may not be executed, a directory that may not be
// searched) or ENOENT when no candidate was there.
int spawnFirst(const std::vector<std::string>& candidates, const SpawnSetup& setup, char* const* argv,
               char* const* envp, pid_t& pid) {
  int refusal = 0;
  for (const std::string& candidate : candidates) {
    // Looking first spares a process start for every directory on the path
    // that does not hold the program.
    if (access(candidate.c_str(), F_OK) != 0 && (errno == ENOENT || errno == ENOTDIR)) continue;
    const int error = posix_spawn(&pid, candidate.c_str(), setup.actions(), setup.attributes(), argv, envp);
    if (error == 0) return 0;
    if (error == EACCES) {
      refusal = error;
    } else if (error != ENOENT && error != ENOTDIR) {
      return error;
    }
  }
  return refusal != 0 ? refusal : ENOENT;
}

// Pointers to the given strings, ended by a null pointer, as exec takes them.
std::vector<char*> nullTerminated(const std::vector<std::string>& words) {
  std::vector<char*> pointers;
  pointers.reserve(words.size() + 1);
  for (const std::string& word : words) pointers.push_back(const_cast<char*>(word.c_str()));
  pointers.push_back(nullptr);
  return pointers;
}

enum class Wait { Exited, StillRunning, Failed };

// Waits until the child ends or the deadline passes, checking now and then;
// for kernels without process descriptors.
Wait waitByPolling(pid_t pid, std::chrono::steady_clock::time_point deadline, int& status) {
  for (;;) {
    const pid_t result = waitpid(pid, &status, WNOHANG);
    if (result == pid) return Wait::Exited;
    if (result < 0 && errno != EINTR) return Wait::Failed;
    if (std::chrono::steady_clock::now() >= deadline) return Wait::StillRunning;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

// A descriptor that becomes readable when the process ends. Called through
// syscall(): the C library's own wrapper is missing from some releases.
UniqueFd processDescriptor(pid_t pid) {
  return UniqueFd(static_cast<int>(syscall(SYS_pidfd_open, pid, 0)));
}

Wait waitAtMost(pid_t pid, std::chrono::milliseconds grace, int& status) {
  const auto deadline = std::chrono::steady_clock::now() + grace;
  const UniqueFd process = processDescriptor(pid);
  if (!process) return waitByPolling(pid, deadline, status);
  for (;;) {
    // Rounded up: a time cut down to whole milliseconds would end the wait
    // before the grace time is over.
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd entry{process.get(), POLLIN, 0};
    const int ready = poll(&entry, 1, static_cast<int>(std::max<std::int64_t>(left.count(), 0)));
    if (ready > 0) break;
    if (ready == 0 && std::chrono::steady_clock::now() >= deadline) return Wait::StillRunning;
    if (ready < 0 && errno != EINTR) return waitByPolling(pid, deadline, status);
  }
  for (;;) {
    if (waitpid(pid, &status, 0) == pid) return Wait::Exited;
    if (errno != EINTR) return Wait::Failed;
  }
}

// What the program wrote to the output file: the bytes up to the file's
// offset, which its writes moved. A full file may have refused more.
ProgramRun readOutput(int fd) {
  const off_t end = lseek(fd, 0, SEEK_CUR);
  if (end < 0) return systemFailure("lseek");
  const auto size = static_cast<std::size_t>(end);
  if (size >= kMaxProgramOutput) return failure(kErrorOutOfMemory, "The program's output is too large.");
  ProgramRun run;
  run.output.resize(size);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = pread(fd, run.output.data() + done, size - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return systemFailure("pread");
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  run.output.resize(done);
  return run;
}

}  // namespace

ProgramRun runProgram(const std::vector<std::string>& command, std::chrono::milliseconds grace) {
  if (command.empty()) return failure(kErrorNoSuchItem, "Can't get item 1 of {}.");
  for (const std::string& word : command) {
    if (word.find('\0') != std::string::npos) {
      return failure(kErrorCantCoerce, "A program argument can't hold a NUL character.");
    }
  }
  const UniqueFd input = aboveStandardStreams(UniqueFd(open("/dev/null", O_RDONLY | O_CLOEXEC)));
  if (!input) return systemFailure("open /dev/null");
  const UniqueFd discard = aboveStandardStreams(UniqueFd(open("/dev/null", O_WRONLY | O_CLOEXEC)));
  if (!discard) return systemFailure("open /dev/null");
  const UniqueFd output = aboveStandardStreams(outputFile());
  if (!output) return systemFailure("memfd_create");

  SpawnSetup setup;
  if (const int error = setup.prepare(input.get(), output.get(), discard.get()); error != 0) {
    return failure(kErrorLaunchFailed, std::string("posix_spawn setup failed: ") + std::strerror(error));
  }
  const std::vector<char*> argv = nullTerminated(command);
  std::vector<std::string_view> environment;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) environment.emplace_back(*entry);
  const std::vector<std::string> handedOn = handedOnEnvironment(environment);
  const std::vector<char*> envp = nullTerminated(handedOn);

  pid_t pid = -1;
  if (const int error = spawnFirst(programCandidates(command[0], searchPathOf(environment)), setup, argv.data(),
                                   envp.data(), pid);
      error != 0) {
    return failure(launchErrorNumber(error), "Can't run “" + command[0] + "”: " + std::strerror(error));
  }

  int status = 0;
  switch (waitAtMost(pid, grace, status)) {
    case Wait::StillRunning:
      return ProgramRun{};
    case Wait::Failed:
      return systemFailure("waitpid");
    case Wait::Exited:
      break;
  }
  if (WIFSIGNALED(status)) {
    return failure(platform::kErrorKilledBySignal, "“" + command[0] + "” was ended by signal " +
                                             std::to_string(WTERMSIG(status)) + ".");
  }
  if (WEXITSTATUS(status) != 0) {
    return failure(WEXITSTATUS(status), "“" + command[0] + "” ended with status " +
                                            std::to_string(WEXITSTATUS(status)) + ".");
  }
  return readOutput(output.get());
}

}  // namespace platform::scripting
