#include "scripting/evaluator.h"

#include <unordered_map>
#include <utility>

#include "mail/percent_encoding.h"
#include "scripting/errors.h"
#include "scripting/value_ops.h"

namespace scripting {
namespace {

using Variables = std::unordered_map<std::string, Descriptor>;

// What a statement leaves behind: whether `return` ran, and its value.
struct Flow {
  bool returned = false;
  std::optional<Descriptor> value;
};

// Error paths live in functions of their own, so that the message building
// adds nothing to the frames of the recursive evaluation.
[[noreturn]] void cantMake(const Descriptor& value, std::string_view type) {
  throw ScriptError{kErrorCantCoerce, "Can't make a " + std::string(kindName(value.kind())) +
                                          " into type " + std::string(type) + "."};
}

[[noreturn]] void undefinedVariable(const std::string& name) {
  throw ScriptError{kErrorUndefinedVariable, "The variable “" + name + "” is not defined."};
}

[[noreturn]] void noValue(const std::string& handler) {
  throw ScriptError{kErrorUndefinedVariable, "“" + handler + "” returned no value."};
}

[[noreturn]] void noSuchHandler(const std::string& name) {
  throw ScriptError{kErrorNoSuchHandler, "The script doesn't understand the “" + name + "” message."};
}

[[noreturn]] void wrongArgumentCount(const std::string& name, std::size_t expected, std::size_t given) {
  throw ScriptError{kErrorWrongArgumentCount, "“" + name + "” takes " + std::to_string(expected) +
                                                  " arguments, not " + std::to_string(given) + "."};
}

bool truthOf(const Descriptor& value) {
  if (value.kind() != Descriptor::Kind::Boolean) cantMake(value, "boolean");
  return value.booleanValue();
}

std::int64_t integerOf(const Descriptor& value) {
  if (value.kind() != Descriptor::Kind::Integer) cantMake(value, "number");
  return value.integerValue();
}

class Evaluator {
 public:
  Evaluator(const Program& program, const CommandTable& commands, const Limits& limits)
      : program_(program), commands_(commands), budget_(limits) {}

  std::optional<Descriptor> call(const std::string& name, std::vector<Descriptor> arguments) {
    const auto found = program_.find(name);
    if (found == program_.end()) noSuchHandler(name);
    const Handler& handler = found->second;
    if (arguments.size() != handler.parameters.size()) {
      wrongArgumentCount(name, handler.parameters.size(), arguments.size());
    }
    const Budget::Call active(budget_);
    Variables variables;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
      variables.insert_or_assign(handler.parameters[i], std::move(arguments[i]));
    }
    return executeBlock(handler.body, variables).value;
  }

 private:
  Flow executeBlock(const Block& block, Variables& variables) {
    for (const Statement& statement : block) {
      Flow flow = execute(statement, variables);
      if (flow.returned) return flow;
    }
    return {};
  }

  Flow execute(const Statement& s, Variables& variables) {
    const Budget::Level level(budget_);
    switch (s.kind) {
      case Statement::Kind::Return:
        if (!s.value) return Flow{true, std::nullopt};
        return Flow{true, evaluateOptional(*s.value, variables)};
      case Statement::Kind::Set:
        variables.insert_or_assign(s.name, evaluate(*s.value, variables));
        return {};
      case Statement::Kind::If:
        for (const Branch& branch : s.branches) {
          if (!branch.condition || truthOf(evaluate(*branch.condition, variables))) {
            return executeBlock(branch.body, variables);
          }
        }
        return {};
      case Statement::Kind::Error:
        raise(s, variables);
      case Statement::Kind::Try:
        return executeTry(s, variables);
      case Statement::Kind::Expression:
        evaluateOptional(*s.value, variables);
        return {};
    }
    return {};
  }

  [[noreturn]] void raise(const Statement& s, Variables& variables) {
    std::string message = "An error has occurred.";
    if (s.value) {
      message = textOf(evaluate(*s.value, variables));
      budget_.chargeCreated(message.size());
    }
    const std::int64_t number = s.number ? integerOf(evaluate(*s.number, variables)) : kErrorGeneric;
    throw ScriptError{number, std::move(message)};
  }

  Flow executeTry(const Statement& s, Variables& variables) {
    std::optional<ScriptError> caught;
    try {
      return executeBlock(s.body, variables);
    } catch (ScriptError& error) {
      caught = std::move(error);
    }
    budget_.chargeCaughtError();
    if (!s.name.empty()) variables.insert_or_assign(s.name, Descriptor::text(std::move(caught->message)));
    if (!s.numberName.empty()) variables.insert_or_assign(s.numberName, Descriptor::integer(caught->number));
    return executeBlock(s.handler, variables);
  }

  // A value the language needs: a call that returns nothing is an error.
  Descriptor evaluate(const Expression& e, Variables& variables) {
    std::optional<Descriptor> value = evaluateOptional(e, variables);
    if (!value) noValue(e.text);
    return std::move(*value);
  }

