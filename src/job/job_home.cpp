#include "job/job_home.h"

#include "platform/paths.h"
#include "platform/text.h"

namespace {

bool isAbsolute(const std::optional<std::string>& path) { return path && path->starts_with('/'); }

}  // namespace

JobHome jobHome(const platform::HomeFacts& facts) {
  JobHome chosen;
  if (isAbsolute(facts.homeVariable)) {
    chosen.home = facts.homeVariable;
  } else if (isAbsolute(facts.passwordHome)) {
    chosen.home = facts.passwordHome;
  } else {
    chosen.breach = RuleBreach{facts.homeVariable ? Reason::homeNotAbsolute : Reason::homeMissing, ""};
  }
  return chosen;
}

std::optional<RuleBreach> hostHomeBreach(std::string_view home) {
  if (!platform::isValidUtf8(home)) return RuleBreach{Reason::homeNotUtf8, ""};
  if (platform::standardizedPath(home) == "/") return RuleBreach{Reason::homeIsRoot, std::string(home)};
  return std::nullopt;
}
