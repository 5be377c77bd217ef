#include "job/draft_commands.h"

#include <optional>
#include <utility>

#include "scripting/errors.h"
#include "scripting/value_ops.h"

using scripting::CommandParameters;
using scripting::CommandReply;
using scripting::Descriptor;
using scripting::kErrorCantCoerce;

namespace {

CommandReply cantMake(const Descriptor& value, std::string_view type) {
  return CommandReply::failure(kErrorCantCoerce, "Can't make a " +
                                                     std::string(scripting::kindName(value.kind())) +
                                                     " into type " + std::string(type) + ".");
}

// The texts of a list's items, or none when an item is itself a list.
std::optional<std::vector<std::string>> itemTexts(const Descriptor& list) {
  std::vector<std::string> texts;
  for (const Descriptor& item : list.items()) {
    std::optional<std::string> text = item.stringValue();
    if (!text) return std::nullopt;
    texts.push_back(std::move(*text));
  }
  return texts;
}

CommandReply openMailDraft(const DraftServices& services, const CommandParameters& parameters) {
  const Descriptor& request = parameters.direct;
  if (request.kind() != Descriptor::Kind::List || request.count() != 3) return cantMake(request, "mail draft");
  std::optional<std::vector<std::string>> fields = itemTexts(request);
  if (!fields) return cantMake(request, "mail draft");
  mail::Draft draft{std::move((*fields)[0]), std::move((*fields)[1]), std::move((*fields)[2]),
                    services.supportAddress.value_or("")};
  if (const Descriptor* to = parameters.labelledParameter("to")) {
    std::optional<std::string> recipient = to->stringValue();
    if (!recipient) return cantMake(*to, "text");
    draft.recipient = std::move(*recipient);
  }
  mail::ServiceAnswer answer = services.openDraft(services.context, draft);
  if (answer.errorNumber != 0) return CommandReply::failure(answer.errorNumber, std::move(answer.message));
  return {};
}

CommandReply runProgram(const DraftServices& services, const CommandParameters& parameters) {
  const Descriptor& value = parameters.direct;
  std::vector<std::string> command;
  if (value.kind() == Descriptor::Kind::List) {
    std::optional<std::vector<std::string>> words = itemTexts(value);
    if (!words) return cantMake(Descriptor::list(), "text");
    command = std::move(*words);
  } else {
    command.push_back(*value.stringValue());
  }
  auto run = services.context.launch.run(command, services.context.grace, platform::AtDeadline::LeaveRunning);
  if (run.errorNumber != 0) return CommandReply::failure(run.errorNumber, std::move(run.message));
  return CommandReply{0, {}, Descriptor::text(std::move(run.output))};
}

}  // namespace

scripting::CommandTable draftCommands(const DraftServices& services) {
  return {
      {"open mail draft", {"to"},
       [services](const CommandParameters& parameters) { return openMailDraft(services, parameters); }},
      {"run program", {},
       [services](const CommandParameters& parameters) { return runProgram(services, parameters); }},
  };
}
