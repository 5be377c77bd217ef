// Turns source into a program: handlers only at the top level, each a
// block of statements that end at line ends.
#pragma once

#include <string_view>

#include "scripting/command.h"
#include "scripting/syntax.h"

namespace scripting {

// Throws ScriptError: kErrorUnexpectedWord where a word or symbol does not
// fit the grammar; kErrorSyntax for errors found while splitting the source
// into tokens, nesting beyond kMaxSyntaxNesting, a handler defined twice or
// a parameter named twice. Only the commands of `commands` are known.
Program parse(std::string_view source, const CommandTable& commands);

}  // namespace scripting
