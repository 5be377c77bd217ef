#include "job/bundle_identity.h"

#include <gtest/gtest.h>

#include "job/job_contract.h"
#include "testing/scratch_directory.h"

namespace {

using platform::PlistDict;
using platform::PlistValue;

PlistValue text(std::string_view value) { return PlistValue{std::string(value)}; }

std::optional<Reason> refusal(const BundleIdentityReading& reading) {
  return reading.breach ? std::optional(reading.breach->reason) : std::nullopt;
}

// Values of another property-list type than text, for every key.
std::vector<PlistValue> nonTexts(std::string_view alike) {
  return {PlistValue{std::int64_t{1}}, PlistValue{true}, PlistValue{platform::PlistDate{}},
          PlistValue{platform::PlistData{std::string(alike)}}, PlistValue{platform::PlistArray{text(alike)}},
          PlistValue{PlistDict{{"a", text(alike)}}}};
}

TEST(BundleIdentity, WithoutItsOwnKeysABundleKeepsTheDefaults) {
  const auto dev = identityFromInfo({{"QuorvelChannel", text("dev")}});
  ASSERT_TRUE(dev.identity);
  EXPECT_EQ(dev.identity->channel, "dev");
  EXPECT_EQ(dev.identity->toolDirectory, ".vantrel-devtool-dev");
  EXPECT_EQ(dev.identity->subjectPrefix, "Support Request - Quorvel ");
  EXPECT_EQ(dev.identity->recipient, std::nullopt);
  const auto prod = identityFromInfo({{"QuorvelChannel", text("prod")}});
  ASSERT_TRUE(prod.identity);
  EXPECT_EQ(prod.identity->toolDirectory, ".vantrel-devtool");
}

TEST(BundleIdentity, OwnKeysReplaceTheDefaults) {
  const auto acme = identityFromInfo({{"QuorvelChannel", text("prod")},
                                      {"SupportDraftSubjectPrefix", text("[Acme Notes] Hilfe f\xC3\xBCr ")},
                                      {"SupportDraftToolDirectory", text(".acme-notes_2.x")},
                                      {"SupportDraftRecipient", text("help+notes@acme.example")}});
  ASSERT_TRUE(acme.identity) << reasonCode(*refusal(acme));
  EXPECT_EQ(acme.identity->subjectPrefix, "[Acme Notes] Hilfe f\xC3\xBCr ");
  EXPECT_EQ(acme.identity->toolDirectory, ".acme-notes_2.x") << "the same for either channel";
  EXPECT_EQ(acme.identity->recipient, "help+notes@acme.example");
}

TEST(BundleIdentity, OnlyTheTwoExactChannelTexts) {
  EXPECT_EQ(refusal(identityFromInfo({})), Reason::bundleChannelUnknown);
  for (const char* bad : {"", "Dev", "PROD", " dev", "production", "dev\n"}) {
    EXPECT_EQ(refusal(identityFromInfo({{"QuorvelChannel", text(bad)}})), Reason::bundleChannelUnknown) << bad;
  }
  for (const PlistValue& bad : nonTexts("dev")) {
    EXPECT_EQ(refusal(identityFromInfo({{"QuorvelChannel", bad}})), Reason::bundleChannelUnknown);
  }
  // The channel is judged first: a bundle with no channel is refused for
  // that, whatever else is wrong.
  EXPECT_EQ(refusal(identityFromInfo({{"SupportDraftToolDirectory", text("..")}})), Reason::bundleChannelUnknown);
}

struct HostileValue {
  std::string_view key;
  std::string value;
  std::string_view why;
};

std::vector<HostileValue> hostileValues() {
  const std::string_view prefix = "SupportDraftSubjectPrefix";
  const std::string_view tool = "SupportDraftToolDirectory";
  const std::string_view to = "SupportDraftRecipient";
  return {
      {prefix, "", "empty: every subject would pass"},
      {prefix, " Acme ", "a leading blank"},
      {prefix, "\xC2\xA0" "Acme ", "a leading no-break space"},
      {prefix, "Acme\r\nBcc: all@example.org\r\n", "a header after a line break"},
      {prefix, "Acme\n", "a line feed"},
      {prefix, "Acme\tNotes ", "a tab"},
      {prefix, std::string("Acme\0 ", 6), "U+0000"},
      {prefix, "Acme\x7f ", "DEL"},
      {prefix, "Acme\xC2\x85 ", "NEL, a C1 control"},
      {prefix, "Acme\xE2\x80\xA8 ", "U+2028 line separator"},
      {prefix, "Acme\xE2\x80\xA9 ", "U+2029 paragraph separator"},
      {prefix, "Acme \xE2\x80\xAE" "seton ", "U+202E right-to-left override"},
      {prefix, "Acme\xE2\x80\x8B ", "U+200B zero width space"},
      {prefix, "Acme\xEE\x80\x80 ", "a private-use character"},
      {prefix, "Acme\xCD\xB8 ", "an unassigned code point (U+0378)"},
      {prefix, "Acme \xFF", "not UTF-8"},
      {prefix, "Acme \xED\xA0\x80", "an encoded surrogate"},
      {prefix, std::string(101, 'a'), "over 100 bytes"},
      {tool, "", "empty"},
      {tool, ".", "the directory itself"},
      {tool, "..", "the parent"},
      {tool, "...", "dots alone"},
      {tool, "acme", "not hidden"},
      {tool, "-acme", "a leading '-'"},
      {tool, ".-acme", "an option after the dot"},
      {tool, "./acme", "a '/' after the dot"},
      {tool, ".acme/jobs", "two components"},
      {tool, "/.acme", "absolute"},
      {tool, ".acme/../..", "climbing out"},
      {tool, std::string(".acme\0x", 7), "NUL"},
      {tool, ".acme notes", "a blank"},
      {tool, ".acme\n", "a line feed"},
      {tool, ".\xC3\xA4kme", "not ASCII"},
      {tool, ".acme\\x", "a backslash"},
      {tool, "." + std::string(64, 'a'), "over 64 bytes"},
      {to, "", "empty"},
      {to, "help@acme.example, all@example.org", "two addresses"},
      {to, "Acme Help <help@acme.example>", "a display name"},
      {to, "help@acme.example\r\nBcc: all@example.org", "a header after a line break"},
      {to, "\"help\"@acme.example", "a quoted local part"},
      {to, "help%all@acme.example", "a percent sign"},
      {to, "help@localhost", "a domain of one label"},
      {to, "help@acme.123", "an all-digit last label"},
      {to, std::string("help@acme.example\0x", 19), "NUL"},
      {to, "h\xC3\xA9lp@acme.example", "not ASCII"},
  };
}

// Each hostile value refuses the whole bundle under its key's own reason,
// even when every other key is good: the program stops silently rather
// than fall back to a default.
TEST(BundleIdentity, HostileValuesRefuseTheBundle) {
  const PlistDict good = {{"QuorvelChannel", text("dev")},
                          {"SupportDraftSubjectPrefix", text("Acme: ")},
                          {"SupportDraftToolDirectory", text(".acme")},
                          {"SupportDraftRecipient", text("help@acme.example")}};
  ASSERT_TRUE(identityFromInfo(good).identity);
  const std::map<std::string_view, Reason> reasons = {
      {"SupportDraftSubjectPrefix", Reason::bundleSubjectPrefixInvalid},
      {"SupportDraftToolDirectory", Reason::bundleToolDirectoryInvalid},
      {"SupportDraftRecipient", Reason::bundleRecipientInvalid}};
  for (const HostileValue& hostile : hostileValues()) {
    PlistDict info = good;
    info[std::string(hostile.key)] = text(hostile.value);
    EXPECT_EQ(refusal(identityFromInfo(info)), reasons.at(hostile.key)) << hostile.key << ": " << hostile.why;
  }
  for (const auto& [key, reason] : reasons) {
    for (const PlistValue& bad : nonTexts("x")) {
      PlistDict info = good;
      info[std::string(key)] = bad;
      EXPECT_EQ(refusal(identityFromInfo(info)), reason) << key << " of another type";
    }
  }
}

TEST(BundleIdentity, ValuesAtTheirLimitsPass) {
  EXPECT_TRUE(isValidSubjectPrefix(std::string(100, 'a')));
  EXPECT_TRUE(isValidSubjectPrefix("a"));
  EXPECT_TRUE(isValidSubjectPrefix("Support Request - Quorvel "));
  EXPECT_TRUE(isValidSubjectPrefix("\xE3\x82\xB5\xE3\x83\x9D\xE3\x83\xBC\xE3\x83\x88: ")) << "non-ASCII letters";
  EXPECT_TRUE(isValidToolDirectory("." + std::string(63, 'a')));
  EXPECT_TRUE(isValidToolDirectory(".vantrel-devtool-dev"));
  EXPECT_TRUE(isValidToolDirectory(".0"));
}

// A prefix of the bundle's own is the one a subject must carry; the
// sentence names it.
TEST(BundleIdentity, TheBundlesPrefixIsTheSubjectsRule) {
  EXPECT_EQ(jobTextBreach("Acme: x", "", "Acme: "), std::nullopt);
  const auto breach = jobTextBreach("Support Request - Quorvel x", "", "Acme: ");
  ASSERT_TRUE(breach);
  EXPECT_EQ(breach->reason, Reason::subjectPrefix);
  EXPECT_NE(reasonSentence(*breach).find("\"Acme: \""), std::string::npos) << reasonSentence(*breach);
}

BundleFacts builtBundle(const char* channel) {
  BundleFacts facts;
  facts.bundleIsDirectory = true;
  facts.executableIsRegularFile = true;
  if (channel != nullptr) facts.info["QuorvelChannel"] = text(channel);
  return facts;
}

TEST(BundleIdentity, EachMissingPieceIsNamedWithTheBundlesPath) {
  EXPECT_EQ(bundleIdentity("/b", builtBundle("prod")).identity->channel, "prod");
  EXPECT_EQ(refusal(bundleIdentity("/b", builtBundle(nullptr))), Reason::bundleChannelUnknown);
  EXPECT_EQ(bundleIdentity("/b", builtBundle(nullptr)).breach->path, "/b");
  auto facts = builtBundle("dev");
  facts.info["SupportDraftRecipient"] = text("nobody");
  EXPECT_EQ(refusal(bundleIdentity("/b", facts)), Reason::bundleRecipientInvalid);
  facts.executableIsRegularFile = false;
  EXPECT_EQ(refusal(bundleIdentity("/b", facts)), Reason::bundleExecutableMissing);
  facts.bundleIsDirectory = false;
  EXPECT_EQ(refusal(bundleIdentity("/b", facts)), Reason::bundleMissing);
  EXPECT_EQ(bundleIdentity("/b", facts).breach->path, "/b");
}

TEST(BundleIdentity, ABundlePathWithNothingThereIsMissing) {
  testing_support::ScratchDirectory scratch;
  EXPECT_EQ(refusal(readBundleIdentity(scratch.path() + "/SupportDraft.app")), Reason::bundleMissing);
  EXPECT_EQ(refusal(readBundleIdentity(scratch.path())), Reason::bundleExecutableMissing);
}

}  // namespace
