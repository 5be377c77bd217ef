// `run program`: starts an external program without a shell and collects
// its standard output, or leaves it to run on its own.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/child_process.h"

namespace mail {

// How long `run program` waits for the program to end.
constexpr std::chrono::milliseconds kProgramGraceTime{5000};
// Output of this many bytes or more raises kErrorOutOfMemory instead of
// being read: the file that takes it holds no more, and the program's
// writes beyond it fail, so its output never takes more room.
constexpr std::size_t kMaxProgramOutput = platform::kMaxChildOutput;

struct ProgramRun {
  std::int64_t errorNumber = 0;  // 0 on success
  std::string message;           // why, when errorNumber is not 0
  std::string output;            // standard output, when the program ended in time
};

// Runs command[0] (looked up in the absolute directories of `environment`'s
// PATH unless it contains '/', never in the current directory) with the
// other items as its arguments, in a process group of its own (in the
// caller's session: child_process.h), with `environment`
// (handedOnEnvironment: PATH cut down to its absolute directories),
// standard input from /dev/null, standard output into a memory file of
// kMaxProgramOutput bytes, standard error discarded. Waits up
// to `grace`: a program still running then is left running and counts as
// success with no output, or, with AtDeadline::End, is ended with its
// process group and raises kErrorTimedOut.
//
// With `input` not empty, standard input is a memory file holding those
// bytes, sealed against change, instead of /dev/null: a way to hand a
// program what others may not read in its command line.
//
// Errors: exit status N gives N; killed by a signal -128; not found
// -10814; an argument holding a NUL byte, which no program can receive,
// kErrorCantCoerce; any other failure to start it (a file that may not be
// executed, a directory on PATH that may not be searched) -10810. Never -1743: a
// program that cannot start is a broken installation, not a missing
// permission.
ProgramRun runProgram(const std::vector<std::string>& command, const std::vector<std::string>& environment,
                      std::chrono::milliseconds grace, platform::AtDeadline atDeadline, std::string_view input = {});

// A program started to run its course on its own (startDetached).
struct ProgramStart {
  std::int64_t errorNumber = 0;  // 0 when it runs
  std::string message;           // why, when errorNumber is not 0
  platform::UniqueFd ended;                // readable once it has ended: awaitDetached reads how
};

// Starts command[0] as runProgram does, with standard output discarded too,
// and returns once it runs. Errors as runProgram's for a program that
// cannot start.
ProgramStart startProgram(const std::vector<std::string>& command, const std::vector<std::string>& environment);

}  // namespace mail
