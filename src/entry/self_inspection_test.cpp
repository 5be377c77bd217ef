#include "entry/self_inspection.h"

#include <gtest/gtest.h>

namespace {

TEST(SelfInspectionConstants, AreTheExactBytes) {
  EXPECT_EQ(kEchoScriptSource.size(), 46u);
  EXPECT_EQ(kSampleText.size(), 38u);
  EXPECT_EQ(kEchoHandler, "echovalue");
}

TEST(RoundTrip, HoldsForTheSampleAndItsDecomposedForm) {
  EXPECT_TRUE(roundTripHeld({std::string(kSampleText), std::nullopt}));
  EXPECT_TRUE(roundTripHeld({"A \"quote\" $(command)\nUnicode: Tu\xCC\x88rkc\xCC\xA7" "e", std::nullopt}));
}

TEST(RoundTrip, FailsOnAnyOtherDifference) {
  const std::string sample(kSampleText);
  EXPECT_FALSE(roundTripHeld({"A \"quote\" $(command)\rUnicode: T\xC3\xBCrk\xC3\xA7" "e", std::nullopt}));
  EXPECT_FALSE(roundTripHeld({sample + "\n", std::nullopt}));
  EXPECT_FALSE(roundTripHeld({sample.substr(1), std::nullopt}));
  EXPECT_FALSE(roundTripHeld({"a" + sample.substr(1), std::nullopt}));
  EXPECT_FALSE(roundTripHeld({std::nullopt, std::nullopt}));
  EXPECT_FALSE(roundTripHeld({sample, 0})) << "an error number spoils even an exact echo";
  EXPECT_FALSE(roundTripHeld({sample, -1}));
}

TEST(RoundTrip, TheRealEchoScriptHolds) {
  const ScriptCallResult echo = invoke(kEchoScriptSource, kEchoHandler, {std::string(kSampleText)});
  EXPECT_EQ(echo.resultText, std::string(kSampleText));
  EXPECT_EQ(echo.errorNumber, std::nullopt);
}

TEST(InspectionReport, NameMapsToItsJsonCounterpart) {
  platform::Bundle bundle;
  EXPECT_EQ(inspectionReport(bundle, false), R"({"argumentsRoundTrip":false,"identifier":"","name":""})");
  bundle.info["CFBundleDisplayName"] = platform::PlistValue{std::int64_t{42}};
  bundle.info["CFBundleIdentifier"] = platform::PlistValue{std::string("a/b")};
  EXPECT_EQ(inspectionReport(bundle, true), R"({"argumentsRoundTrip":true,"identifier":"a\/b","name":42})");
  bundle.info["CFBundleIdentifier"] = platform::PlistValue{true};
  EXPECT_EQ(inspectionReport(bundle, true), R"({"argumentsRoundTrip":true,"identifier":"","name":42})")
      << "an identifier that is not text is no identifier";
}

TEST(InspectionReport, DateOrDataNameHasNoReport) {
  platform::Bundle bundle;
  bundle.info["CFBundleDisplayName"] = platform::PlistValue{platform::PlistDate{0}};
  EXPECT_EQ(inspectionReport(bundle, true), std::nullopt);
  EXPECT_EQ(missingReportReason(bundle), "the display name has no JSON form");
  bundle.info["CFBundleDisplayName"] = platform::PlistValue{platform::PlistData{"x"}};
  EXPECT_EQ(inspectionReport(bundle, true), std::nullopt);
}

// Both texts of the report must be UTF-8; the reason names the one that is not.
TEST(InspectionReport, TextsThatAreNotUtf8HaveNoReport) {
  platform::Bundle bundle;
  bundle.info["CFBundleDisplayName"] = platform::PlistValue{std::string("Quorvel")};
  bundle.info["CFBundleIdentifier"] = platform::PlistValue{std::string("com.\xFF")};
  EXPECT_EQ(inspectionReport(bundle, true), std::nullopt);
  EXPECT_EQ(missingReportReason(bundle), "the bundle identifier is not valid UTF-8");
  bundle.info["CFBundleDisplayName"] = platform::PlistValue{platform::PlistArray{{std::string("\xC3")}}};
  EXPECT_EQ(missingReportReason(bundle), "the display name has no JSON form");
}

}  // namespace
