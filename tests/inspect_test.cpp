// "--inspect" seen from outside: the report on standard output, the exit
// status, and that nothing else happens.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <nlohmann/json.hpp>

#include "harness.h"
#include "testing/crafted_binary_plist.h"

namespace {

using namespace harness;
using nlohmann::json;

class Inspect : public ::testing::Test {
 protected:
  RunResult inspect(const fs::path& executable, const RunOptions& options = {}) {
    const Snapshot before = takeSnapshot(temp_.path());
    RunResult result = run(executable, {"--inspect"}, minimalEnvironment(temp_.path() / "home"), options);
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

// When no report can be made, the message on standard error names the
// value that has no JSON form, and the status is 2, as for a date.
TEST_F(Inspect, IdentifierThatIsNotUtf8FailsNamingTheIdentifier) {
  const Bundle bundle = makeBundle(temp_.path());
  using namespace testing_support;
  writeInfoBytes(bundle, binaryPlist({containerObject(0xD, {1, 2, 3, 4}), asciiStringObject("CFBundleDisplayName"),
                                      asciiStringObject("CFBundleIdentifier"), asciiStringObject("Quorvel"),
                                      asciiStringObject("com.\xFF\xFE")}));
  const RunResult result = inspect(bundle.executable);
  EXPECT_EQ(result.exitStatus, 2) << describe(result);
  EXPECT_EQ(result.out, "");
  EXPECT_NE(result.err.find("identifier"), std::string::npos) << result.err;
  EXPECT_EQ(result.err.find("display name"), std::string::npos) << result.err;
}

// A reader that went away must not kill the self-check with SIGPIPE: the
// failed write ends with status 2 and says so on standard error.
TEST_F(Inspect, StandardOutputWithoutReaderEndsWithTwo) {
  const Bundle bundle = makeBundle(temp_.path());
  writeInfo(bundle, standardInfo("dev"));
  RunOptions options;
  options.outputReaderGone = true;
  const RunResult result = inspect(bundle.executable, options);
  EXPECT_EQ(result.exitStatus, 2) << describe(result);
  EXPECT_NE(result.err, "");
}

// An Info.plist that would take the stack or memory of the process to read
// is not read: the report carries no name and no identifier.
TEST_F(Inspect, InfoTooDeepToReadCountsAsMissing) {
  const Bundle bundle = makeBundle(temp_.path());
  writeInfoBytes(bundle, testing_support::infoWithNestedArrays(30'000));
  const json parsed = report(inspect(bundle.executable));
  EXPECT_EQ(parsed.at("name"), "");
  EXPECT_EQ(parsed.at("identifier"), "");
}

// Running out of memory at any point gives either the whole report with its
// status (a script call that failed for want of memory is a failed round
// trip) or status 2 with a message and no report; never a signal, never a
// part of a report. Runs that fail inside the dynamic loader, before the
// program's own code, are passed over.
TEST_F(Inspect, RunningOutOfMemoryEndsWithTwoOrAWholeReport) {
  if (underAddressSanitizer()) GTEST_SKIP() << "AddressSanitizer needs more address space than any limit here";
  const Bundle bundle = makeBundle(temp_.path());
  writeInfo(bundle, standardInfo("dev"));
  bool programRan = false;
  bool reported = false;
  for (rlim_t limit = 2 << 20; limit <= (64 << 20) && !reported; limit += 16 << 10) {
    RunOptions options;
    options.limits[RLIMIT_AS] = limit;
    const RunResult result = run(bundle.executable, {"--inspect"}, minimalEnvironment(temp_.path()), options);
    if (failedInDynamicLoader(result) && (!programRan || result.exitStatus == 127)) continue;
    programRan = true;
    SCOPED_TRACE("address-space limit " + std::to_string(limit));
    reported = result.exitStatus == 0;
    if (result.exitStatus == 0 || result.exitStatus == 1) {
      EXPECT_EQ(report(result).at("identifier"), "com.quorvel.support-draft");
    } else {
      EXPECT_EQ(result.exitStatus, 2) << describe(result);
      EXPECT_EQ(result.out, "");
      EXPECT_NE(result.err, "");
      if (HasFailure()) break;
    }
  }
  EXPECT_TRUE(reported) << "no limit let the self-check finish";
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
