#include "platform/abnormal_end.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>

namespace platform {
namespace {

// Recurses until the stack runs out; the test that follows never returns.
[[gnu::noinline]] std::size_t deeper(std::size_t depth) {
  volatile char frame[1024];
  frame[0] = static_cast<char>(depth);
  if (depth == SIZE_MAX) return frame[0];
  return deeper(depth + 1) + static_cast<std::size_t>(frame[0]);
}

// How a child that set up its end with `status` and then ran `fault` ended.
template <typename Fault>
int endOf(int status, Fault fault) {
  const pid_t child = ::fork();
  if (child == 0) {
    endOnTerminate(status);
    fault();
    ::_exit(0);
  }
  int waitStatus = 0;
  if (child < 0 || ::waitpid(child, &waitStatus, 0) != child) return -1;
  return waitStatus;
}

TEST(AbnormalEndTest, AStackThatRanOutEndsWithTheStatus) {
  struct sigaction current {};
  ASSERT_EQ(::sigaction(SIGSEGV, nullptr, &current), 0);
  if (current.sa_handler != SIG_DFL) GTEST_SKIP() << "a handler of the test's runtime keeps the faults";

  const int overflowed = endOf(7, [] { deeper(0); });
  ASSERT_TRUE(WIFEXITED(overflowed)) << "ended by signal " << WTERMSIG(overflowed);
  EXPECT_EQ(WEXITSTATUS(overflowed), 7);
}

}  // namespace
}  // namespace platform
