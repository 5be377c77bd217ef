#include "job/job_document.h"

#include <array>

#include "files/private_file.h"
#include "platform/json.h"
#include "platform/text.h"

namespace {

constexpr std::string_view kJobDocumentName = "job.json";
constexpr std::int64_t kMaxJobDocumentSize = 16384;
constexpr std::string_view kSubjectPrefix = "Support Request - Quorvel ";
constexpr std::size_t kMaxSubjectSize = 200;
constexpr std::size_t kMaxBodySize = 8192;
constexpr std::array<std::string_view, 3> kKeys = {"subject", "body", "attachLogs"};

// Keys compare as texts, so a key may be spelled in another Unicode form
// than ours; find the member whose key is equivalent.
const platform::Json* memberFor(const platform::Json& object, std::string_view wanted) {
  for (const auto& [key, value] : object.items()) {
    if (platform::canonicallyEqual(key, wanted)) return &value;
  }
  return nullptr;
}

bool hasExactlyTheKeys(const platform::Json& object) {
  if (object.size() != kKeys.size()) return false;
  for (std::string_view key : kKeys) {
    if (memberFor(object, key) == nullptr) return false;
  }
  return true;
}

bool containsNul(std::string_view text) { return text.find('\0') != std::string_view::npos; }

}  // namespace

std::optional<AcceptedJob> acceptJobDocument(std::string_view bytes) {
  const auto document = platform::parseJson(bytes);
  if (!document || !document->is_object()) return std::nullopt;
  if (!hasExactlyTheKeys(*document)) return std::nullopt;

  const platform::Json& subject = *memberFor(*document, "subject");
  if (!subject.is_string()) return std::nullopt;
  const auto& subjectText = subject.get_ref<const std::string&>();
  // The size first: the prefix check decomposes the whole text.
  if (subjectText.size() > kMaxSubjectSize) return std::nullopt;
  if (!platform::hasTextPrefix(subjectText, kSubjectPrefix)) return std::nullopt;
  if (containsNul(subjectText)) return std::nullopt;

  const platform::Json& body = *memberFor(*document, "body");
  if (!body.is_string()) return std::nullopt;
  const auto& bodyText = body.get_ref<const std::string&>();
  if (bodyText.size() > kMaxBodySize) return std::nullopt;
  if (containsNul(bodyText)) return std::nullopt;

  const platform::Json& attachLogs = *memberFor(*document, "attachLogs");
  if (!attachLogs.is_boolean()) return std::nullopt;

  return AcceptedJob{subjectText, bodyText, attachLogs.get<bool>()};
}

std::optional<AcceptedJob> readJobDocument(const platform::Directory& jobDirectory) {
  const platform::FileLocation location = platform::childOf(jobDirectory, kJobDocumentName);
  if (!privateFile(location, kMaxJobDocumentSize)) return std::nullopt;
  const auto bytes = readPrivateFile(location, kMaxJobDocumentSize);
  if (!bytes) return std::nullopt;
  return acceptJobDocument(*bytes);
}
