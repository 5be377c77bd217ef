#include "reason_codes.h"

#include <system_error>

namespace support_draft::host_side {

HostReason hostReason(Reason reason) {
  switch (reason) {
#define SUPPORT_DRAFT_RULE_NUMBER(name, api, number, sentence, limit) \
  case Reason::name:                                                  \
    return HostReason::name;
    SUPPORT_DRAFT_REASONS(SUPPORT_DRAFT_RULE_NUMBER)
#undef SUPPORT_DRAFT_RULE_NUMBER
  }
  return HostReason::jobNotWritten;
}

const char* reasonCodeOf(HostReason reason) {
  switch (reason) {
#define SUPPORT_DRAFT_RULE_CODE(name, api, number, sentence, limit) \
  case HostReason::name:                                            \
    return #name;
    SUPPORT_DRAFT_REASONS(SUPPORT_DRAFT_RULE_CODE)
#undef SUPPORT_DRAFT_RULE_CODE
#define SUPPORT_DRAFT_LIBRARY_CODE(name, api, number) \
  case HostReason::name:                              \
    return #name;
    SUPPORT_DRAFT_LIBRARY_REASONS(SUPPORT_DRAFT_LIBRARY_CODE)
#undef SUPPORT_DRAFT_LIBRARY_CODE
    case HostReason::none:
      break;
  }
  return "";
}

Refusal refusalFor(const RuleBreach& breach) { return {hostReason(breach.reason), reasonSentence(breach)}; }

std::string errorText(int error) { return std::error_code(error, std::generic_category()).message(); }

}  // namespace support_draft::host_side
