#include "mail/percent_encoding.h"

#include <gtest/gtest.h>

#include <string>

namespace mail {
namespace {

TEST(PercentEncodeTest, KeepsOnlyUnreservedAscii) {
  EXPECT_EQ(percentEncode("AZaz09-._~"), "AZaz09-._~");
  EXPECT_EQ(percentEncode("a b&c=d%e/f\\g"), "a%20b%26c%3Dd%25e%2Ff%5Cg");
  EXPECT_EQ(percentEncode("\"$(x)\"\n\t\r+?#"), "%22%24%28x%29%22%0A%09%0D%2B%3F%23");
  EXPECT_EQ(percentEncode(""), "");
}

TEST(PercentEncodeTest, EncodesEachByteOfMultiByteLettersInUpperCaseHex) {
  EXPECT_EQ(percentEncode("T\xC3\xBCrk\xC3\xA7" "e"), "T%C3%BCrk%C3%A7e");
  EXPECT_EQ(percentEncode(std::string("\x00\xFF", 2)), "%00%FF");
}

}  // namespace
}  // namespace mail
