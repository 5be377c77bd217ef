#include "scripting/value_ops.h"

#include <gtest/gtest.h>

#include "scripting/errors.h"

namespace scripting {
namespace {

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
}  // namespace scripting
