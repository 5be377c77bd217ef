#include "job/rule_breach.h"

#include <gtest/gtest.h>

#include <cctype>
#include <iterator>
#include <set>

namespace {

#define SUPPORT_DRAFT_REASON_VALUE(name, api, number, sentence, limit) Reason::name,
constexpr Reason kAllReasons[] = {SUPPORT_DRAFT_REASONS(SUPPORT_DRAFT_REASON_VALUE)};
#undef SUPPORT_DRAFT_REASON_VALUE

TEST(ReasonCode, EveryReasonHasItsOwnLowerCamelCaseCode) {
  for (std::size_t i = 0; i < std::size(kAllReasons); ++i) EXPECT_EQ(static_cast<std::size_t>(kAllReasons[i]), i);
  std::set<std::string_view> codes;
  for (const Reason reason : kAllReasons) {
    const std::string_view code = reasonCode(reason);
    ASSERT_FALSE(code.empty()) << static_cast<int>(reason);
    EXPECT_TRUE(std::islower(static_cast<unsigned char>(code.front()))) << code;
    for (const char c : code) EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(c))) << code;
    EXPECT_TRUE(codes.insert(code).second) << "used twice: " << code;
  }
}

TEST(ReasonSentence, NamesTheInputAndThePath) {
  EXPECT_EQ(reasonSentence({Reason::logIsDirectory, "/tmp/app.log"}), "the log is a directory: /tmp/app.log");
  EXPECT_EQ(reasonSentence({Reason::bundleMissing, "/opt/X.app"}), "the bundle does not exist: /opt/X.app");
  EXPECT_NE(reasonSentence({Reason::homeNotFound, "/home/u"}).find("HOME"), std::string::npos);
  // The limits are filled in from the rules themselves.
  EXPECT_EQ(reasonSentence({Reason::subjectTooLong, ""}), "the subject is too long: at most 200 bytes of UTF-8");
  EXPECT_EQ(reasonSentence({Reason::logTooLarge, "/l"}), "the log is too large: at most 24576 bytes: /l");
  for (const Reason reason : kAllReasons) {
    const std::string sentence = reasonSentence({reason, ""});
    EXPECT_EQ(sentence.find("{}"), std::string::npos) << sentence;
    EXPECT_FALSE(sentence.empty());
    EXPECT_NE(sentence.back(), '.') << sentence;
  }
}

}  // namespace
