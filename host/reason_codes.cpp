#include "reason_codes.h"

namespace support_draft::host_side {
namespace {

// The C header spells every number out for its readers; it must say what
// the tables say.
#define SUPPORT_DRAFT_RULE_AGREES(name, api, number, sentence, limit) \
  static_assert(SUPPORT_DRAFT_REASON_##api == (number), "the C header numbers " #name " otherwise");
SUPPORT_DRAFT_REASONS(SUPPORT_DRAFT_RULE_AGREES)
#undef SUPPORT_DRAFT_RULE_AGREES
#define SUPPORT_DRAFT_LIBRARY_AGREES(name, api, number) \
  static_assert(SUPPORT_DRAFT_REASON_##api == (number), "the C header numbers " #name " otherwise");
SUPPORT_DRAFT_LIBRARY_REASONS(SUPPORT_DRAFT_LIBRARY_AGREES)
#undef SUPPORT_DRAFT_LIBRARY_AGREES

}  // namespace

support_draft_reason apiReason(Reason reason) {
  switch (reason) {
#define SUPPORT_DRAFT_RULE_NUMBER(name, api, number, sentence, limit) \
  case Reason::name:                                                  \
    return SUPPORT_DRAFT_REASON_##api;
    SUPPORT_DRAFT_REASONS(SUPPORT_DRAFT_RULE_NUMBER)
#undef SUPPORT_DRAFT_RULE_NUMBER
  }
  return SUPPORT_DRAFT_REASON_JOB_NOT_WRITTEN;
}

const char* reasonCodeOf(support_draft_reason reason) {
  switch (reason) {
#define SUPPORT_DRAFT_RULE_CODE(name, api, number, sentence, limit) \
  case SUPPORT_DRAFT_REASON_##api:                                  \
    return #name;
    SUPPORT_DRAFT_REASONS(SUPPORT_DRAFT_RULE_CODE)
#undef SUPPORT_DRAFT_RULE_CODE
#define SUPPORT_DRAFT_LIBRARY_CODE(name, api, number) \
  case SUPPORT_DRAFT_REASON_##api:                    \
    return #name;
    SUPPORT_DRAFT_LIBRARY_REASONS(SUPPORT_DRAFT_LIBRARY_CODE)
#undef SUPPORT_DRAFT_LIBRARY_CODE
    case SUPPORT_DRAFT_REASON_NONE:
      break;
  }
  return "";
}

}  // namespace support_draft::host_side
