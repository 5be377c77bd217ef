// A span of time as a descriptor: it becomes readable once the span has
// passed, so that a wait on other descriptors can poll it beside them and
// whoever hands it out decides when the span ends.
#pragma once

#include <chrono>

#include "platform/unique_fd.h"

namespace platform {

// A close-on-exec descriptor of the monotonic clock that becomes readable
// `span` from now (at once for a span of zero or less); none when the
// system gives no timer.
UniqueFd startTimer(std::chrono::milliseconds span);

}  // namespace platform
