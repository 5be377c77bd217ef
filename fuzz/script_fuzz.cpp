// Feeds arbitrary scripts, handler names and arguments through the script
// bridge, with the mail draft script's commands. The input is split at NUL
// bytes, which no script source can hold: source, then handler name, then
// the arguments. The commands reach harmless fakes: hostile scripts must
// never start a program or open a draft.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "job/draft_commands.h"
#include "platform/error_numbers.h"
#include "script/invoke.h"

namespace {

const scripting::CommandTable& fakeCommands() {
  static const scripting::CommandTable commands = [] {
    DraftServices services;
    services.openDraft = [](const mail::MailContext&, const mail::Draft&) { return mail::ServiceAnswer{}; };
    services.context.launch.run = [](const std::vector<std::string>&, std::chrono::milliseconds,
                                     platform::AtDeadline, std::string_view) {
      return mail::ProgramRun{platform::kErrorLaunchFailed, "No program runs here.", {}};
    };
    return draftCommands(services);
  }();
  return commands;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> pieces;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = input.find('\0', start);
    pieces.emplace_back(input.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  const std::string source = pieces[0];
  const std::string handler = pieces.size() > 1 ? pieces[1] : "f";
  const std::vector<std::string> arguments(pieces.begin() + std::min<std::size_t>(2, pieces.size()), pieces.end());

  const ScriptCallResult result = invoke(source, handler, arguments, fakeCommands());
  // The bridge's own -1 only ever comes with no text.
  if (result.errorNumber == -1 && result.resultText) __builtin_trap();
  return 0;
}
