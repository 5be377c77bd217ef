// What the client helper and this program tell each other over their
// private channel. The protocol is fixed and tiny, so that nothing else
// that arrives can be read as an answer.
//
//   program -> helper   once the program has accepted the helper: kGoAhead,
//                       the length in bytes of the client's command in
//                       decimal and a line feed, then the command's words
//                       (helper_words.h), so that the command, which holds
//                       the draft, never stands in the helper's own
//                       arguments; later one byte, kKeep, once it has
//                       counted the running client as an open draft
//   helper -> program   lines: "started", then "exit N" (0-255) or
//                       "signal N" (1-64) when the client ends; or
//                       "unstartable" alone when it could not be started
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mail {

inline constexpr char kGoAhead = 'g';
inline constexpr char kKeep = 'k';

// The most the helper ever sends: "started\n" and "unstartable\n" or the
// longest end line fit well within it.
inline constexpr std::size_t kMaxReportSize = 32;

// How the client ended, as the helper saw it.
struct ClientEnd {
  bool signalled = false;
  int number = 0;  // the exit status, or the signal that ended it
};

// The go-ahead with the client's command; nothing when the command cannot
// be packed (packWords).
std::optional<std::string> goAheadMessage(const std::vector<std::string>& command);

// The longest length line of the go-ahead: the digits of the largest
// packed command and the line feed.
inline constexpr std::size_t kMaxCommandLengthLine = 8;

// The command's length from the line after kGoAhead ("123\n"); nothing for
// anything but a decimal number without leading zeros, of at least 1 and at
// most kMaxHelperWordsSize, followed by one line feed.
std::optional<std::size_t> commandLength(std::string_view line);

// The lines the helper sends.
std::string startedLine();
std::string unstartableLine();
std::string endLine(ClientEnd end);

// What everything received from the helper so far says. A line not yet
// complete says nothing yet; anything outside the protocol, or more than
// kMaxReportSize bytes, is Malformed.
struct ClientReport {
  // Lost is never read from bytes: the program sets it when the helper
  // went away before its report was final.
  enum class State { Silent, Started, Ended, Unstartable, Malformed, Lost };
  State state = State::Silent;
  ClientEnd end;  // Ended only
};
ClientReport readClientReport(std::string_view received);

}  // namespace mail
