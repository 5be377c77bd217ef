#include "job/rule_breach.h"

#include "job/bundle_identity.h"
#include "job/job_contract.h"

namespace {

struct ReasonText {
  std::string_view code;
  std::string_view sentence;  // "{}" stands for `limit`, where the rule sets one
  std::string limit;
};

std::string limitText(std::string_view text) { return std::string(text); }
std::string limitText(std::int64_t number) { return std::to_string(number); }
std::string limitText(std::size_t number) { return std::to_string(number); }

ReasonText textOf(Reason reason) {
  switch (reason) {
#define SUPPORT_DRAFT_REASON_TEXT(name, api, number, sentence, limit) \
  case Reason::name:                                                  \
    return {#name, sentence, limitText(limit)};
    SUPPORT_DRAFT_REASONS(SUPPORT_DRAFT_REASON_TEXT)
#undef SUPPORT_DRAFT_REASON_TEXT
  }
  return {"", "the job breaks a rule", ""};
}

}  // namespace

std::string_view reasonCode(Reason reason) { return textOf(reason).code; }

std::string reasonSentence(const RuleBreach& breach) {
  const ReasonText text = textOf(breach.reason);
  std::string sentence(text.sentence);
  // A bundle's own prefix is the limit its subjects break.
  const std::string& limit =
      breach.reason == Reason::subjectPrefix && !breach.expectedPrefix.empty() ? breach.expectedPrefix : text.limit;
  if (const auto place = sentence.find("{}"); place != std::string::npos) sentence.replace(place, 2, limit);
  if (!breach.path.empty()) sentence += ": " + breach.path;
  return sentence;
}
