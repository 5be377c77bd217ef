// Runs handlers of a compiled program. Values are never changed in place,
// so assignments and arguments share them.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "scripting/budget.h"
#include "scripting/command.h"
#include "scripting/descriptor.h"
#include "scripting/syntax.h"

namespace scripting {

// Calls the handler named `name` (folded to ASCII lower case) with
// `arguments`. Returns the handler's value, or nothing when it returns none.
// Throws ScriptError for every error the script raises or meets, a
// command's failure included. `commands` are those the program was parsed
// with.
std::optional<Descriptor> callHandler(const Program& program, const std::string& name,
                                      std::vector<Descriptor> arguments, const CommandTable& commands,
                                      const Limits& limits = {});

}  // namespace scripting
