#include "entry/run_mode.h"

#include <cstddef>
#include <string_view>

#include "platform/process.h"
#include "platform/text.h"

namespace {

RunMode chooseRunMode(std::size_t argumentCount, std::string_view firstArgument) {
  if (argumentCount == 2 && platform::canonicallyEqual(firstArgument, "--inspect")) return RunMode::inspect;
  return RunMode::app;
}

}  // namespace

RunMode chooseRunMode(const std::vector<std::string>& arguments) {
  return chooseRunMode(arguments.size(), arguments.size() > 1 ? std::string_view(arguments[1]) : std::string_view());
}

RunMode chooseProcessRunMode() {
  return chooseRunMode(platform::processArgumentCount(), platform::processArgumentAt(1));
}
