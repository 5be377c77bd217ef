#include "platform/timer.h"

#include <fcntl.h>
#include <poll.h>

#include <gtest/gtest.h>

namespace platform {
namespace {

bool readableWithin(const UniqueFd& timer, int milliseconds) {
  pollfd entry{timer.get(), POLLIN, 0};
  return poll(&entry, 1, milliseconds) == 1;
}

// A span of zero or less is over at once (a zero setting would disarm the
// timer instead); a long one is not over now; no started program gets it.
TEST(TimerTest, ReadableOnlyOnceItsSpanHasPassed) {
  constexpr int kSafetyBoundMs = 60'000;
  for (const std::chrono::milliseconds span : {std::chrono::milliseconds(0), std::chrono::milliseconds(-5)}) {
    const UniqueFd timer = startTimer(span);
    ASSERT_TRUE(timer);
    EXPECT_TRUE(readableWithin(timer, kSafetyBoundMs)) << span.count();
  }
  const UniqueFd hour = startTimer(std::chrono::hours(1));
  ASSERT_TRUE(hour);
  EXPECT_FALSE(readableWithin(hour, 0));
  EXPECT_NE(fcntl(hour.get(), F_GETFD) & FD_CLOEXEC, 0);
}

}  // namespace
}  // namespace platform
