// Parses one expression.
//
// Precedence, loosest first:
//   or
//   and
//   not
//   =  ≠  is  is not  is equal to  is not equal to   (one per expression)
//   &
//   run program X                      (prefix; X is a whole expression:
//                                      `run program {a} & {b}` runs the
//                                      joined list)
//   percent encode X                   (prefix; X is the next prefix form
//                                      or a primary: `percent encode a & b`
//                                      encodes a alone)
//   primaries: text, whole number, {list}, (expression), variable,
//              f(arguments), my f(arguments)
#pragma once

#include "platform/scripting/syntax.h"
#include "platform/scripting/token_cursor.h"

namespace platform::scripting {

ExpressionPtr parseExpression(TokenCursor& cursor);

}  // namespace platform::scripting
