// Calls one handler of a script, given as source text, with a list of text
// arguments, through a handler call event. The arguments travel as event
// parameters and are never spliced into source, so any text arrives as it
// was sent.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "scripting/apple_event.h"
#include "scripting/script.h"

struct ScriptCallResult {
  std::optional<std::string> resultText;   // the reply's text value
  std::optional<std::int64_t> errorNumber;  // the service's error number; -1: no script object
};

// Makes a script object from `source`, calls `handler` (sent as given, no
// case folding) with `values` in order, the script using the commands of
// `commands`, and returns the reply's text and the error number the
// service reported. Never throws. A failure inside the
// bridge itself (no memory for the event or for reading the reply) gives
// no result text and -1, the bridge's own error number: the call did not
// happen as asked, and no number of the service's applies.
ScriptCallResult invoke(std::string_view source, std::string_view handler, const std::vector<std::string>& values,
                        const scripting::CommandTable& commands = {});

// The handler call event: class "ascr", identifier "psbr", return id -1,
// transaction id 0; "snam" holds the handler name as a text, stored first;
// "----" holds a list with values[k-1] as a text at position k, stored
// second, also when empty.
scripting::AppleEvent makeHandlerEvent(std::string_view handler, const std::vector<std::string>& values);

// The script call result from what executing the event gave: the reply's
// text value, and the error number read from the error information.
ScriptCallResult readCallResult(const scripting::ExecutionResult& execution);

// The number under "NSAppleScriptErrorNumber" when it is there and is a
// number; no other entry is read.
std::optional<std::int64_t> errorNumberOf(const scripting::ErrorInfo& error);
