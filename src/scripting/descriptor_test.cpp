#include "scripting/descriptor.h"

#include <gtest/gtest.h>

#include "scripting/apple_event.h"

namespace scripting {
namespace {

std::vector<std::string> texts(const Descriptor& list) {
  std::vector<std::string> result;
  for (const Descriptor& item : list.items()) result.push_back(item.stringValue().value_or("<none>"));
  return result;
}

TEST(DescriptorTest, FourCharCodeIsBigEndianBytes) {
  EXPECT_EQ(fourCharCode("ascr"), 0x61736372u);
  EXPECT_EQ(fourCharCode("----"), 0x2D2D2D2Du);
}

TEST(DescriptorTest, StringValueOfEachKind) {
  EXPECT_EQ(Descriptor::text("a\nb").stringValue(), "a\nb");
  EXPECT_EQ(Descriptor::integer(-1743).stringValue(), "-1743");
  EXPECT_EQ(Descriptor::boolean(true).stringValue(), "true");
  EXPECT_EQ(Descriptor::boolean(false).stringValue(), "false");
  EXPECT_EQ(Descriptor::list({Descriptor::text("x")}).stringValue(), std::nullopt);
}

TEST(DescriptorTest, InsertPlacesItemsAtOneBasedPositions) {
  Descriptor list = Descriptor::list();
  EXPECT_TRUE(list.insert(Descriptor::text("b"), 1));
  EXPECT_TRUE(list.insert(Descriptor::text("d"), 2));
  EXPECT_TRUE(list.insert(Descriptor::text("a"), 1));
  EXPECT_TRUE(list.insert(Descriptor::text("c"), 3));
  EXPECT_EQ(texts(list), (std::vector<std::string>{"a", "b", "c", "d"}));

  EXPECT_FALSE(list.insert(Descriptor::text("x"), 0));
  EXPECT_FALSE(list.insert(Descriptor::text("x"), 6));
  EXPECT_FALSE(Descriptor::text("t").insert(Descriptor::text("x"), 1));
  EXPECT_EQ(list.count(), 4u);
}

TEST(DescriptorTest, InsertIntoACopyLeavesTheOriginal) {
  const Descriptor original = Descriptor::list({Descriptor::text("a")});
  Descriptor copy = original;
  copy.insert(Descriptor::text("b"), 2);
  EXPECT_EQ(texts(original), (std::vector<std::string>{"a"}));
  EXPECT_EQ(texts(copy), (std::vector<std::string>{"a", "b"}));
}

TEST(DescriptorTest, NestingAndWeightFollowInserts) {
  Descriptor inner = Descriptor::list({Descriptor::text("abc"), Descriptor::integer(1)});
  EXPECT_EQ(inner.nesting(), 1u);
  EXPECT_EQ(inner.weight(), 1u + 3u + 1u);
  Descriptor outer = Descriptor::list();
  outer.insert(inner, 1);
  outer.insert(inner, 1);
  EXPECT_EQ(outer.nesting(), 2u);
  EXPECT_EQ(outer.weight(), 1u + 2 * inner.weight());
}

TEST(AppleEventTest, StoringAKeywordAgainReplacesItsValue) {
  AppleEvent event(fourCharCode("ascr"), fourCharCode("psbr"), -1, 0);
  event.setParam(Descriptor::text("first"), fourCharCode("snam"));
  event.setParam(Descriptor::list(), fourCharCode("----"));
  event.setParam(Descriptor::text("again"), fourCharCode("snam"));
  ASSERT_NE(event.param(fourCharCode("snam")), nullptr);
  EXPECT_EQ(event.param(fourCharCode("snam"))->stringValue(), "again");
  EXPECT_EQ(event.param(fourCharCode("xxxx")), nullptr);
}

}  // namespace
}  // namespace scripting
