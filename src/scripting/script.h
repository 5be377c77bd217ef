// The script object: source text that compiles and runs when an event is
// executed on it.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <variant>

#include "scripting/apple_event.h"
#include "scripting/command.h"
#include "scripting/descriptor.h"

namespace scripting {

// Error information as the service reports it: a small dictionary. The
// service always puts a number under kErrorNumberKey and a message under
// kErrorMessageKey; callers read it as a dictionary so that they can be
// tested with made-up entries (no number, a text in place of a number).
using ErrorValue = std::variant<std::int64_t, std::string>;
using ErrorInfo = std::map<std::string, ErrorValue>;

inline constexpr const char* kErrorNumberKey = "NSAppleScriptErrorNumber";
inline constexpr const char* kErrorMessageKey = "NSAppleScriptErrorMessage";

struct ExecutionResult {
  std::optional<Descriptor> reply;  // none when the handler returned nothing or failed
  std::optional<ErrorInfo> error;   // present exactly when the execution failed
};

class Script {
 public:
  // None for source that is not valid UTF-8 or holds U+0000.
  static std::optional<Script> fromSource(std::string source);

  // Compiles the source and handles the event: a handler call event ("ascr"
  // / "psbr") calls the handler whose name equals its "snam" text, ignoring
  // ASCII case, with the items of its "----" list as arguments (a "----"
  // that is no list is the one argument; none means no arguments). The
  // script may use the commands of `commands` and no others. Every
  // failure, a syntax error and a command's failure included, comes back
  // as error information; only std::bad_alloc while making that
  // information, and what a command's handler throws besides, can escape.
  ExecutionResult executeAppleEvent(const AppleEvent& event, const CommandTable& commands = {}) const;

 private:
  explicit Script(std::string source) : source_(std::move(source)) {}

  std::string source_;
};

}  // namespace scripting
