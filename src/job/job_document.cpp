#include "job/job_document.h"

#include <array>

#include "files/private_file.h"
#include "job/job_contract.h"
#include "mail/header_line.h"
#include "platform/json.h"
#include "platform/text.h"

namespace {

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

RuleBreach invalid() { return RuleBreach{Reason::jobDocumentInvalid, ""}; }

// What job.json's check says for each way it can fail.
constexpr PrivateFileReasons kJobDocumentFileReasons{
    Reason::jobDocumentUnreadable,     Reason::jobDocumentLinked,   Reason::jobDocumentNotRegularFile,
    Reason::jobDocumentNotRegularFile, Reason::jobDocumentTooLarge, Reason::jobDocumentNotOwned,
    Reason::jobDocumentNotPrivate};

JobDocumentCheck breached(RuleBreach breach) { return {std::nullopt, std::move(breach)}; }

}  // namespace

JobDocumentCheck checkJobDocument(std::string_view bytes, std::string_view subjectPrefix) {
  const auto document = platform::parseJson(bytes);
  if (!document || !document->is_object()) return breached(invalid());
  if (!hasExactlyTheKeys(*document)) return breached(invalid());

  const platform::Json& subject = *memberFor(*document, "subject");
  const platform::Json& body = *memberFor(*document, "body");
  if (!subject.is_string() || !body.is_string()) return breached(invalid());
  const auto& subjectText = subject.get_ref<const std::string&>();
  const auto& bodyText = body.get_ref<const std::string&>();
  if (auto breach = jobTextBreach(subjectText, bodyText, subjectPrefix)) return breached(std::move(*breach));

  const platform::Json& attachLogs = *memberFor(*document, "attachLogs");
  if (!attachLogs.is_boolean()) return breached(invalid());

  JobDocumentCheck check;
  check.job = AcceptedJob{subjectText, bodyText, attachLogs.get<bool>()};
  return check;
}

JobDocumentCheck checkJobDocumentIn(const platform::Directory& jobDirectory, std::string_view subjectPrefix) {
  const platform::FileLocation location = platform::childOf(jobDirectory, kJobDocumentName);
  if (const auto reason = privateFileProblem(location, kMaxJobDocumentSize, kJobDocumentFileReasons)) {
    return breached(RuleBreach{*reason, location.path()});
  }
  // The file passed a moment ago: failing now, it was changed or removed.
  const auto bytes = readPrivateFile(location, kMaxJobDocumentSize);
  if (!bytes) return breached(RuleBreach{Reason::jobDocumentUnreadable, location.path()});
  JobDocumentCheck check = checkJobDocument(*bytes, subjectPrefix);
  if (check.breach && check.breach->reason == Reason::jobDocumentInvalid) check.breach->path = location.path();
  return check;
}

JobDocumentMaking makeJobDocument(std::string_view subject, std::string_view body, bool attachLogs,
                                  std::string_view subjectPrefix) {
  JobDocumentMaking making;
  // Validity first: the text rules compare texts, which bytes that are not
  // UTF-8 are not.
  if (!platform::isValidUtf8(subject)) {
    making.breach = RuleBreach{Reason::subjectNotUtf8, ""};
  } else if (!platform::isValidUtf8(body)) {
    making.breach = RuleBreach{Reason::bodyNotUtf8, ""};
  } else if (auto breach = jobTextBreach(subject, body, subjectPrefix)) {
    making.breach = std::move(breach);
  } else if (!mail::isOneHeaderLine(subject)) {
    // The program would take the document and refuse the draft: a line
    // break would let the subject add headers (recipients) in the client.
    making.breach = RuleBreach{Reason::subjectNotOneLine, ""};
  } else if (auto bytes = jobDocumentBytes(subject, body, attachLogs); !bytes) {
    making.breach = invalid();
  } else if (bytes->size() > static_cast<std::size_t>(kMaxJobDocumentSize)) {
    making.breach = RuleBreach{Reason::jobDocumentTooLarge, ""};
  } else if (auto check = checkJobDocument(*bytes, subjectPrefix); check.breach) {
    making.breach = std::move(check.breach);
  } else {
    making.bytes = std::move(bytes);
  }
  return making;
}
