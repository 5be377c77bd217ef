#include "host_home.h"

#include "job/job_home.h"
#include "platform/home.h"
#include "platform/paths.h"

namespace support_draft::host_side {

std::optional<std::string> homeFor(const std::string& given, Refusal& refusal) {
  std::string home = given;
  if (given.empty()) {
    const JobHome chosen = jobHome(platform::homeFacts());
    if (!chosen.home) {
      refusal = refusalFor(*chosen.breach);
      return std::nullopt;
    }
    home = *chosen.home;
  } else if (given.front() != '/') {
    refusal = {HostReason::homeNotAbsolute, "the home directory is not an absolute path: " + given};
    return std::nullopt;
  }
  // The job directory's path is printed and written as JSON text, which a
  // path that is not UTF-8 has no form in.
  if (const auto breach = hostHomeBreach(home)) {
    refusal = refusalFor(*breach);
    return std::nullopt;
  }
  return platform::standardizedPath(home);
}

}  // namespace support_draft::host_side
