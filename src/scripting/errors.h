// The error numbers the scripting service reports, and the error that
// carries one through the interpreter until the service hands it back as
// error information.
#pragma once

#include <cstdint>
#include <string>

#include "platform/error_numbers.h"

namespace scripting {

// The numbers shared with the services under the interpreter, and its own.
using namespace platform::error_numbers;

// The script does not understand the message: no handler of that name, or
// an event that is no handler call.
constexpr std::int64_t kErrorNoSuchHandler = -1708;
// A handler called with a different number of arguments than parameters.
constexpr std::int64_t kErrorWrongArgumentCount = -1721;
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
