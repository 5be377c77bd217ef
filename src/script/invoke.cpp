#include "script/invoke.h"

#include <exception>

using platform::scripting::AppleEvent;
using platform::scripting::Descriptor;

namespace {

constexpr std::int64_t kNoScriptObject = -1;

}  // namespace

AppleEvent makeHandlerEvent(std::string_view handler, const std::vector<std::string>& values) {
  AppleEvent event(platform::scripting::kScriptEventClass, platform::scripting::kHandlerCallEventID,
                   platform::scripting::kAutoGenerateReturnID, platform::scripting::kAnyTransactionID);
  event.setParam(Descriptor::text(std::string(handler)), platform::scripting::kHandlerNameKeyword);
  Descriptor list = Descriptor::list();
  long position = 1;
  for (const std::string& value : values) list.insert(Descriptor::text(value), position++);
  event.setParam(std::move(list), platform::scripting::kDirectObjectKeyword);
  return event;
}

std::optional<std::int64_t> errorNumberOf(const platform::scripting::ErrorInfo& error) {
  const auto entry = error.find(platform::scripting::kErrorNumberKey);
  if (entry == error.end()) return std::nullopt;
  if (const auto* number = std::get_if<std::int64_t>(&entry->second)) return *number;
  return std::nullopt;
}

ScriptCallResult readCallResult(const platform::scripting::ExecutionResult& execution) {
  ScriptCallResult result;
  if (execution.reply) result.resultText = execution.reply->stringValue();
  if (execution.error) result.errorNumber = errorNumberOf(*execution.error);
  return result;
}

ScriptCallResult invoke(std::string_view source, std::string_view handler, const std::vector<std::string>& values,
                        const platform::scripting::CommandTable& commands) {
  try {
    const auto script = platform::scripting::Script::fromSource(std::string(source));
    if (!script) return ScriptCallResult{std::nullopt, kNoScriptObject};
    const AppleEvent event = makeHandlerEvent(handler, values);
    return readCallResult(script->executeAppleEvent(event, commands));
  } catch (...) {
    return ScriptCallResult{std::nullopt, kNoScriptObject};
  }
}
