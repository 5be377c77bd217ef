// The syntax tree of a compiled script. Chains of `&`, `and` and `or` are
// kept flat (one node with all operands), so a long chain costs no depth
// when it is evaluated or destroyed.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace scripting {

struct Expression;
using ExpressionPtr = std::unique_ptr<Expression>;

struct Expression {
  enum class Kind {
    Text,           // text
    Integer,        // integer
    List,           // operands are the items
    Variable,       // name
    Call,           // name(operands)
    Join,           // operands joined with `&`, left to right
    Equal,          // operands[0] = operands[1]; `negated` for ≠ / is not
    Not,            // not operands[0]
    And,            // operands, left to right, stopping at the first false
    Or,             // operands, left to right, stopping at the first true
    PercentEncode,  // percent encode operands[0]
    Command,        // a command of the table: text names it, operands[0] is
                    // the direct parameter, operands[k] the one labelled labels[k - 1]
  };
  Kind kind;
  int line = 0;
  std::string text;  // Text: the text; Variable and Call: the folded name; Command: its name
  std::int64_t integer = 0;
  bool negated = false;
  std::vector<ExpressionPtr> operands;
  std::vector<std::string> labels;
};

struct Statement;
using Block = std::vector<Statement>;

struct Branch {
  ExpressionPtr condition;  // null for the final `else`
  Block body;
};

struct Statement {
  enum class Kind {
    Return,      // return [value]
    Set,         // set name to value
    If,          // branches, tried in order
    Error,       // error [value] [number number]
    Try,         // try body on error [name] [number numberName] handler
    Expression,  // a handler call or a command, its value dropped
  };
  Kind kind;
  int line = 0;
  std::string name;        // Set: the variable; Try: the message variable, if any
  std::string numberName;  // Try: the error number variable, if any
  ExpressionPtr value;
  ExpressionPtr number;
  std::vector<Branch> branches;
  Block body;
  Block handler;
};

struct Handler {
  std::string name;  // folded to ASCII lower case, as every identifier
  std::vector<std::string> parameters;
  Block body;
};

// Handlers by folded name.
using Program = std::map<std::string, Handler>;

}  // namespace scripting
