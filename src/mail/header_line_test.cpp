#include "mail/header_line.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace mail {
namespace {

// Every character a client may end a header line at is refused, and the
// characters next to them in the code tables are not.
TEST(HeaderLineTest, WhatEndsAHeaderLine) {
  struct Case {
    std::string text;
    bool oneLine;
  };
  const Case cases[] = {
      {"Support Request - Quorvel x", true},
      {"a\tb", true},
      {"", true},
      {"T\xC3\xBCrk\xC3\xA7" "e \xE2\x82\xAC \xF0\x9F\x93\xA7", true},
      {"\xC2\xA0 no-break space", true},
      {"\xC2\xA9", true},
      {"\xE2\x80\xA7 \xE2\x80\xAA", true},
      {"\xE2\x81\xA8", true},
      {"x\nBcc: evil@example.org", false},
      {"x\r\nBcc: evil@example.org", false},
      {"x\rBcc: evil@example.org", false},
      {"x\vy", false},
      {"x\fy", false},
      {"x\x1Cy", false},
      {"x\x1Ey", false},
      {"x\x1B[31m", false},
      {std::string("x\0y", 3), false},
      {"x\x7Fy", false},
      {"x\xC2\x85y", false},
      {"x\xC2\x80y", false},
      {"x\xC2\x9Fy", false},
      {"x\xE2\x80\xA8y", false},
      {"x\xE2\x80\xA9y", false},
  };
  for (const Case& c : cases) EXPECT_EQ(isOneHeaderLine(c.text), c.oneLine) << testing::PrintToString(c.text);
}

// A subject goes into a draft file's header as encoded words: every byte
// in base64 (a "=?...?=" of the text's own stays text), no word longer than
// 75 characters, and no character split between two words.
TEST(HeaderLineTest, EncodedWordsCarryTheTextWhole) {
  EXPECT_EQ(encodedWords(""), "");
  EXPECT_EQ(encodedWords("T\xC3\xBCrk\xC3\xA7" "e"), "=?UTF-8?B?VMO8cmvDp2U=?=");
  EXPECT_EQ(encodedWords("x =?UTF-8?Q?y?= z"), "=?UTF-8?B?eCA9P1VURi04P1E/eT89IHo=?=");
  // 44 letters and an e-acute, whose second byte is the 46th: the first
  // word ends before it.
  EXPECT_EQ(encodedWords(std::string(44, 'a') + "\xC3\xA9"),
            "=?UTF-8?B?YWFhYWFhYWFhYWFhYWFhYWFhYWFhYWFhYWFhYWFhYWFhYWFhYWFhYWFhYWE=?=\n =?UTF-8?B?w6k=?=");
  const std::string value = encodedWords(std::string(200, 'x'));
  std::size_t words = 0;
  for (std::size_t at = 0; at <= value.size();) {
    const std::size_t end = std::min(value.find("\n ", at), value.size());
    EXPECT_LE(end - at, 75U);
    ++words;
    at = end + 2;
  }
  EXPECT_EQ(words, 5U);  // 200 bytes in words of 45
}

}  // namespace
}  // namespace mail
