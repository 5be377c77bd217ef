#include "entry/run_mode.h"

#include "platform/text.h"

RunMode chooseRunMode(const std::vector<std::string>& arguments) {
  if (arguments.size() == 2 && platform::canonicallyEqual(arguments[1], "--inspect")) return RunMode::inspect;
  return RunMode::app;
}
