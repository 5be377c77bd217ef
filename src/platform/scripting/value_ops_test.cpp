#include "platform/scripting/value_ops.h"

#include <gtest/gtest.h>

#include "platform/scripting/errors.h"

namespace platform::scripting {
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

TEST(ValueOpsTest, EqualityIsCanonicalForTextsAndStrictAcrossKinds) {
  EXPECT_TRUE(valuesEqual(Descriptor::text("\xC3\xA9"), Descriptor::text("e\xCC\x81")));
  EXPECT_FALSE(valuesEqual(Descriptor::text("A"), Descriptor::text("a")));
  EXPECT_FALSE(valuesEqual(Descriptor::text("1"), Descriptor::integer(1)));
  EXPECT_TRUE(valuesEqual(Descriptor::list({Descriptor::integer(1), Descriptor::text("x")}),
                          Descriptor::list({Descriptor::integer(1), Descriptor::text("x")})));
  EXPECT_FALSE(valuesEqual(Descriptor::list({Descriptor::integer(1)}),
                           Descriptor::list({Descriptor::integer(1), Descriptor::integer(1)})));
}

TEST(ValueOpsTest, ListsHaveNoText) {
  EXPECT_EQ(textOf(Descriptor::integer(-5)), "-5");
  try {
    textOf(Descriptor::list());
    FAIL() << "a list became text";
  } catch (const ScriptError& error) {
    EXPECT_EQ(error.number, kErrorCantCoerce);
  }
}

}  // namespace
}  // namespace platform::scripting
