#include "job/job_invocation.h"

#include "platform/text.h"

namespace {

constexpr std::string_view kJobOption = "--job";

}  // namespace

std::optional<std::string> jobIdArgument(const std::vector<std::string>& arguments) {
  if (arguments.size() != 3) return std::nullopt;  // program path, "--job", id
  if (!platform::canonicallyEqual(arguments[1], kJobOption)) return std::nullopt;
  return arguments[2];
}
