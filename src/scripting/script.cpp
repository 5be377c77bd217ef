#include "scripting/script.h"

#include <new>
#include <stdexcept>

#include "scripting/errors.h"
#include "scripting/evaluator.h"
#include "scripting/lexer.h"
#include "scripting/parser.h"
#include "platform/text.h"

namespace scripting {
namespace {

ErrorInfo errorInfo(std::int64_t number, std::string message) {
  return ErrorInfo{{kErrorNumberKey, number}, {kErrorMessageKey, std::move(message)}};
}

std::optional<Descriptor> handleEvent(const Program& program, const AppleEvent& event,
                                      const CommandTable& commands) {
  const Descriptor* name = event.param(kHandlerNameKeyword);
  if (event.eventClass() != kScriptEventClass || event.eventID() != kHandlerCallEventID || !name ||
      name->kind() != Descriptor::Kind::Text) {
    throw ScriptError{kErrorNoSuchHandler, "The script doesn't understand this event."};
  }
  std::vector<Descriptor> arguments;
  if (const Descriptor* direct = event.param(kDirectObjectKeyword)) {
    if (direct->kind() == Descriptor::Kind::List) {
      arguments = direct->items();
    } else {
      arguments.push_back(*direct);
    }
  }
  return callHandler(program, platform::foldAsciiCase(name->textValue()), std::move(arguments), commands);
}

}  // namespace

std::optional<Script> Script::fromSource(std::string source) {
  if (!platform::isValidUtf8(source) || source.find('\0') != std::string::npos) return std::nullopt;
  return Script(std::move(source));
}

ExecutionResult Script::executeAppleEvent(const AppleEvent& event, const CommandTable& commands) const {
  try {
    const Program program = parse(source_, commands);
    return ExecutionResult{handleEvent(program, event, commands), std::nullopt};
  } catch (const ScriptError& error) {
    return ExecutionResult{std::nullopt, errorInfo(error.number, error.message)};
  } catch (const std::bad_alloc&) {
    return ExecutionResult{std::nullopt, errorInfo(kErrorOutOfMemory, "Out of memory.")};
  } catch (const std::length_error&) {
    return ExecutionResult{std::nullopt, errorInfo(kErrorOutOfMemory, "Out of memory.")};
  }
}

}  // namespace scripting
