#include "script/invoke.h"

#include <exception>

using scripting::AppleEvent;
using scripting::Descriptor;

namespace {

constexpr std::int64_t kNoScriptObject = -1;

}  // namespace

AppleEvent makeHandlerEvent(std::string_view handler, const std::vector<std::string>& values) {
  AppleEvent event(scripting::kScriptEventClass, scripting::kHandlerCallEventID,
                   scripting::kAutoGenerateReturnID, scripting::kAnyTransactionID);
  event.setParam(Descriptor::text(std::string(handler)), scripting::kHandlerNameKeyword);
  Descriptor list = Descriptor::list();
  long position = 1;
  for (const std::string& value : values) list.insert(Descriptor::text(value), position++);
  event.setParam(std::move(list), scripting::kDirectObjectKeyword);
  return event;
}

std::optional<std::int64_t> errorNumberOf(const scripting::ErrorInfo& error) {
  const auto entry = error.find(scripting::kErrorNumberKey);
  if (entry == error.end()) return std::nullopt;
  if (const auto* number = std::get_if<std::int64_t>(&entry->second)) return *number;
  return std::nullopt;
}

ScriptCallResult readCallResult(const scripting::ExecutionResult& execution) {
  ScriptCallResult result;
  if (execution.reply) result.resultText = execution.reply->stringValue();
  if (execution.error) result.errorNumber = errorNumberOf(*execution.error);
  return result;
}

ScriptCallResult invoke(std::string_view source, std::string_view handler, const std::vector<std::string>& values,
                        const scripting::CommandTable& commands) {
  try {
    const auto script = scripting::Script::fromSource(std::string(source));
    if (!script) return ScriptCallResult{std::nullopt, kNoScriptObject};
    const AppleEvent event = makeHandlerEvent(handler, values);
    return readCallResult(script->executeAppleEvent(event, commands));
  } catch (...) {
    return ScriptCallResult{std::nullopt, kNoScriptObject};
  }
}
