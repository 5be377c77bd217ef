// Feeds arbitrary bytes to the job document check and the JSON layer under
// it. A document that is accepted must give texts the draft can rely on, and
// every value the parser builds must come back unchanged through the
// serialiser, since the result document and the self-check are written
// with it.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "job/job_document.h"
#include "platform/json.h"
#include "platform/text.h"

namespace {

constexpr std::string_view kSubjectPrefix = "Support Request - Quorvel ";

void require(bool condition) {
  if (!condition) __builtin_trap();
}

// serialise -> parse must give back an equal value, and the text must be
// stable: serialising the copy gives the same bytes again.
void checkRoundTrip(const platform::Json& value) {
  const auto text = platform::serializeJson(value);
  if (!text) return;  // a value without a JSON text (e.g. not finite)
  require(platform::isValidUtf8(*text));
  const auto again = platform::parseJson(*text);
  require(again.has_value());
  require(*again == value);
  const auto textAgain = platform::serializeJson(*again);
  require(textAgain && *textAgain == *text);
}

void checkAcceptedJob(const AcceptedJob& job) {
  require(job.subject.starts_with(kSubjectPrefix));
  require(job.subject.size() <= 200);
  require(job.body.size() <= 8192);
  require(job.subject.find('\0') == std::string::npos);
  require(job.body.find('\0') == std::string::npos);
  require(platform::isValidUtf8(job.subject));
  require(platform::isValidUtf8(job.body));

  // The same job written by our own serialiser must be accepted as the
  // very same job: "/" escaping and UTF-8 output change nothing.
  const platform::Json rewritten = {
      {"subject", job.subject}, {"body", job.body}, {"attachLogs", job.attachLogs}};
  const auto text = platform::serializeJson(rewritten);
  require(text.has_value());
  const auto reread = checkJobDocument(*text, kSubjectPrefix).job;
  require(reread.has_value());
  require(reread->subject == job.subject && reread->body == job.body && reread->attachLogs == job.attachLogs);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  const auto parsed = platform::parseJson(bytes);
  if (parsed) checkRoundTrip(*parsed);

  const auto job = checkJobDocument(bytes, kSubjectPrefix).job;
  // Nothing that fails to parse as JSON can be a job document.
  if (job) require(parsed.has_value());
  if (job) checkAcceptedJob(*job);
  return 0;
}
