#include "platform/timer.h"

#include <sys/timerfd.h>

#include <ctime>

namespace platform {

UniqueFd startTimer(std::chrono::milliseconds span) {
  UniqueFd timer(::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK));
  if (!timer) return timer;
  itimerspec setting{};
  if (span.count() > 0) {
    setting.it_value.tv_sec = static_cast<time_t>(span.count() / 1000);
    setting.it_value.tv_nsec = static_cast<long>(span.count() % 1000) * 1'000'000L;
  } else {
    // A zero setting would disarm the timer; the shortest span instead.
    setting.it_value.tv_nsec = 1;
  }
  if (::timerfd_settime(timer.get(), 0, &setting, nullptr) != 0) return UniqueFd();
  return timer;
}

}  // namespace platform
