#include "platform/info_dictionary.h"

#include <string>

#include <gtest/gtest.h>

namespace {

using namespace std::string_literals;

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

}  // namespace
