// "--inspect" seen from outside: the report on standard output, the exit
// status, and that nothing else happens.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "harness.h"

namespace {

using namespace harness;
using nlohmann::json;

class Inspect : public ::testing::Test {
 protected:
  RunResult inspect(const fs::path& executable) {
    const Snapshot before = takeSnapshot(temp_.path());
    RunResult result = run(executable, {"--inspect"}, minimalEnvironment(temp_.path() / "home"));
    EXPECT_EQ(formatChanges(compareSnapshots(before, takeSnapshot(temp_.path()))), "");
    return result;
  }

  // The report, parsed, after checking the things every report shares.
  json report(const RunResult& result) {
    EXPECT_TRUE(result.exitStatus) << describe(result);
    EXPECT_EQ(result.err, "");
    EXPECT_FALSE(result.out.empty());
    EXPECT_EQ(result.out.back(), '}') << "nothing may follow the object, not even a line feed";
    const json parsed = json::parse(result.out);
    EXPECT_EQ(parsed.size(), 3u);
    // The exit status always agrees with the report.
    EXPECT_EQ(result.exitStatus == 0, parsed.at("argumentsRoundTrip").get<bool>());
    return parsed;
  }

  TempDir temp_;
};

TEST_F(Inspect, ReportsTheBundleAndAnIntactRoundTrip) {
  const Bundle bundle = makeBundle(temp_.path());
  writeInfo(bundle, standardInfo("prod"));
  const RunResult result = inspect(bundle.executable);
  const json parsed = report(result);
  EXPECT_EQ(parsed, (json{{"name", "Quorvel Support Draft"},
                          {"identifier", "com.quorvel.support-draft"},
                          {"argumentsRoundTrip", true}}));
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_NE(result.out.find("\"Quorvel Support Draft\""), std::string::npos) << "compact, unescaped";
}

TEST_F(Inspect, OutsideAnyBundleBothTextsAreEmpty) {
  const fs::path loose = temp_.path() / "support-draft";
  fs::copy_file(SUPPORT_DRAFT_EXECUTABLE, loose);
  const json parsed = report(inspect(loose));
  EXPECT_EQ(parsed.at("name"), "");
  EXPECT_EQ(parsed.at("identifier"), "");
  EXPECT_EQ(parsed.at("argumentsRoundTrip"), true);
}

TEST_F(Inspect, NonTextDisplayNamesKeepTheirJsonType) {
  const Bundle bundle = makeBundle(temp_.path());
  writeInfo(bundle, {{"CFBundleDisplayName", plistInteger(7)},
                     {"CFBundleIdentifier", plistString("x/y")}});
  json parsed = report(inspect(bundle.executable));
  EXPECT_EQ(parsed.at("name"), 7);
  EXPECT_EQ(parsed.at("identifier"), "x/y");

  writeInfo(bundle, {{"CFBundleDisplayName", plistArray({plistBoolean(true), plistString("n")})}});
  parsed = report(inspect(bundle.executable));
  EXPECT_EQ(parsed.at("name"), json::array({true, "n"}));
  EXPECT_EQ(parsed.at("identifier"), "");
}

TEST_F(Inspect, DateDisplayNameFailsWithoutAReport) {
  const Bundle bundle = makeBundle(temp_.path());
  writeInfo(bundle, {{"CFBundleDisplayName", plistDate(0)}, {"CFBundleIdentifier", plistString("x")}});
  const RunResult result = inspect(bundle.executable);
  EXPECT_EQ(result.exitStatus, 2) << describe(result);
  EXPECT_EQ(result.out, "");
  EXPECT_NE(result.err, "");
  EXPECT_EQ(result.err.find('\n'), result.err.size() - 1) << "one line";
}

TEST_F(Inspect, NeverReadsTheJobCommandLine) {
  // With a well-formed job prepared, "--inspect" still only reports.
  const Bundle bundle = makeBundle(temp_.path());
  writeInfo(bundle, standardInfo("dev"));
  writeResource(bundle, "support-mail.applescript", kSucceedingMailScript);
  makeDirectory(temp_.path() / "home");
  prepareJob(temp_.path() / "home", kDevToolDir, "00000000-0000-0000-0000-000000000000");
  report(inspect(bundle.executable));
}

}  // namespace
