#include "platform/bundle.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

#include "platform/info_dictionary.h"
#include "testing/scratch_directory.h"

namespace platform {
namespace {

constexpr const char* kXml = R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict>
  <key>CFBundleIdentifier</key><string>com.example.x</string>
  <key>QuorvelChannel</key><string>dev</string>
  <key>Number</key><integer>-7</integer>
  <key>Real</key><real>2.5</real>
  <key>Flag</key><true/>
  <key>When</key><date>2020-01-01T00:00:00Z</date>
  <key>Blob</key><data>AAE=</data>
  <key>List</key><array><string>a</string><integer>1</integer></array>
  <key>Nested</key><dict><key>k</key><string>v</string></dict>
</dict></plist>)";

TEST(InfoDictionary, KeepsPropertyListTypes) {
  const PlistDict info = parseInfoDictionary(kXml);
  ASSERT_EQ(info.size(), 9u);
  EXPECT_EQ(*info.at("QuorvelChannel").as<std::string>(), "dev");
  EXPECT_EQ(*info.at("Number").as<std::int64_t>(), -7);
  EXPECT_EQ(*info.at("Real").as<double>(), 2.5);
  EXPECT_EQ(*info.at("Flag").as<bool>(), true);
  EXPECT_NE(info.at("When").as<PlistDate>(), nullptr);
  EXPECT_EQ(info.at("Blob").as<PlistData>()->bytes, std::string("\0\1", 2));
  EXPECT_EQ(info.at("List").as<PlistArray>()->size(), 2u);
  EXPECT_EQ(*info.at("Nested").as<PlistDict>()->at("k").as<std::string>(), "v");
}

TEST(InfoDictionary, AnythingElseIsEmpty) {
  EXPECT_TRUE(parseInfoDictionary("").empty());
  EXPECT_TRUE(parseInfoDictionary("garbage").empty());
  EXPECT_TRUE(parseInfoDictionary(R"(<plist version="1.0"><array/></plist>)").empty());
  EXPECT_TRUE(parseInfoDictionary(R"(<plist version="1.0"><dict><key>a</key>)").empty());
}

class BundleOnDisk : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(root_ + "/X.app/Contents/MacOS");
    std::filesystem::create_directories(root_ + "/X.app/Contents/Resources/dir.applescript");
    std::ofstream(root_ + "/X.app/Contents/Info.plist") << kXml;
    std::ofstream(root_ + "/X.app/Contents/Resources/support-mail.applescript") << "x";
  }
  testing_support::ScratchDirectory scratch_;
  const std::string& root_ = scratch_.path();
};

TEST_F(BundleOnDisk, ExecutableInContentsMacOSIsInABundle) {
  const Bundle bundle = bundleForExecutable(executableInBundle(root_ + "/X.app", "tool"));
  EXPECT_EQ(bundle.bundlePath, root_ + "/X.app");
  EXPECT_EQ(bundle.executableDirectory, root_ + "/X.app/Contents/MacOS");
  EXPECT_EQ(bundleIdentifier(bundle), "com.example.x");
  EXPECT_EQ(resourcePath(bundle.resourceDirectory, "support-mail", "applescript"),
            root_ + "/X.app/Contents/Resources/support-mail.applescript");
  EXPECT_EQ(resourcePath(bundle.resourceDirectory, "missing", "applescript"), std::nullopt);
  EXPECT_EQ(resourcePath(bundle.resourceDirectory, "dir", "applescript"), std::nullopt) << "a directory is no resource";
}

TEST_F(BundleOnDisk, ExecutableElsewhereHasNoInformation) {
  const Bundle bundle = bundleForExecutable(root_ + "/X.app/Contents/tool");
  EXPECT_TRUE(bundle.bundlePath.empty());
  EXPECT_EQ(bundle.executableDirectory, root_ + "/X.app/Contents") << "helpers lie beside the executable";
  EXPECT_TRUE(bundle.info.empty());
  EXPECT_EQ(bundleIdentifier(bundle), std::nullopt);
  EXPECT_EQ(infoValue(bundle, "QuorvelChannel"), nullptr);
}

TEST_F(BundleOnDisk, IdentifierMustBeText) {
  std::ofstream(root_ + "/X.app/Contents/Info.plist")
      << R"(<plist version="1.0"><dict><key>CFBundleIdentifier</key><integer>3</integer></dict></plist>)";
  EXPECT_EQ(bundleIdentifier(bundleForExecutable(root_ + "/X.app/Contents/MacOS/tool")), std::nullopt);
}

}  // namespace
}  // namespace platform
