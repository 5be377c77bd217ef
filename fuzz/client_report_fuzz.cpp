// Feeds arbitrary bytes, as the terminal helper's report would arrive, to
// the report reader. Whatever arrives, the reading says only what the
// protocol's own lines say: a report other than Malformed or Silent is
// exactly those lines (with at most the start of one more), an end holds
// a status or signal in range, and a report read in pieces never says
// more than the whole.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_input.h"
#include "mail/client_report.h"

namespace {

using fuzz_input::require;
using State = mail::ClientReport::State;

// What the complete lines of a report must be for its state.
std::string linesFor(const mail::ClientReport& report) {
  switch (report.state) {
    case State::Silent:
      return "";
    case State::Started:
      return mail::startedLine();
    case State::Ended:
      return mail::startedLine() + mail::endLine(report.end);
    case State::Unstartable:
      return mail::unstartableLine();
    case State::Malformed:
    case State::Lost:
      break;
  }
  return "";
}

// How far along a report is; Malformed is final.
int progress(State state) {
  switch (state) {
    case State::Silent: return 0;
    case State::Started: return 1;
    case State::Ended:
    case State::Unstartable:
    case State::Malformed:
    case State::Lost: return 2;
  }
  return 2;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view received = fuzz_input::bytesOf(data, size);
  const mail::ClientReport report = mail::readClientReport(received);

  require(report.state != State::Lost);  // never read from bytes
  if (received.size() > mail::kMaxReportSize) require(report.state == State::Malformed);
  if (report.state == State::Ended) {
    require(report.end.signalled ? report.end.number >= 1 && report.end.number <= 64
                                 : report.end.number >= 0 && report.end.number <= 255);
  }
  if (report.state != State::Malformed) {
    const std::string lines = linesFor(report);
    require(received.starts_with(lines));
    // What follows is at most a line not yet complete.
    require(received.substr(lines.size()).find('\n') == std::string_view::npos);
  }
  // A prefix of what arrived says no more than the whole; once malformed,
  // more bytes cannot mend it.
  for (std::size_t length = 0; length < received.size(); ++length) {
    const mail::ClientReport earlier = mail::readClientReport(received.substr(0, length));
    if (earlier.state == State::Malformed) require(report.state == State::Malformed);
    if (report.state != State::Malformed) require(progress(earlier.state) <= progress(report.state));
  }
  return 0;
}
