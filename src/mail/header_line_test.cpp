#include "mail/header_line.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace mail
