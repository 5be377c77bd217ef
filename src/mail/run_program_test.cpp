#include "mail/run_program.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/error_numbers.h"
#include "platform/unique_fd.h"
#include "testing/fifo.h"
#include "testing/scratch_directory.h"

namespace mail {
namespace {

using namespace platform;

namespace fs = std::filesystem;

// runProgram in this process's environment.
ProgramRun runProgram(const std::vector<std::string>& command, std::chrono::milliseconds grace = kProgramGraceTime) {
  return mail::runProgram(command, processEnvironment(), grace, AtDeadline::LeaveRunning);
}

class RunProgramTest : public ::testing::Test {
 protected:

  fs::path write(const std::string& name, const std::string& content, fs::perms perms) {
    const fs::path path = dir_ / name;
    std::ofstream(path) << content;
    fs::permissions(path, perms);
    return path;
  }

  testing_support::ScratchDirectory scratch_;
  const fs::path dir_{scratch_.path()};
};

TEST_F(RunProgramTest, OutputIsCapturedAndArgumentsArriveByteForByte) {
  const std::string tricky = "\"q\" $(touch /tmp/x) \\n\n\tT\xC3\xBCrk\xC3\xA7" "e *";
  const ProgramRun run = runProgram({"printf", "[%s][%s]", tricky, ""});
  EXPECT_EQ(run.errorNumber, 0);
  EXPECT_EQ(run.output, "[" + tricky + "][]");
}

// Input given is the program's standard input, a memory file sealed
// against change; without it standard input is /dev/null.
TEST_F(RunProgramTest, InputIsASealedMemoryFileOnStandardInput) {
  static constexpr char kInput[] = "subject\0body it's \"q\"\n";
  const std::string input(kInput, sizeof kInput - 1);  // the NUL inside kept, the final one not
  const ProgramRun fed = mail::runProgram({"sh", "-c", "cat; printf '|'; readlink /proc/self/fd/0"},
                                              processEnvironment(), kProgramGraceTime, AtDeadline::LeaveRunning, input);
  ASSERT_EQ(fed.errorNumber, 0) << fed.message;
  EXPECT_EQ(fed.output.substr(0, input.size() + 1), input + "|");
  EXPECT_TRUE(fed.output.substr(input.size() + 1).starts_with("/memfd:")) << fed.output;
  const ProgramRun writes =
      mail::runProgram({"sh", "-c", "printf x >> /proc/self/fd/0 2>/dev/null; cat /proc/self/fd/0"},
                           processEnvironment(), kProgramGraceTime, AtDeadline::LeaveRunning, input);
  EXPECT_EQ(writes.output, input) << "the input could be changed";
  EXPECT_EQ(runProgram({"readlink", "/proc/self/fd/0"}).output, "/dev/null\n");
}

TEST_F(RunProgramTest, ExitStatusAndSignalBecomeErrors) {
  EXPECT_EQ(runProgram({"sh", "-c", "echo partial; exit 3"}).errorNumber, 3);
  EXPECT_EQ(runProgram({"/bin/sh", "-c", "exit 255"}).errorNumber, 255);
  EXPECT_EQ(runProgram({"sh", "-c", "kill -KILL $$"}).errorNumber, -128);
}

TEST_F(RunProgramTest, ProgramsThatCannotStart) {
  EXPECT_EQ(runProgram({"no-such-program-for-run-program-test"}).errorNumber, kErrorProgramNotFound);
  EXPECT_EQ(runProgram({(dir_ / "missing").string()}).errorNumber, kErrorProgramNotFound);
  EXPECT_EQ(runProgram({""}).errorNumber, kErrorProgramNotFound);
  const fs::path plain = write("plain", "#!/bin/sh\necho hi\n", fs::perms::owner_read | fs::perms::owner_write);
  // Not executable: a failed start, not a missing permission of the user.
  EXPECT_EQ(runProgram({plain.string()}).errorNumber, kErrorLaunchFailed);
  EXPECT_EQ(runProgram({dir_.string()}).errorNumber, kErrorLaunchFailed);
  EXPECT_EQ(runProgram({"printf", std::string("a\0b", 3)}).errorNumber, kErrorCantCoerce);
  EXPECT_EQ(runProgram({}).errorNumber, kErrorNoSuchItem);
}

// The program gets the environment it is given, not this process's, with
// PATH cut to its absolute directories and looked up there.
TEST_F(RunProgramTest, ProgramGetsTheGivenEnvironment) {
  const std::vector<std::string> environment = {"GIVEN=yes", "PATH=.:" + dir_.string() + ":/bin:/usr/bin"};
  write("here", "#!/bin/sh\nprintf '%s %s' \"$GIVEN\" \"$PATH\"\n", fs::perms::owner_all);
  const ProgramRun run = mail::runProgram({"here"}, environment, kProgramGraceTime, AtDeadline::LeaveRunning);
  EXPECT_EQ(run.output, "yes " + dir_.string() + ":/bin:/usr/bin") << run.message;
}

// A program left to run on its own tells its end through the descriptor;
// one that cannot start is refused as runProgram refuses it.
TEST_F(RunProgramTest, StartedProgramTellsItsEnd) {
  const ProgramStart start = startProgram({"sh", "-c", "exit 6"}, processEnvironment());
  ASSERT_EQ(start.errorNumber, 0) << start.message;
  const ChildWait end = awaitDetached(start.ended.get(), std::chrono::seconds(60));
  ASSERT_EQ(end.state, ChildWait::State::Ended);
  EXPECT_EQ(WEXITSTATUS(end.waitStatus), 6);
  for (const std::vector<std::string>& command : std::vector<std::vector<std::string>>{
           {"no-such-program-for-run-program-test"}, {dir_.string()}, {"printf", std::string("a\0b", 3)}, {}}) {
    const ProgramStart refused = startProgram(command, processEnvironment());
    EXPECT_EQ(refused.errorNumber, runProgram(command).errorNumber);
    EXPECT_FALSE(refused.ended);
  }
}

TEST_F(RunProgramTest, OutputIsReadBelowTheCapAndTakesNoMoreRoom) {
  const ProgramRun largest = runProgram({"head", "-c", std::to_string(kMaxProgramOutput - 1), "/dev/zero"});
  EXPECT_EQ(largest.errorNumber, 0);
  EXPECT_EQ(largest.output.size(), kMaxProgramOutput - 1);
  EXPECT_EQ(largest.output.find_first_not_of('\0'), std::string::npos);
  EXPECT_EQ(runProgram({"head", "-c", std::to_string(kMaxProgramOutput), "/dev/zero"}).errorNumber,
            kErrorOutOfMemory);

  // A program writing four times the cap, in writes that do not end on the
  // cap, records the room its output took (blocks of 512 bytes) once its
  // writes have failed.
  const fs::path room = dir_ / "room";
  const ProgramRun flood =
      runProgram({"sh", "-c",
                  "exec 3>&1; dd if=/dev/zero bs=4099 count=16400; stat -L -c %b /proc/self/fd/3 > \"$1\"", "sh",
                  room.string()});
  EXPECT_EQ(flood.errorNumber, kErrorOutOfMemory);
  std::uint64_t blocks = 0;
  std::ifstream(room) >> blocks;
  EXPECT_GT(blocks, 0u);
  EXPECT_LE(blocks * 512, kMaxProgramOutput);
}

// A process group of its own, to be ended as a whole; the caller's session,
// since a session of its own is slow to start on a loaded machine.
TEST_F(RunProgramTest, ChildGetsNullInputAndAProcessGroupOfItsOwn) {
  const ProgramRun run =
      runProgram({"sh", "-c", "readlink /proc/self/fd/0; echo $$; cut -d' ' -f5,6 /proc/$$/stat"});
  ASSERT_EQ(run.errorNumber, 0);
  std::istringstream lines(run.output);
  std::string input, pid, group, session;
  std::getline(lines, input);
  std::getline(lines, pid);
  lines >> group >> session;
  EXPECT_EQ(input, "/dev/null");
  EXPECT_EQ(pid, group);
  EXPECT_EQ(session, std::to_string(getsid(0)));
}

// At the deadline the program's whole group is ended, what it started too.
// The deadline is the shortest that lets the shell start its child and say
// its id: a run whose shell was ended before that is made again with twice
// the time.
TEST_F(RunProgramTest, ProgramEndedAtTheDeadlineTakesItsGroupAlong) {
  const fs::path pidFile = dir_ / "pid";
  pid_t started = 0;
  for (std::chrono::milliseconds deadline{100}; started <= 0; deadline *= 2) {
    ASSERT_LE(deadline, std::chrono::minutes(1)) << "the shell never started its child";
    fs::remove(pidFile);
    const ProgramRun run = mail::runProgram({"sh", "-c", "sleep 600 & echo $! > \"$1\"; wait", "sh", pidFile},
                                            processEnvironment(), deadline, AtDeadline::End);
    EXPECT_EQ(run.errorNumber, kErrorTimedOut);
    std::ifstream(pidFile) >> started;
  }
  // The child's process descriptor becomes readable once it has ended;
  // one that is gone already has none. The bound only keeps a child that
  // was left running from hanging the test.
  const UniqueFd child(static_cast<int>(syscall(SYS_pidfd_open, started, 0)));
  if (!child) {
    EXPECT_EQ(errno, ESRCH);
    return;
  }
  pollfd ended{child.get(), POLLIN, 0};
  EXPECT_EQ(poll(&ended, 1, 60'000), 1) << "the program's child outlived the deadline";
}

TEST_F(RunProgramTest, NothingReachesThisProcesssOwnOutput) {
  const fs::path capture = dir_ / "captured";
  const int sink = open(capture.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  ASSERT_GE(sink, 0);
  const int savedOut = dup(STDOUT_FILENO);
  const int savedErr = dup(STDERR_FILENO);
  ASSERT_GE(savedOut, 0);
  ASSERT_GE(savedErr, 0);
  dup2(sink, STDOUT_FILENO);
  dup2(sink, STDERR_FILENO);
  const ProgramRun run = runProgram({"sh", "-c", "echo to-stderr >&2; echo to-stdout; exit 4"});
  dup2(savedOut, STDOUT_FILENO);
  dup2(savedErr, STDERR_FILENO);
  close(savedOut);
  close(savedErr);
  close(sink);
  EXPECT_EQ(run.errorNumber, 4);
  EXPECT_EQ(fs::file_size(capture), 0u);
}

TEST_F(RunProgramTest, ProgramStillRunningAfterTheGraceTimeCountsAsSuccess) {
  constexpr std::chrono::milliseconds kShortGrace{50};
  // The program says its id only to a reader of the pipe, which comes once
  // the run has returned: it is still running then, whatever the speed.
  const std::string pidPipe = dir_ / "pid";
  testing_support::makeFifo(pidPipe);
  const auto started = std::chrono::steady_clock::now();
  const ProgramRun run =
      runProgram({"sh", "-c", "echo early; echo $$ > \"$1\"; exec sleep 60", "sh", pidPipe}, kShortGrace);
  const auto waited = std::chrono::steady_clock::now() - started;
  EXPECT_EQ(run.errorNumber, 0);
  EXPECT_EQ(run.output, "");
  EXPECT_GE(waited, kShortGrace) << "the run did not wait out its grace";

  const std::string said = testing_support::readFifo(pidPipe);
  const pid_t pid = static_cast<pid_t>(std::atol(said.c_str()));
  ASSERT_GT(pid, 0) << "the program was not left running to say its id";
  EXPECT_EQ(kill(pid, 0), 0) << "the program was not left running";
  // Reaped too, so that no later test in this process finds a child of it.
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

}  // namespace
}  // namespace mail
