#include "job/job_home.h"

#include "platform/paths.h"
#include "platform/text.h"

JobHome jobHome(const platform::HomeFacts& facts) {
  JobHome chosen;
  chosen.home = platform::homeFrom(facts);
  if (!chosen.home) {
    chosen.breach = RuleBreach{facts.homeVariable ? Reason::homeNotAbsolute : Reason::homeMissing, ""};
  }
  return chosen;
}

std::optional<RuleBreach> hostHomeBreach(std::string_view home) {
  if (!platform::isValidUtf8(home)) return RuleBreach{Reason::homeNotUtf8, ""};
  if (platform::standardizedPath(home) == "/") return RuleBreach{Reason::homeIsRoot, std::string(home)};
  return std::nullopt;
}
