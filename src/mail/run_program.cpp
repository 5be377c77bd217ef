#include "mail/run_program.h"

#include <sys/wait.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <string_view>

#include "mail/program_search.h"
#include "platform/child_process.h"
#include "platform/error_numbers.h"
#include "platform/memory_file.h"

namespace mail {

using namespace platform;

namespace {

ProgramRun failure(std::int64_t number, std::string message) {
  return ProgramRun{number, std::move(message), {}};
}

ProgramRun systemFailure(const char* what, int error) {
  return failure(kErrorLaunchFailed, std::string(what) + " failed: " + std::strerror(error));
}

std::int64_t launchErrorNumber(int error) {
  return error == ENOENT || error == ENOTDIR ? kErrorProgramNotFound : kErrorLaunchFailed;
}

std::string cantRun(const std::string& program, int error) {
  return "Can't run “" + program + "”: " + std::strerror(error);
}

// Why `command` cannot be started at all, as an error; 0 when it can be tried.
ProgramRun refusal(const std::vector<std::string>& command) {
  if (command.empty()) return failure(kErrorNoSuchItem, "Can't get item 1 of {}.");
  for (const std::string& word : command) {
    if (word.find('\0') != std::string::npos) {
      return failure(kErrorCantCoerce, "A program argument can't hold a NUL character.");
    }
  }
  return {};
}

ChildSpec specFor(const std::vector<std::string>& command, const std::vector<std::string>& environment) {
  ChildSpec spec;
  spec.paths = programCandidates(command[0], searchPathOf(environment));
  spec.arguments = command;
  spec.environment = handedOnEnvironment(environment);
  // Ended with its group at a deadline; started without the wait a
  // session of its own costs on a loaded machine (child_process.h).
  spec.grouping = ChildSpec::Grouping::OwnProcessGroup;
  return spec;
}

}  // namespace

ProgramRun runProgram(const std::vector<std::string>& command, const std::vector<std::string>& environment,
                      std::chrono::milliseconds grace, AtDeadline atDeadline, std::string_view input) {
  if (ProgramRun refused = refusal(command); refused.errorNumber != 0) return refused;
  ChildSpec spec = specFor(command, environment);
  spec.output = kCaptureStream;
  std::optional<UniqueFd> inputFile;
  if (!input.empty()) {
    inputFile = sealedMemoryFile(input);
    if (!inputFile) return systemFailure("memfd_create", errno);
    spec.input = inputFile->get();
  }
  ChildStart start = startChild(spec);
  if (start.error != 0) return failure(launchErrorNumber(start.error), cantRun(command[0], start.error));

  const ChildWait end = start.child.wait(grace, atDeadline);
  switch (end.state) {
    case ChildWait::State::StillRunning:
      return ProgramRun{};
    case ChildWait::State::EndedAtDeadline:
      return failure(kErrorTimedOut, "“" + command[0] + "” did not end in time and was ended.");
    case ChildWait::State::Unknown:
    case ChildWait::State::EndedOnRequest:  // detached starts only
    case ChildWait::State::NotStarted:
      return systemFailure("waitpid", end.error);
    case ChildWait::State::Ended:
      break;
  }
  if (WIFSIGNALED(end.waitStatus)) {
    return failure(kErrorKilledBySignal, "“" + command[0] + "” was ended by signal " +
                                             std::to_string(WTERMSIG(end.waitStatus)) + ".");
  }
  if (WEXITSTATUS(end.waitStatus) != 0) {
    return failure(WEXITSTATUS(end.waitStatus), "“" + command[0] + "” ended with status " +
                                                    std::to_string(WEXITSTATUS(end.waitStatus)) + ".");
  }
  CapturedOutput output = start.child.capturedOutput();
  if (output.error != 0) return systemFailure("reading the output", output.error);
  if (output.full) return failure(kErrorOutOfMemory, "The program's output is too large.");
  return ProgramRun{0, {}, std::move(output.bytes)};
}

ProgramStart startProgram(const std::vector<std::string>& command, const std::vector<std::string>& environment) {
  if (ProgramRun refused = refusal(command); refused.errorNumber != 0) {
    return {refused.errorNumber, std::move(refused.message), {}};
  }
  DetachedStart start = startDetached(specFor(command, environment));
  if (start.error != 0) return {launchErrorNumber(start.error), cantRun(command[0], start.error), {}};
  return {0, {}, std::move(start.ended)};
}

}  // namespace mail
