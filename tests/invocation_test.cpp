// The job command line, the channel and the job directory, seen from outside:
// the real executable runs in a throwaway bundle with HOME in a temporary
// directory.
//
// Every rejection must be a silent stop: status 0, no output at all and not
// one byte changed under the temporary root (home and bundle). To make a
// wrongly accepted job visible, each rejection test also lays out the
// well-formed job that a too lenient check would find; processing it would
// leave a result.json behind. The well-formed runs at the end show that such
// a job really is processed.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <nlohmann/json.hpp>

#include "job_fixture.h"
#include "oom/failing_allocation.h"
#include "testing/crafted_binary_plist.h"

namespace {

using namespace jobfixture;

constexpr std::string_view kJobId = "3f2a9c1e-5b7d-4e8f-9a0b-1c2d3e4f5a6b";
constexpr std::string_view kOtherJobId = "00c0ffee-0000-4000-8000-000000000001";
constexpr std::string_view kZeroJobId = "00000000-0000-0000-0000-000000000000";
constexpr std::string_view kSuccess = R"({"ok":true})";

// The job fixture (a dev-channel bundle) with home/ made.
class JobWorld : public JobFixture {
 protected:
  void SetUp() override {
    JobFixture::SetUp();
    makeDirectory(home(), 0700);
  }
};

std::vector<std::string> jobArgs(std::string_view id = kJobId) { return {"--job", std::string(id)}; }

// ---------------------------------------------------------------------------
// Command lines other than exactly `--job <canonical id>`

// Spellings of kJobId that are not its canonical form: capitals, mixed
// case, braces, no hyphens, blanks, a URN.
std::vector<std::string> nonCanonicalIds() {
  const std::string id(kJobId);
  return {"3F2A9C1E-5B7D-4E8F-9A0B-1C2D3E4F5A6B", "Ff2a9c1e-5b7d-4e8f-9a0b-1c2d3e4f5a6B", "{" + id + "}",
          "3f2a9c1e5b7d4e8f9a0b1c2d3e4f5a6b", " " + id, id + " ", "urn:uuid:" + id};
}

struct CommandLineCase {
  std::string name;
  std::vector<std::string> args;
};

void PrintTo(const CommandLineCase& c, std::ostream* os) { *os << c.name; }

std::vector<CommandLineCase> commandLineCases() {
  const std::string id(kJobId);
  const auto ids = nonCanonicalIds();
  return {
      {"NoArguments", {}},
      {"JobAlone", {"--job"}},
      {"ThirdArgument", {"--job", id, "extra"}},
      {"EmptyThirdArgument", {"--job", id, ""}},
      {"IdBeforeOption", {id, "--job"}},
      {"OptionInCapitals", {"--JOB", id}},
      {"SingleHyphenOption", {"-job", id}},
      {"OptionWithEqualsSign", {"--job=" + id}},
      {"IdUpperCase", {"--job", ids[0]}},
      {"IdMixedCase", {"--job", ids[1]}},
      {"IdInBraces", {"--job", ids[2]}},
      {"IdWithoutHyphens", {"--job", ids[3]}},
      {"IdWithLeadingBlank", {"--job", ids[4]}},
      {"IdWithTrailingBlank", {"--job", ids[5]}},
      {"IdAsUrn", {"--job", ids[6]}},
      {"IdTruncated", {"--job", id.substr(0, 35)}},
      {"IdEmpty", {"--job", ""}},
      {"InspectWithArgument", {"--inspect", "extra"}},
      {"InspectTwice", {"--inspect", "--inspect"}},
      {"InspectBeforeJob", {"--inspect", "--job", id}},
      {"JobThenInspect", {"--job", id, "--inspect"}},
      {"InspectInCapitals", {"--INSPECT"}},
      {"InspectWithTrailingBlank", {"--inspect "}},
      {"InspectWithValue", {"--inspect=1"}},
      {"InspectSingleHyphen", {"-inspect"}},
  };
}

class CommandLineTest : public JobWorld, public ::testing::WithParamInterface<CommandLineCase> {
 protected:
  void SetUp() override {
    JobWorld::SetUp();
    // The canonical job, and one under every other spelling of its id, so
    // that a command line taken for a job would leave a result behind.
    prepareJob(home(), kDevToolDir, kJobId);
    for (const auto& id : nonCanonicalIds()) prepareJob(home(), kDevToolDir, id);
  }
};

TEST_P(CommandLineTest, StopsSilently) { expectSilentStop(GetParam().args); }

INSTANTIATE_TEST_SUITE_P(Rejected, CommandLineTest, ::testing::ValuesIn(commandLineCases()),
                         [](const auto& info) { return info.param.name; });

// Sorting a long run of combining marks into canonical order takes time
// quadratic in its length, so a word of 128 KiB (the most one argument may
// hold) once took seconds to tell from "--inspect" or "--job". The CPU-time
// limit ends such a run with SIGXCPU; the decision must take no longer than
// for any short word.
TEST_F(JobWorld, LongestWordIsRejectedWithoutNormalisingIt) {
  prepareJob(home(), kDevToolDir, kJobId);
  std::string marks;  // U+0301 before U+0323: every pair is out of canonical order
  while (marks.size() + 4 < 128 * 1024) marks += "\xCC\x81\xCC\xA3";
  RunOptions options;
  options.limits[RLIMIT_CPU] = 2;
  expectSilentStop({marks}, home(), options);
  expectSilentStop({marks, std::string(kJobId)}, home(), options);
  expectSilentStop({"--job", marks}, home(), options);
}

// Under a small address-space limit the program once aborted with the C++
// runtime's "terminate called ..." on standard error: the first allocation
// failed, and so did making the exception that reports it. Whatever runs
// out, and wherever, app mode ends with 0 and says nothing, and the result
// document is whole or absent. The test build fails the N-th allocation from
// main on and every later one; N grows until the job writes its result.
TEST_F(JobWorld, RunningOutOfMemoryEndsQuietlyWithZero) {
  if (!failing_allocation::available()) GTEST_SKIP() << "no failing-allocation build under the sanitizers";
  const fs::path jobDirectory = prepareJob(home(), kDevToolDir, kJobId);
  const fs::path result = jobDirectory / "result.json";
  failing_allocation::install(bundle().executable);
  int unfinished = 0;
  bool completed = false;
  unsigned long n = 1;
  for (; !completed && n < failing_allocation::kMostAllocations; n = failing_allocation::nextAfter(n)) {
    SCOPED_TRACE("allocations fail from number " + std::to_string(n) + " on");
    fs::remove(result);
    Environment env = minimalEnvironment(home());
    env[failing_allocation::kVariable] = std::to_string(n);
    expectQuietExit(run(bundle().executable, jobArgs(), env));
    if (const auto text = readFileIfPresent(result)) {
      const nlohmann::json document = nlohmann::json::parse(*text, nullptr, false);
      EXPECT_TRUE(document == opened() || document == failed()) << *text;
      completed = document == opened();
    }
    unfinished += completed ? 0 : 1;
    for (const auto& entry : fs::directory_iterator(jobDirectory)) {
      const std::string name = entry.path().filename().string();
      EXPECT_TRUE(name == "job.json" || name == "result.json") << "left in the job directory: " << name;
    }
    if (HasFailure()) break;
  }
  EXPECT_TRUE(completed) << "the job did not finish even with " << n << " allocations";
  EXPECT_GT(unfinished, 0) << "no failed allocation reached the job";
}

TEST_F(JobWorld, EmptyArgumentVectorStopsSilently) {
  prepareJob(home(), kDevToolDir, kJobId);
  const Snapshot before = takeSnapshot(root());
  expectQuietExit(runWithEmptyArgv(bundle().executable, minimalEnvironment(home())));
  EXPECT_EQ(formatChanges(compareSnapshots(before, takeSnapshot(root()))), "");
}

// The self-inspection reads the bundle only; a HOME full of jobs, writable
// by the user, stays exactly as it was.
TEST_F(JobWorld, InspectLeavesHomeUntouched) {
  prepareJob(home(), kDevToolDir, kJobId);
  prepareJob(home(), kProdToolDir, kJobId);
  const Snapshot before = takeSnapshot(root());
  const RunResult result = runProgram({"--inspect"}, home());
  ASSERT_TRUE(result.started);
  EXPECT_FALSE(result.timedOut) << describe(result);
  EXPECT_FALSE(result.signal.has_value()) << describe(result);
  EXPECT_EQ(formatChanges(compareSnapshots(before, takeSnapshot(root()))), "");
}

// ---------------------------------------------------------------------------
// The channel in Info.plist

struct ChannelCase {
  std::string name;
  std::optional<PlistValue> value;     // nullopt: key absent
  std::optional<std::string> rawInfo;  // replaces Info.plist altogether
};

void PrintTo(const ChannelCase& c, std::ostream* os) { *os << c.name; }

std::vector<ChannelCase> channelCases() {
  return {
      {"Absent", std::nullopt, std::nullopt},
      {"Integer", plistInteger(1), std::nullopt},
      {"Real", plistReal(0.0), std::nullopt},
      {"Boolean", plistBoolean(true), std::nullopt},
      {"Date", plistDate(700'000'000), std::nullopt},
      {"Data", plistData("dev"), std::nullopt},
      {"Array", plistArray({plistString("dev")}), std::nullopt},
      {"Dictionary", plistDict({{"QuorvelChannel", plistString("prod")}}), std::nullopt},
      {"Empty", plistString(""), std::nullopt},
      {"Capitalised", plistString("Dev"), std::nullopt},
      {"Capitals", plistString("PROD"), std::nullopt},
      {"LeadingBlank", plistString(" dev"), std::nullopt},
      {"TrailingLineFeed", plistString("prod\n"), std::nullopt},
      {"LongerThanProd", plistString("production"), std::nullopt},
      {"LongerThanDev", plistString("development"), std::nullopt},
      {"NoInfoPlist", std::nullopt, std::string()},
      {"InfoPlistGarbage", std::nullopt, std::string("QuorvelChannel=dev\n")},
      // Channel "dev" inside a tree too deep or too large to read at all.
      {"InfoPlistTooDeep", std::nullopt, testing_support::infoWithNestedArrays(30'000)},
      {"InfoPlistExpandingTooFar", std::nullopt, testing_support::infoWithNestedArrays(20, 2)},
  };
}

class ChannelTest : public JobWorld, public ::testing::WithParamInterface<ChannelCase> {
 protected:
  void SetUp() override {
    JobWorld::SetUp();
    fs::remove(bundle().infoPlist);
    const ChannelCase& c = GetParam();
    if (c.rawInfo) {
      if (!c.rawInfo->empty()) writeInfoBytes(bundle(), *c.rawInfo);
    } else {
      PlistDict keys = standardInfoWithoutChannel();
      if (c.value) keys.emplace_back("QuorvelChannel", *c.value);
      writeInfo(bundle(), keys);
    }
    prepareJob(home(), kDevToolDir, kJobId);
    prepareJob(home(), kProdToolDir, kJobId);
  }
};

TEST_P(ChannelTest, StopsSilently) { expectSilentStop(jobArgs()); }

INSTANTIATE_TEST_SUITE_P(Rejected, ChannelTest, ::testing::ValuesIn(channelCases()),
                         [](const auto& info) { return info.param.name; });

// Each channel looks only in its own tool directory.
class OtherChannelTest : public JobWorld, public ::testing::WithParamInterface<std::string> {};

TEST_P(OtherChannelTest, JobUnderOtherToolDirectoryIsNotFound) {
  const std::string channel = GetParam();
  writeInfo(bundle(), standardInfo(channel));
  prepareJob(home(), toolDirFor(channel == "dev" ? "prod" : "dev"), kJobId);
  expectSilentStop(jobArgs());
}

INSTANTIATE_TEST_SUITE_P(Channels, OtherChannelTest, ::testing::Values("dev", "prod"),
                         [](const auto& info) { return info.param; });

// ---------------------------------------------------------------------------
// A bundle with an identity of its own: its tool directory, its subject
// prefix and its support address in Info.plist

constexpr std::string_view kAcmeToolDir = ".acme-notes";
constexpr std::string_view kAcmePrefix = "Acme Notes \xE2\x80\x94 ";

PlistDict acmeInfo(std::string_view channel) {
  PlistDict keys = standardInfo(channel);
  keys.emplace_back("SupportDraftSubjectPrefix", plistString(kAcmePrefix));
  keys.emplace_back("SupportDraftToolDirectory", plistString(kAcmeToolDir));
  keys.emplace_back("SupportDraftRecipient", plistString("help@acme.example"));
  return keys;
}

std::string acmeJob() { return jobJson(std::string(kAcmePrefix) + "crash", "b", false); }

// Either channel's jobs live in the bundle's own tool directory, and their
// subjects carry the bundle's own prefix.
TEST_F(JobWorld, OwnIdentityTakesJobsFromItsOwnToolDirectory) {
  for (const std::string channel : {"dev", "prod"}) {
    writeInfo(bundle(), acmeInfo(channel));
    const fs::path jobDir = prepareJob(home(), kAcmeToolDir, channel == "dev" ? kJobId : kOtherJobId, acmeJob());
    const std::string& id = channel == "dev" ? std::string(kJobId) : std::string(kOtherJobId);
    expectQuietExit(runProgram(jobArgs(id), home()));
    EXPECT_EQ(readFileIfPresent(jobDir / "result.json"), std::optional<std::string>(kSuccess)) << channel;
  }
}

// The defaults no longer apply: a job in the channel's default tool
// directory is not found, and one with the default prefix is refused.
TEST_F(JobWorld, OwnIdentityIgnoresTheDefaults) {
  writeInfo(bundle(), acmeInfo("dev"));
  prepareJob(home(), kDevToolDir, kJobId, acmeJob());
  prepareJob(home(), kProdToolDir, kJobId, acmeJob());
  prepareJob(home(), kAcmeToolDir, kJobId, kWellFormedJob);
  expectSilentStop(jobArgs());
}

// A bundle whose own key is hostile runs no job at all, not even one laid
// out for the defaults it would otherwise have.
struct IdentityCase {
  std::string name;
  std::string key;
  PlistValue value;
};

void PrintTo(const IdentityCase& c, std::ostream* os) { *os << c.name; }

class HostileIdentityTest : public JobWorld, public ::testing::WithParamInterface<IdentityCase> {};

TEST_P(HostileIdentityTest, StopsSilently) {
  PlistDict keys = standardInfo("dev");
  keys.emplace_back(GetParam().key, GetParam().value);
  writeInfo(bundle(), keys);
  prepareJob(home(), kDevToolDir, kJobId);
  prepareJob(home(), kAcmeToolDir, kJobId);
  expectSilentStop(jobArgs());
}

INSTANTIATE_TEST_SUITE_P(
    Rejected, HostileIdentityTest,
    ::testing::Values(
        IdentityCase{"PrefixWithHeader", "SupportDraftSubjectPrefix",
                     plistString("Support Request - Quorvel \r\nBcc: x@example.org\r\n")},
        IdentityCase{"PrefixEmpty", "SupportDraftSubjectPrefix", plistString("")},
        IdentityCase{"PrefixNotText", "SupportDraftSubjectPrefix", plistBoolean(true)},
        IdentityCase{"ToolDirectoryParent", "SupportDraftToolDirectory", plistString("..")},
        IdentityCase{"ToolDirectoryNested", "SupportDraftToolDirectory", plistString(".vantrel-devtool-dev/x")},
        IdentityCase{"ToolDirectoryOption", "SupportDraftToolDirectory", plistString("-acme")},
        IdentityCase{"ToolDirectoryNotText", "SupportDraftToolDirectory", plistArray({plistString(".acme")})},
        IdentityCase{"RecipientTwoAddresses", "SupportDraftRecipient", plistString("a@acme.example,b@acme.example")},
        IdentityCase{"RecipientEmpty", "SupportDraftRecipient", plistString("")},
        IdentityCase{"RecipientNotText", "SupportDraftRecipient", plistData("help@acme.example")}),
    [](const auto& info) { return info.param.name; });

// ---------------------------------------------------------------------------
// Symbolic links on the job directory's path, and missing pieces of it
// (nothing is created to fill the gap)

struct JobPathCase {
  std::string name;
  // Lays out home, links and well-formed jobs under root where a too lenient
  // walk would find one; returns the HOME to run with.
  std::function<fs::path(const fs::path& root)> layOut;
};

void PrintTo(const JobPathCase& c, std::ostream* os) { *os << c.name; }

std::vector<JobPathCase> jobPathCases() {
  const std::string tool(kDevToolDir);
  const std::string id(kJobId);
  return {
      {"JobDirectoryToDirectoryElsewhere",
       [=](const fs::path& root) {
         const fs::path home = root / "home";
         const fs::path elsewhere = prepareJob(root / "elsewhere", tool, id);
         prepareJob(home, tool, kOtherJobId);
         makeSymlink(elsewhere, home / tool / "support-drafts" / id);
         return home;
       }},
      {"JobDirectoryToSiblingJob",
       [=](const fs::path& root) {
         const fs::path home = root / "home";
         prepareJob(home, tool, kOtherJobId);
         makeSymlink(std::string(kOtherJobId), home / tool / "support-drafts" / id);
         return home;
       }},
      {"JobDirectoryToSiblingJobByAbsolutePath",
       [=](const fs::path& root) {
         const fs::path home = root / "home";
         const fs::path sibling = prepareJob(home, tool, kOtherJobId);
         makeSymlink(sibling, home / tool / "support-drafts" / id);
         return home;
       }},
      {"SupportDrafts",
       [=](const fs::path& root) {
         const fs::path home = root / "home";
         prepareJob(root / "elsewhere", tool, id);
         makeDirectory(home / tool, 0700);
         makeSymlink(root / "elsewhere" / tool / "support-drafts", home / tool / "support-drafts");
         return home;
       }},
      {"ToolDirectory",
       [=](const fs::path& root) {
         const fs::path home = root / "home";
         prepareJob(root / "elsewhere", tool, id);
         makeSymlink(root / "elsewhere" / tool, home / tool);
         return home;
       }},
      {"HomeItself",
       [=](const fs::path& root) {
         prepareJob(root / "real-home", tool, id);
         makeSymlink("real-home", root / "home-link");
         return root / "home-link";
       }},
      {"AboveHome",
       [=](const fs::path& root) {
         makeDirectory(root / "real", 0700);
         prepareJob(root / "real" / "home", tool, id);
         makeSymlink(root / "real", root / "up");
         return root / "up" / "home";
       }},
      {"JobDirectoryMissing",
       [=](const fs::path& root) {
         prepareJob(root / "home", tool, kOtherJobId);
         return root / "home";
       }},
      {"EmptyHome", [](const fs::path& root) { return root / "home"; }},
  };
}

class JobPathTest : public JobWorld, public ::testing::WithParamInterface<JobPathCase> {};

TEST_P(JobPathTest, StopsSilently) {
  const fs::path homeForRun = GetParam().layOut(root());
  expectSilentStop(jobArgs(), homeForRun);
}

INSTANTIATE_TEST_SUITE_P(Rejected, JobPathTest, ::testing::ValuesIn(jobPathCases()),
                         [](const auto& info) { return info.param.name; });

// ---------------------------------------------------------------------------
// Directories someone else can write to: from the home directory down to the
// job directory each level must be the user's (or the superuser's) and
// closed to writing by group and others, or another user could swap log.txt
// for a link after the check.

struct LooseLevelCase {
  std::string name;
  std::string level;  // relative to home; "" for home itself
  mode_t mode;
  bool otherOwner;    // given to another user (needs root)
};

void PrintTo(const LooseLevelCase& c, std::ostream* os) { *os << c.name; }

std::vector<LooseLevelCase> looseLevelCases() {
  const std::string tool(kDevToolDir);
  const std::string drafts = tool + "/support-drafts";
  const std::string job = drafts + "/" + std::string(kJobId);
  return {
      {"HomeGroupWritable", "", 0770, false},
      {"ToolDirectoryWritableByOthers", tool, 0703, false},
      {"SupportDraftsGroupWritable", drafts, 0720, false},
      {"JobDirectoryWritableByOthers", job, 0702, false},
      {"JobDirectoryStickyAndWorldWritable", job, 01777, false},
      {"HomeOfAnotherUser", "", 0700, true},
      {"JobDirectoryOfAnotherUser", job, 0700, true},
  };
}

class LooseLevelTest : public JobWorld, public ::testing::WithParamInterface<LooseLevelCase> {};

TEST_P(LooseLevelTest, StopsSilently) {
  const LooseLevelCase& c = GetParam();
  if (c.otherOwner && ::geteuid() != 0) GTEST_SKIP() << "giving a directory to another user needs root";
  prepareJob(home(), kDevToolDir, kJobId);
  const fs::path level = c.level.empty() ? home() : home() / c.level;
  ASSERT_EQ(::chmod(level.c_str(), c.mode), 0);
  if (c.otherOwner) {
    ASSERT_EQ(::lchown(level.c_str(), kUnprivilegedUid, kUnprivilegedGid), 0);
  }
  expectSilentStop(jobArgs());
}

INSTANTIATE_TEST_SUITE_P(Rejected, LooseLevelTest, ::testing::ValuesIn(looseLevelCases()),
                         [](const auto& info) { return info.param.name; });

// The levels above the home directory are the administrator's and are not
// judged: a world-writable directory above home does not stop the job.
TEST_F(JobWorld, WritableDirectoryAboveHomeIsNotJudged) {
  const fs::path jobDir = prepareJob(home(), kDevToolDir, kJobId);
  ASSERT_EQ(::chmod(root().c_str(), 01777), 0);
  expectQuietExit(runProgram(jobArgs(), home()));
  EXPECT_EQ(readFile(jobDir / "result.json"), kSuccess);
}

// ---------------------------------------------------------------------------
// Well-formed jobs: these need the whole pipeline (job document, script
// bridge, result document) and pass only once it exists.

struct WellFormedCase {
  std::string name;
  std::string channel;
  std::string id;
  bool binaryInfo;  // Info.plist in the binary format rather than XML
};

void PrintTo(const WellFormedCase& c, std::ostream* os) { *os << c.name; }

class WellFormedJobTest : public JobWorld, public ::testing::WithParamInterface<WellFormedCase> {};

// Runs one accepted job and checks that the only trace it leaves is
// result.json (0600, owned by the user) in the job directory.
TEST_P(WellFormedJobTest, WritesResultAndNothingElse) {
  const WellFormedCase& c = GetParam();
  if (c.binaryInfo) {
    writeInfoBytes(bundle(), testing_support::binaryStandardInfo(c.channel));
  } else {
    writeInfo(bundle(), standardInfo(c.channel));
  }
  const fs::path jobDir = prepareJob(home(), toolDirFor(c.channel), c.id);
  const std::string jobRelative = fs::relative(jobDir, root()).string();

  const Snapshot before = takeSnapshot(root());
  expectQuietExit(runProgram(jobArgs(c.id), home()));
  const Snapshot after = takeSnapshot(root());

  const auto result = after.find(jobRelative + "/result.json");
  ASSERT_NE(result, after.end()) << "no result.json in " << jobDir;
  EXPECT_EQ(result->second.type, 'f');
  EXPECT_EQ(result->second.mode, 0600u);
  EXPECT_EQ(result->second.uid, ::geteuid());
  EXPECT_EQ(result->second.contents, std::optional<std::string>(kSuccess));

  for (const auto& change : compareSnapshots(before, after)) {
    const bool expected = (change.kind == SnapshotChange::added && change.path == result->first) ||
                          (change.kind == SnapshotChange::changed && change.path == jobRelative);
    EXPECT_TRUE(expected) << "unexpected change: " << formatChanges({change});
  }
}

INSTANTIATE_TEST_SUITE_P(
    Accepted, WellFormedJobTest,
    ::testing::Values(WellFormedCase{"Dev", "dev", std::string(kJobId), false},
                      WellFormedCase{"Prod", "prod", std::string(kJobId), false},
                      WellFormedCase{"AllZeroId", "dev", std::string(kZeroJobId), false},
                      WellFormedCase{"BinaryInfoPlist", "prod", std::string(kJobId), true}),
    [](const auto& info) { return info.param.name; });

}  // namespace
