#include "mail/client_report.h"

#include <gtest/gtest.h>

#include <vector>

#include "mail/helper_words.h"

namespace mail {
namespace {

using State = ClientReport::State;

// The lines the helper writes read back as what it saw.
TEST(ClientReportTest, HelperLinesReadBackAsSent) {
  EXPECT_EQ(readClientReport("").state, State::Silent);
  EXPECT_EQ(readClientReport(startedLine()).state, State::Started);
  EXPECT_EQ(readClientReport(unstartableLine()).state, State::Unstartable);
  for (const ClientEnd end : {ClientEnd{false, 0}, ClientEnd{false, 1}, ClientEnd{false, 255}, ClientEnd{true, 11},
                              ClientEnd{true, 64}}) {
    const ClientReport report = readClientReport(startedLine() + endLine(end));
    ASSERT_EQ(report.state, State::Ended) << endLine(end);
    EXPECT_EQ(report.end.signalled, end.signalled);
    EXPECT_EQ(report.end.number, end.number);
  }
  // A line still arriving says nothing yet.
  EXPECT_EQ(readClientReport("star").state, State::Silent);
  EXPECT_EQ(readClientReport(startedLine() + "exit 2").state, State::Started);
}

// Anything outside the protocol is no answer, however close to one.
TEST(ClientReportTest, AnythingElseIsMalformed) {
  for (const std::string& bytes : std::vector<std::string>{
           "exit 0\n",                           // an end before the start
           "started\nstarted\n",                 // said twice
           "started\nexit 0\nexit 0\n",          // more after the end
           "unstartable\nstarted\n",             // more after the last word
           "Started\n", "started \n", "started\r\n", "ok\n", "\n",
           "started\nexit 256\n", "started\nexit -1\n", "started\nexit 01\n", "started\nexit +1\n",
           "started\nexit \n", "started\nexit 1 \n", "started\nsignal 0\n", "started\nsignal 65\n",
           "started\nkilled 9\n", std::string("started\0\n", 9),
           "startedstartedstarted",              // a line longer than any the protocol has
           std::string(kMaxReportSize + 1, '\n'),
       }) {
    EXPECT_EQ(readClientReport(bytes).state, State::Malformed) << bytes;
  }
}

// The go-ahead carries the client's command after its length line, which
// reads back as the length of what follows; any other line is no length.
TEST(ClientReportTest, GoAheadCarriesTheCommand) {
  const std::vector<std::string> command = {"neomutt", "-a", "/home/O'Neil, J/log.txt", "--", "mailto:?subject=x"};
  const auto message = goAheadMessage(command);
  ASSERT_TRUE(message);
  ASSERT_EQ(message->front(), kGoAhead);
  const auto lineEnd = message->find('\n');
  ASSERT_NE(lineEnd, std::string::npos);
  const auto length = commandLength(std::string_view(*message).substr(1, lineEnd));
  ASSERT_TRUE(length);
  EXPECT_EQ(*length, message->size() - lineEnd - 1);
  EXPECT_FALSE(goAheadMessage({}));
  EXPECT_FALSE(goAheadMessage({std::string("a\0b", 3)}));
  for (const std::string_view line : {"", "\n", "0\n", "012\n", "12", "1 \n", "-1\n", "+1\n", "1\n\n",
                                      "9999999\n", "12345678\n"}) {
    EXPECT_FALSE(commandLength(line)) << line;
  }
  EXPECT_EQ(commandLength("1\n"), 1u);
  EXPECT_EQ(commandLength(std::to_string(kMaxHelperWordsSize) + "\n"), kMaxHelperWordsSize);
}

}  // namespace
}  // namespace mail
