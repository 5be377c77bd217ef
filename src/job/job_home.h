// The home directory a job lives under.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "job/rule_breach.h"
#include "platform/home.h"

// The home for jobs: HOME when it holds an absolute path, otherwise the
// password entry's home when that is absolute; or why there is none: homeMissing
// when HOME is unset and the password entry names no absolute home,
// homeNotAbsolute when HOME holds a relative path and the password entry
// names no absolute home. As given, not standardised.
struct JobHome {
  std::optional<std::string> home;
  std::optional<RuleBreach> breach;
};
JobHome jobHome(const platform::HomeFacts& facts);

// The rules a host adds for a home it prints and hands on, which the
// program does not apply: homeNotUtf8 (a path that is not valid UTF-8 cannot
// be printed in JSON; the breach names no path for that reason) and
// homeIsRoot (the standardised home is "/").
std::optional<RuleBreach> hostHomeBreach(std::string_view home);
