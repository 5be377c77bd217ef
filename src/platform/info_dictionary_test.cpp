#include "platform/info_dictionary.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "testing/crafted_binary_plist.h"

namespace {

using namespace std::string_literals;
using testing_support::infoWithNestedArrays;

// Levels of arrays inside `value`, the value itself counting as one.
int arrayDepth(const platform::PlistValue& value) {
  const auto* array = value.as<platform::PlistArray>();
  if (array == nullptr) return 0;
  int deepest = 0;
  for (const auto& item : *array) deepest = std::max(deepest, arrayDepth(item));
  return deepest + 1;
}

std::string xmlInfoWithNestedArrays(std::size_t levels, std::string_view between = "") {
  std::string xml =
      "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>"
      "<key>CFBundleIdentifier</key><string>x</string><key>Nested</key>";
  for (std::size_t i = 0; i < levels; ++i) xml += "<array>"s + std::string(between);
  for (std::size_t i = 0; i < levels; ++i) xml += "</array>";
  return xml + "</dict></plist>";
}

// An XML property list may carry U+0000 inside a string; reading it once
// aborted the whole process inside the property-list library. The text ends
// at the U+0000.
TEST(InfoDictionary, StringWithNulEndsThere) {
  const std::string xml =
      "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>"
      "<key>CFBundleDisplayName</key><string>a\0b</string></dict></plist>"s;
  const platform::PlistDict info = platform::parseInfoDictionary(xml);
  ASSERT_EQ(info.count("CFBundleDisplayName"), 1u);
  const auto* name = info.at("CFBundleDisplayName").as<std::string>();
  ASSERT_NE(name, nullptr);
  EXPECT_EQ(*name, "a");
}

// A binary property list whose key holds a U+0000 that its recorded length
// counts: reading the key once aborted the process inside the library.
TEST(InfoDictionary, BinaryKeyWithNulIsRead) {
  const std::string bytes(
    "\x62\x70\x6c\x69\x73\x74\x30\x30\xd6\x01\x02\x03\x04\x05\x06\x07"
    "\x08\x09\x0a\x0b\x0c\x5f\x10\x13\x43\x46\x42\x75\x6e\xba\x6c\x65"
    "\x44\x69\x73\x70\x6c\x61\x79\x4e\x61\x6d\x6e\x65\x73\x12\x43\x46"
    "\x42\x75\x6e\xff\x00\x00\x00\x00\x00\x00\x00\x74\x61\x62\x6c\x65"
    "\x5f\x10\x12\x43\x46\x42\x75\x6e\x64\x6c\x65\x49\x64\x65\x6e\x74"
    "\x69\x66\x69\x65\x72\x5f\x10\x13\x43\x46\x42\x75\x6e\x64\x6c\x65"
    "\x50\x61\x9d\x9a\x61\x67\x65\x54\x79\x70\x65\x5b\x4c\x53\x55\x49"
    "\x45\x6c\x65\x6d\x65\x6e\x74\x5e\x51\x75\x6f\x72\x76\x65\x6c\x43"
    "\x68\x61\x6e\x6e\x65\x6c\x5f\x10\x15\x51\x75\x6f\x72\x76\x65\x6c"
    "\x20\x53\x75\x70\x70\x6f\x72\x74\x20\x44\x72\x61\x66\x74\x5d\x73"
    "\x75\x70\x70\x6f\x72\x74\x2d\x64\x72\x61\x66\x74\x5f\x10\x19\x63"
    "\x6f\x6d\x2e\x71\x75\x6f\x72\x76\x65\x6c\x2e\x73\x75\x70\x70\x6f"
    "\x72\x74\x2d\x64\x72\x61\x66\x74\x54\x41\x50\x50\x4c\x09\x53\x64"
    "\x65\x76\x08\x15\x2b\x40\x55\x6b\x77\x86\x9e\xac\xc8\xcd\xce\x00"
    "\x00\x00\x00\x00\x00\x01\x01\x00\x00\x00\x00\x00\x00\x00\x0d\x00"
    "\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\xd2",
      255);
  const platform::PlistDict info = platform::parseInfoDictionary(bytes);
  EXPECT_FALSE(info.empty());
}

// The library recurses once per level, so a deep tree overflowed the stack;
// a tree deeper than a bundle needs is refused as a whole, and one just
// within the depth is read completely.
TEST(InfoDictionary, TreesDeeperThanTheLimitAreRefused) {
  const platform::PlistDict within = platform::parseInfoDictionary(infoWithNestedArrays(64));
  ASSERT_EQ(within.count("Nested"), 1u);
  EXPECT_EQ(arrayDepth(within.at("Nested")), 64);
  EXPECT_EQ(within.count("CFBundleIdentifier"), 1u);
  EXPECT_TRUE(platform::parseInfoDictionary(infoWithNestedArrays(65)).empty());
  EXPECT_TRUE(platform::parseInfoDictionary(infoWithNestedArrays(30'000)).empty());

  EXPECT_EQ(arrayDepth(platform::parseInfoDictionary(xmlInfoWithNestedArrays(64)).at("Nested")), 64);
  EXPECT_TRUE(platform::parseInfoDictionary(xmlInfoWithNestedArrays(65)).empty());
  EXPECT_TRUE(platform::parseInfoDictionary(xmlInfoWithNestedArrays(300'000)).empty());
  // Comments, processing instructions and character data hold no elements
  // (the string beside each array is one level below it).
  const std::string quiet = "<!-- <array> --><?pi <array>?><string><![CDATA[<array>]]></string>";
  EXPECT_EQ(arrayDepth(platform::parseInfoDictionary(xmlInfoWithNestedArrays(63, quiet)).at("Nested")), 63);
  EXPECT_TRUE(platform::parseInfoDictionary(xmlInfoWithNestedArrays(64, quiet)).empty());
}

// A binary list stores each object once, and the library copies it wherever
// it is referenced: arrays holding the next one twice double the tree per
// level. The expanded size counts, not the file's.
TEST(InfoDictionary, SharedObjectsAreCountedWhereverReferenced) {
  const std::string small = infoWithNestedArrays(10, 2);
  const std::string huge = infoWithNestedArrays(20, 2);
  EXPECT_LT(huge.size(), 400u);
  EXPECT_EQ(platform::parseInfoDictionary(small).count("Nested"), 1u);
  EXPECT_TRUE(platform::parseInfoDictionary(huge).empty());

  // One large string referenced from many places grows the same way.
  std::vector<std::string> objects = {testing_support::containerObject(0xD, {1, 2}),
                                      testing_support::asciiStringObject("CFBundleIdentifier"),
                                      testing_support::containerObject(0xA, std::vector<std::uint16_t>(2'000, 3)),
                                      testing_support::asciiStringObject(std::string(4'000, 'x'))};
  EXPECT_TRUE(platform::parseInfoDictionary(testing_support::binaryPlist(objects)).empty());
  objects[2] = testing_support::containerObject(0xA, std::vector<std::uint16_t>(20, 3));
  EXPECT_EQ(platform::parseInfoDictionary(testing_support::binaryPlist(objects)).size(), 1u);
}

}  // namespace

namespace {

// What the bundle maker writes reads back the same, whatever characters
// the texts hold; values it cannot write are refused, not mangled.
TEST(InfoDictionaryXml, TextsAndTruthValuesReadBackUnchanged) {
  const platform::PlistDict info = {
      {"CFBundleDisplayName", platform::PlistValue{std::string("Acme <Notes> & \"Co\" 'x' \xC3\xA9\xE2\x80\x94")}},
      {"SupportDraftRecipient", platform::PlistValue{std::string("help+desk&to=x@acme.example")}},
      {"LSUIElement", platform::PlistValue{true}},
      {"Other", platform::PlistValue{false}}};
  const auto xml = platform::infoDictionaryXml(info);
  ASSERT_TRUE(xml);
  EXPECT_EQ(platform::parseInfoDictionary(*xml), info);
  EXPECT_FALSE(platform::infoDictionaryXml({{"a", platform::PlistValue{std::string("x\0y", 3)}}}));
  EXPECT_FALSE(platform::infoDictionaryXml({{"a", platform::PlistValue{std::int64_t{1}}}}));
}

}  // namespace
