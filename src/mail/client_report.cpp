#include "mail/client_report.h"

#include <optional>

#include "mail/helper_words.h"

namespace mail {
namespace {

constexpr std::string_view kStarted = "started";
constexpr std::string_view kUnstartable = "unstartable";
constexpr std::string_view kExit = "exit ";
constexpr std::string_view kSignal = "signal ";
constexpr int kMaxExitStatus = 255;
constexpr int kMaxSignal = 64;

// A decimal number in [low, high] without sign, blanks or leading zeros.
std::optional<int> number(std::string_view digits, int low, int high) {
  if (digits.empty() || digits.size() > 3 || (digits.size() > 1 && digits.front() == '0')) return std::nullopt;
  int value = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (value < low || value > high) return std::nullopt;
  return value;
}

std::optional<ClientEnd> endOf(std::string_view line) {
  if (line.starts_with(kExit)) {
    const auto status = number(line.substr(kExit.size()), 0, kMaxExitStatus);
    if (status) return ClientEnd{false, *status};
  } else if (line.starts_with(kSignal)) {
    const auto signal = number(line.substr(kSignal.size()), 1, kMaxSignal);
    if (signal) return ClientEnd{true, *signal};
  }
  return std::nullopt;
}

ClientReport malformed() { return {ClientReport::State::Malformed, {}}; }

}  // namespace

std::optional<std::string> goAheadMessage(const std::vector<std::string>& command) {
  auto words = packWords(command);
  if (!words || words->empty()) return std::nullopt;
  return std::string(1, kGoAhead) + std::to_string(words->size()) + "\n" + *words;
}

std::optional<std::size_t> commandLength(std::string_view line) {
  if (line.size() < 2 || line.size() > kMaxCommandLengthLine || line.back() != '\n' || line.front() == '0') {
    return std::nullopt;
  }
  std::size_t value = 0;
  for (const char c : line.substr(0, line.size() - 1)) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::size_t>(c - '0');
  }
  if (value > kMaxHelperWordsSize) return std::nullopt;
  return value;
}

std::string startedLine() { return std::string(kStarted) + "\n"; }

std::string unstartableLine() { return std::string(kUnstartable) + "\n"; }

std::string endLine(ClientEnd end) {
  return std::string(end.signalled ? kSignal : kExit) + std::to_string(end.number) + "\n";
}

ClientReport readClientReport(std::string_view received) {
  if (received.size() > kMaxReportSize) return malformed();
  ClientReport report;
  while (true) {
    const auto newline = received.find('\n');
    // An incomplete line may still grow into a valid one, unless it is
    // already longer than the longest line.
    if (newline == std::string_view::npos) return received.size() > kUnstartable.size() ? malformed() : report;
    const std::string_view line = received.substr(0, newline);
    received.remove_prefix(newline + 1);
    switch (report.state) {
      case ClientReport::State::Silent:
        if (line == kStarted) {
          report.state = ClientReport::State::Started;
        } else if (line == kUnstartable) {
          report.state = ClientReport::State::Unstartable;
        } else {
          return malformed();
        }
        break;
      case ClientReport::State::Started:
        if (const auto end = endOf(line)) {
          report = {ClientReport::State::Ended, *end};
        } else {
          return malformed();
        }
        break;
      case ClientReport::State::Ended:
      case ClientReport::State::Unstartable:
      case ClientReport::State::Malformed:
      case ClientReport::State::Lost:
        // Nothing may follow the last line.
        return malformed();
    }
  }
}

}  // namespace mail
