// Operations on run-time values that need no interpreter state.
#pragma once

#include <string>
#include <string_view>

#include "scripting/descriptor.h"

namespace scripting {

// A value as text where the language needs one: a text is itself, a whole
// number its decimal form, a Boolean "true" or "false". A list raises
// ScriptError kErrorCantCoerce.
std::string textOf(const Descriptor& value);

// `=`: texts compare under canonical equivalence, numbers and Booleans by
// value, lists item by item; values of different kinds are never equal.
// Walks both values whole: callers charge their weights first.
bool valuesEqual(const Descriptor& a, const Descriptor& b);

// The kind's name as error messages use it.
std::string_view kindName(Descriptor::Kind kind);

}  // namespace scripting
