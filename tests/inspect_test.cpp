// "--inspect" seen from outside: the report on standard output, the exit
// status, and that nothing else happens.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "harness.h"
#include "oom/failing_allocation.h"
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

// Memory that runs out at any allocation from main on, and stays out, ends
// the self-check with the whole report and its status (a script call that
// failed for want of memory is a failed round trip) or with status 2, one
// line on standard error and nothing on standard output; never with a
// signal, never with part of a report. The test build fails the N-th
// allocation and every later one; N grows until the self-check meets no
// failure and reports.
TEST_F(Inspect, RunningOutOfMemoryEndsWithTwoOrAWholeReport) {
  if (!failing_allocation::available()) GTEST_SKIP() << "no failing-allocation build under the sanitizers";
  const Bundle bundle = makeBundle(temp_.path());
  writeInfo(bundle, standardInfo("dev"));
  failing_allocation::install(bundle.executable);
  int withoutReport = 0;
  bool reported = false;
  unsigned long n = 1;
  for (; !reported && n < failing_allocation::kMostAllocations; n = failing_allocation::nextAfter(n)) {
    SCOPED_TRACE("allocations fail from number " + std::to_string(n) + " on");
    Environment env = minimalEnvironment(temp_.path() / "home");
    env[failing_allocation::kVariable] = std::to_string(n);
    const RunResult result = run(bundle.executable, {"--inspect"}, env);
    if (result.exitStatus == 2) {
      EXPECT_EQ(result.out, "");
      EXPECT_TRUE(result.err.find('\n') + 1 == result.err.size()) << "not one line: " << describe(result);
      ++withoutReport;
    } else {
      ASSERT_TRUE(result.exitStatus == 0 || result.exitStatus == 1) << describe(result);
      EXPECT_EQ(report(result).at("identifier"), "com.quorvel.support-draft");
      reported = result.exitStatus == 0;
    }
    if (HasFailure()) break;
  }
  EXPECT_TRUE(reported) << "the self-check did not finish even with " << n << " allocations";
  EXPECT_GT(withoutReport, 0) << "no failed allocation reached the self-check";
}

}  // namespace
