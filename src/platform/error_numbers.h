// Error numbers that more than one service of the platform reports or
// reads: a started program's end, and the user's refusal to let this
// program drive the mail client.
#pragma once

#include <cstdint>

namespace platform {

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

}  // namespace platform
