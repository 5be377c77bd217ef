// The self-check behind "--inspect": a text with quotes, shell syntax, a
// line feed and non-ASCII letters goes through an echo handler and back.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/bundle.h"
#include "platform/json.h"
#include "script/invoke.h"

inline constexpr std::string_view kEchoScriptSource = "on echoValue(value)\nreturn value\nend echoValue";
inline constexpr std::string_view kEchoHandler = "echovalue";
inline constexpr std::string_view kSampleText = "A \"quote\" $(command)\nUnicode: T\xC3\xBCrk\xC3\xA7" "e";

// True when the echo came back as a text equal to the sample and without an
// error number.
bool roundTripHeld(const ScriptCallResult& echo);

// {"name": ..., "identifier": ..., "argumentsRoundTrip": ...}; nothing when
// the display name has no JSON form.
std::optional<std::string> inspectionReport(const platform::Bundle& bundle, bool roundTrip);

// Why inspectionReport gave nothing for `bundle`: which of its values has
// no JSON form.
std::string_view missingReportReason(const platform::Bundle& bundle);

// Runs the self-check, writes the report to standard output and ends the
// process: 0 when the round trip held, 1 when not, 2 (with a line on
// standard error) when no report could be made or written.
[[noreturn]] void runSelfInspection();
