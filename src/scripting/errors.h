// The error numbers the scripting service reports, and the error that
// carries one through the interpreter until the service hands it back as
// error information.
#pragma once

#include <cstdint>
#include <string>

#include "platform/error_numbers.h"

namespace scripting {

using platform::kErrorLaunchFailed;
using platform::kErrorProgramNotFound;

// Out of memory: a script made more text or list items than one execution
// may make (see Limits in budget.h), or an allocation failed.
constexpr std::int64_t kErrorOutOfMemory = -108;
// A value of the wrong kind: a list where a text is needed, a text where a
// whole number or a Boolean is needed ("Can't make X into type Y.").
constexpr std::int64_t kErrorCantCoerce = -1700;
// The script does not understand the message: no handler of that name, or
// an event that is no handler call.
constexpr std::int64_t kErrorNoSuchHandler = -1708;
// The execution took more steps than one execution may take.
constexpr std::int64_t kErrorTimedOut = -1712;
// A handler called with a different number of arguments than parameters.
constexpr std::int64_t kErrorWrongArgumentCount = -1721;
// An item asked of a list that has none (`run program {}`).
constexpr std::int64_t kErrorNoSuchItem = -1728;
// `error` without a number.
constexpr std::int64_t kErrorGeneric = -2700;
// Calls, statements or lists nested too deeply; handler recursion deeper
// than 256 calls.
constexpr std::int64_t kErrorStackOverflow = -2706;
// A syntax error other than an unexpected word: a bad character, an
// unterminated text or comment, a number out of range, nesting too deep.
constexpr std::int64_t kErrorSyntax = -2740;
// A word or symbol where the grammar expects something else.
constexpr std::int64_t kErrorUnexpectedWord = -2741;
// A variable read before it was set.
constexpr std::int64_t kErrorUndefinedVariable = -2753;

// Raised while compiling or running a script; `try` blocks catch it.
struct ScriptError {
  std::int64_t number;
  std::string message;
};

}  // namespace scripting
