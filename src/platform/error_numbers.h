// Error numbers that more than one service reports or reads: a started
// program's end, `run program`'s refusals, which the interpreter raises for
// its own faults too, and the user's refusal to let this program drive the
// mail client.
#pragma once

#include <cstdint>

namespace platform {
// Inline, so that these are platform's names and a service above can take
// them as its own with one using-directive.
inline namespace error_numbers {

// A started program was ended by a signal (a crash on start).
constexpr std::int64_t kErrorKilledBySignal = -128;
// The user has not permitted driving the mail client: raised by a script
// itself or by the mail service's refusal, never by a program that fails to
// start.
constexpr std::int64_t kErrorPermissionDenied = -1743;
// A program that could not be started for any other reason.
constexpr std::int64_t kErrorLaunchFailed = -10810;
// A program that could not be found.
constexpr std::int64_t kErrorProgramNotFound = -10814;
// Out of memory: a script made more text or list items than one execution
// may make (the interpreter's limits), an allocation failed, or a
// program's output was larger than `run program` reads.
constexpr std::int64_t kErrorOutOfMemory = -108;
// A value of the wrong kind: a list where a text is needed, a text where a
// whole number or a Boolean is needed ("Can't make X into type Y."), or a
// program argument holding a NUL byte.
constexpr std::int64_t kErrorCantCoerce = -1700;
// A script's execution took more steps than one execution may take, or a
// program did not end in time and was ended.
constexpr std::int64_t kErrorTimedOut = -1712;
// An item asked of a list that has none (`run program {}`).
constexpr std::int64_t kErrorNoSuchItem = -1728;

}  // namespace error_numbers
}  // namespace platform
