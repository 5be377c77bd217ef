// Parses one expression.
//
// Precedence, loosest first:
//   or
//   and
//   not
//   =  ≠  is  is not  is equal to  is not equal to   (one per expression)
//   &
//   COMMAND X [LABEL Y ...]            (a command of the cursor's table,
//                                      by its words; X and each Y are whole
//                                      expressions: `run program {a} & {b}`
//                                      runs the joined list)
//   percent encode X                   (prefix; X is the next prefix form
//                                      or a primary: `percent encode a & b`
//                                      encodes a alone)
//   primaries: text, whole number, {list}, (expression), variable,
//              f(arguments), my f(arguments)
#pragma once

#include "scripting/syntax.h"
#include "scripting/token_cursor.h"

namespace scripting {

ExpressionPtr parseExpression(TokenCursor& cursor);

}  // namespace scripting
