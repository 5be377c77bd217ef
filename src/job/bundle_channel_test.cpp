#include "job/bundle_channel.h"

#include <gtest/gtest.h>

#include "platform/plist_value.h"

#include "testing/scratch_directory.h"

namespace {

TEST(Channel, OnlyTheTwoExactTexts) {
  using platform::PlistValue;
  const PlistValue dev{std::string("dev")};
  const PlistValue prod{std::string("prod")};
  EXPECT_EQ(toolDirectoryForChannel(&dev), ".vantrel-devtool-dev");
  EXPECT_EQ(toolDirectoryForChannel(&prod), ".vantrel-devtool");
  EXPECT_FALSE(toolDirectoryForChannel(nullptr));
  for (const PlistValue& bad :
       {PlistValue{std::int64_t{1}}, PlistValue{true}, PlistValue{platform::PlistDate{}},
        PlistValue{platform::PlistData{"dev"}}, PlistValue{platform::PlistArray{dev}},
        PlistValue{std::string("")}, PlistValue{std::string("Dev")}, PlistValue{std::string("PROD")},
        PlistValue{std::string(" dev")}, PlistValue{std::string("production")}}) {
    EXPECT_FALSE(toolDirectoryForChannel(&bad));
  }
}

BundleFacts builtBundle(const char* channel) {
  BundleFacts facts;
  facts.bundleIsDirectory = true;
  facts.executableIsRegularFile = true;
  if (channel != nullptr) facts.channelText = channel;
  return facts;
}

std::optional<Reason> refusal(const BundleChannelReading& reading) {
  return reading.breach ? std::optional(reading.breach->reason) : std::nullopt;
}

TEST(BundleChannel, EachMissingPieceIsNamed) {
  const auto dev = bundleChannel("/b", builtBundle("dev"));
  ASSERT_TRUE(dev.channel);
  EXPECT_EQ(dev.channel->name, "dev");
  EXPECT_EQ(dev.channel->toolDirectory, ".vantrel-devtool-dev");
  EXPECT_EQ(bundleChannel("/b", builtBundle("prod")).channel->name, "prod");

  EXPECT_EQ(refusal(bundleChannel("/b", builtBundle("Prod"))), Reason::bundleChannelUnknown);
  EXPECT_EQ(refusal(bundleChannel("/b", builtBundle(nullptr))), Reason::bundleChannelUnknown);
  auto facts = builtBundle("dev");
  facts.executableIsRegularFile = false;
  EXPECT_EQ(refusal(bundleChannel("/b", facts)), Reason::bundleExecutableMissing);
  facts.bundleIsDirectory = false;
  EXPECT_EQ(refusal(bundleChannel("/b", facts)), Reason::bundleMissing);
  EXPECT_EQ(bundleChannel("/b", facts).breach->path, "/b");
}

TEST(BundleChannel, ABundlePathWithNothingThereIsMissing) {
  testing_support::ScratchDirectory scratch;
  EXPECT_EQ(refusal(readBundleChannel(scratch.path() + "/SupportDraft.app")), Reason::bundleMissing);
  EXPECT_EQ(refusal(readBundleChannel(scratch.path())), Reason::bundleExecutableMissing);
}

}  // namespace
