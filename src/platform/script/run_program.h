// `run program`: starts an external program without a shell and collects
// its standard output.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace platform::script {

// How long `run program` waits for the program to end.
constexpr std::chrono::milliseconds kProgramGraceTime{5000};
// Output beyond this raises kErrorOutOfMemory instead of being read.
constexpr std::size_t kMaxProgramOutput = std::size_t{16} << 20;

struct ProgramRun {
  std::int64_t errorNumber = 0;  // 0 on success
  std::string message;           // why, when errorNumber is not 0
  std::string output;            // standard output, when the program ended in time
};

// Runs command[0] (looked up on PATH unless it contains '/') with the other
// items as its arguments, in a session of its own, with standard input from
// /dev/null, standard output into an unlinked temporary file and standard
// error discarded. Waits up to kProgramGraceTime: a program still running
// then is left running and counts as success with no output.
//
// Errors: exit status N gives N; killed by a signal -128; permission denied
// -1743; not found -10814; an argument holding a NUL byte, which no program
// can receive, kErrorCantCoerce; any other failure to start it, and every
// call in a build with SUPPORT_DRAFT_NO_RUN_PROGRAM, -10810.
ProgramRun runProgram(const std::vector<std::string>& command);

}  // namespace platform::script