  std::optional<Descriptor> evaluateOptional(const Expression& e, Variables& variables) {
    const Budget::Level level(budget_);
    switch (e.kind) {
      case Expression::Kind::Text:
        budget_.chargeCreated(e.text.size());
        return Descriptor::text(e.text);
      case Expression::Kind::Integer:
        return Descriptor::integer(e.integer);
      case Expression::Kind::List:
        budget_.chargeCreated(e.operands.size());
        return budget_.checkedList(evaluateAll(e.operands, variables));
      case Expression::Kind::Variable: {
        const auto found = variables.find(e.text);
        if (found == variables.end()) undefinedVariable(e.text);
        return found->second;
      }
      case Expression::Kind::Call:
        return call(e.text, evaluateAll(e.operands, variables));
      case Expression::Kind::Join:
        return join(e.operands, variables);
      case Expression::Kind::Equal:
        return equal(e, variables);
      case Expression::Kind::Not:
        return Descriptor::boolean(!truthOf(evaluate(*e.operands[0], variables)));
      case Expression::Kind::And:
      case Expression::Kind::Or: {
        // `and` stops at the first false operand, `or` at the first true one.
        const bool stopAt = e.kind == Expression::Kind::Or;
        for (const ExpressionPtr& operand : e.operands) {
          if (truthOf(evaluate(*operand, variables)) == stopAt) return Descriptor::boolean(stopAt);
        }
        return Descriptor::boolean(!stopAt);
      }
      case Expression::Kind::PercentEncode:
        return percentEncoded(evaluate(*e.operands[0], variables));
      case Expression::Kind::Command:
        return runCommand(e, variables);
    }
    return std::nullopt;
  }

  std::vector<Descriptor> evaluateAll(const std::vector<ExpressionPtr>& expressions, Variables& variables) {
    std::vector<Descriptor> values;
    values.reserve(expressions.size());
    for (const ExpressionPtr& expression : expressions) values.push_back(evaluate(*expression, variables));
    return values;
  }

  Descriptor equal(const Expression& e, Variables& variables) {
    const Descriptor left = evaluate(*e.operands[0], variables);
    const Descriptor right = evaluate(*e.operands[1], variables);
    budget_.chargeWork(left.weight());
    budget_.chargeWork(right.weight());
    return Descriptor::boolean(valuesEqual(left, right) != e.negated);
  }

  // `&` over a whole chain, left to right, in time linear in the result: a
  // text joined with a text, number or Boolean is a longer text; as soon as
  // either side is a list, or the left side is a number or Boolean, the
  // result is a list of the items of both sides.
  Descriptor join(const std::vector<ExpressionPtr>& operands, Variables& variables) {
    Descriptor first = evaluate(*operands.front(), variables);
    bool isText = first.kind() == Descriptor::Kind::Text;
    std::string text;
    std::vector<Descriptor> items;
    if (isText) {
      budget_.chargeCreated(first.textValue().size());
      text = first.textValue();
    } else {
      appendItems(items, std::move(first));
    }
    for (std::size_t i = 1; i < operands.size(); ++i) {
      Descriptor next = evaluate(*operands[i], variables);
      if (isText && next.kind() != Descriptor::Kind::List) {
        const std::string piece = textOf(next);
        budget_.chargeCreated(piece.size());
        text += piece;
        continue;
      }
      if (isText) {
        items.push_back(Descriptor::text(std::move(text)));
        isText = false;
      }
      appendItems(items, std::move(next));
    }
    return isText ? Descriptor::text(std::move(text)) : budget_.checkedList(std::move(items));
  }

  void appendItems(std::vector<Descriptor>& items, Descriptor value) {
    if (value.kind() != Descriptor::Kind::List) {
      budget_.chargeCreated(1);
      items.push_back(std::move(value));
      return;
    }
    budget_.chargeCreated(value.count());
    items.insert(items.end(), value.items().begin(), value.items().end());
  }

  Descriptor percentEncoded(const Descriptor& value) {
    const std::string text = textOf(value);
    budget_.chargeCreated(text.size() * 3);
    return Descriptor::text(mail::percentEncode(text));
  }

  // Hands the evaluated parameters to the command's handler; the handler's
  // failure is raised as the script's error.
  std::optional<Descriptor> runCommand(const Expression& e, Variables& variables) {
    const Command* command = findCommand(commands_, e.text);
    if (command == nullptr) noSuchHandler(e.text);
    CommandParameters parameters{evaluate(*e.operands[0], variables), {}};
    budget_.chargeWork(parameters.direct.weight());
    for (std::size_t i = 1; i < e.operands.size(); ++i) {
      Descriptor value = evaluate(*e.operands[i], variables);
      budget_.chargeWork(value.weight());
      parameters.labelled.emplace_back(e.labels[i - 1], std::move(value));
    }
    CommandReply reply = command->handler(parameters);
    if (reply.errorNumber != 0) throw ScriptError{reply.errorNumber, std::move(reply.message)};
    if (reply.value) budget_.chargeCreated(reply.value->weight());
    return std::move(reply.value);
  }

  const Program& program_;
  const CommandTable& commands_;
  Budget budget_;
};

}  // namespace

std::optional<Descriptor> callHandler(const Program& program, const std::string& name,
                                      std::vector<Descriptor> arguments, const CommandTable& commands,
                                      const Limits& limits) {
  return Evaluator(program, commands, limits).call(name, std::move(arguments));
}

}  // namespace scripting
