#include "job/job_contract.h"

#include "platform/json.h"
#include "platform/text.h"

namespace {

struct Channel {
  std::string_view name;
  std::string_view toolDirectory;
};
constexpr Channel kChannels[] = {
    {"dev", ".vantrel-devtool-dev"},
    {"prod", ".vantrel-devtool"},
};

bool containsNul(std::string_view text) { return text.find('\0') != std::string_view::npos; }

bool isLowerHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

}  // namespace

bool isCanonicalJobId(std::string_view candidate) {
  if (candidate.size() != 36) return false;
  for (std::size_t i = 0; i < candidate.size(); ++i) {
    const bool hyphenPlace = i == 8 || i == 13 || i == 18 || i == 23;
    if (hyphenPlace ? candidate[i] != '-' : !isLowerHexDigit(candidate[i])) return false;
  }
  return true;
}

std::optional<RuleBreach> jobTextBreach(std::string_view subject, std::string_view body, std::string_view prefix) {
  // The size first: the prefix check decomposes the whole text.
  if (subject.size() > kMaxSubjectSize) return RuleBreach{Reason::subjectTooLong, ""};
  if (!platform::hasTextPrefix(subject, prefix)) return RuleBreach{Reason::subjectPrefix, "", std::string(prefix)};
  if (containsNul(subject)) return RuleBreach{Reason::subjectHoldsNul, ""};
  if (body.size() > kMaxBodySize) return RuleBreach{Reason::bodyTooLong, ""};
  if (containsNul(body)) return RuleBreach{Reason::bodyHoldsNul, ""};
  return std::nullopt;
}

std::optional<std::string> toolDirectoryName(std::string_view channel) {
  for (const Channel& known : kChannels) {
    if (platform::canonicallyEqual(channel, known.name)) return std::string(known.toolDirectory);
  }
  return std::nullopt;
}

std::optional<std::string> jobDocumentBytes(std::string_view subject, std::string_view body, bool attachLogs) {
  if (!platform::isValidUtf8(subject) || !platform::isValidUtf8(body)) return std::nullopt;
  return platform::serializeJson({{"subject", subject}, {"body", body}, {"attachLogs", attachLogs}});
}

ResultReading readResultDocument(std::string_view bytes) {
  const auto document = platform::parseJson(bytes);
  if (!document || !document->is_object()) return ResultReading::unknown;
  const auto ok = document->find("ok");
  if (ok == document->end() || !ok->is_boolean()) return ResultReading::unknown;
  if (ok->get<bool>()) return document->size() == 1 ? ResultReading::opened : ResultReading::unknown;
  const auto code = document->find("code");
  if (document->size() != 2 || code == document->end() || !code->is_string()) return ResultReading::unknown;
  const auto& text = code->get_ref<const std::string&>();
  if (text == kPermissionDeniedCode) return ResultReading::permissionDenied;
  if (text == kDraftFailedCode) return ResultReading::failed;
  return ResultReading::unknown;
}
