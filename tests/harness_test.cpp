// The silent-stop tests are only as good as the harness's eye: these cases
// make sure that a snapshot notices each kind of change, that cleanup never
// escapes through a link and that a child's output and ending are captured.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include "harness.h"
#include "platform/info_dictionary.h"
#include "testing/crafted_binary_plist.h"

namespace {

using namespace harness;

// --- snapshots -------------------------------------------------------------

struct Mutation {
  std::string name;
  std::function<void(const fs::path&)> apply;
};

void PrintTo(const Mutation& c, std::ostream* os) { *os << c.name; }

// Restores a file's mtime so that only the property under test differs.
void keepMtime(const fs::path& path, const std::function<void()>& change) {
  struct stat st {};
  ASSERT_EQ(::lstat(path.c_str(), &st), 0);
  change();
  const timespec times[2] = {st.st_atim, st.st_mtim};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
}

std::vector<Mutation> mutations() {
  return {
      {"FileAdded", [](const fs::path& r) { writeFile(r / "d/new", "x"); }},
      {"FileRemoved", [](const fs::path& r) { fs::remove(r / "d/file"); }},
      {"SameSizeContentsWithOldMtime",
       [](const fs::path& r) { keepMtime(r / "d/file", [&] { writeFile(r / "d/file", "HELLO"); }); }},
      {"ModeChanged", [](const fs::path& r) { fs::permissions(r / "d/file", fs::perms::owner_read); }},
      {"LinkRetargeted",
       [](const fs::path& r) {
         fs::remove(r / "link");
         makeSymlink("e", r / "link");
       }},
      {"LinkReplacedByDirectory",
       [](const fs::path& r) {
         fs::remove(r / "link");
         makeDirectory(r / "link");
       }},
      {"TemporaryFileCreatedAndRemoved",
       [](const fs::path& r) {
         writeFile(r / "d/tmp", "");
         fs::remove(r / "d/tmp");
       }},
      {"EmptyDirectoryAdded", [](const fs::path& r) { makeDirectory(r / "d/sub"); }},
  };
}

class SnapshotTest : public ::testing::TestWithParam<Mutation> {
 protected:
  void SetUp() override {
    makeDirectory(temp_.path() / "d");
    writeFile(temp_.path() / "d/file", "hello");
    makeSymlink("d", temp_.path() / "link");
  }
  TempDir temp_;
};

// Puts a time long past on path, so that any change now gives it another
// one however coarse the file system's clock.
void agePath(const fs::path& path) {
  const timespec past[2] = {{1'000'000'000, 0}, {1'000'000'000, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), past, AT_SYMLINK_NOFOLLOW), 0);
}

TEST_P(SnapshotTest, NoticesChange) {
  for (const char* name : {"", "d", "d/file"}) agePath(temp_.path() / name);
  const Snapshot before = takeSnapshot(temp_.path());
  GetParam().apply(temp_.path());
  EXPECT_FALSE(compareSnapshots(before, takeSnapshot(temp_.path())).empty());
}

INSTANTIATE_TEST_SUITE_P(Mutations, SnapshotTest, ::testing::ValuesIn(mutations()),
                         [](const auto& info) { return info.param.name; });

TEST(SnapshotBasics, RecordsLinksWithoutFollowingThem) {
  TempDir outside, temp;
  writeFile(outside.path() / "secret", "s");
  makeSymlink(outside.path(), temp.path() / "out");
  const Snapshot snapshot = takeSnapshot(temp.path());
  ASSERT_TRUE(snapshot.contains("out"));
  EXPECT_EQ(snapshot.at("out").type, 'l');
  EXPECT_EQ(snapshot.at("out").linkTarget, outside.path().string());
  EXPECT_FALSE(snapshot.contains("out/secret"));
  EXPECT_TRUE(compareSnapshots(snapshot, takeSnapshot(temp.path())).empty());
}

// What the attack harness relies on: a skipped path hides every change below
// it, a timeless directory hides only its time, and with inodes a file put
// back in place of an identical one still shows.
TEST(SnapshotBasics, OptionsLeaveOutOnlyWhatTheyName) {
  TempDir temp;
  makeDirectory(temp.path() / "skip");
  makeDirectory(temp.path() / "churn");
  writeFile(temp.path() / "churn/file", "same");
  for (const char* name : {"", "skip", "churn", "churn/file"}) agePath(temp.path() / name);
  const SnapshotOptions options{{"skip"}, {".", "churn"}, true};
  const SnapshotOptions withoutInodes{{"skip"}, {".", "churn"}, false};
  const Snapshot before = takeSnapshot(temp.path(), options);
  const Snapshot beforeWithoutInodes = takeSnapshot(temp.path(), withoutInodes);
  EXPECT_FALSE(before.contains("skip"));

  writeFile(temp.path() / "skip/new", "x");
  fs::rename(temp.path() / "churn/file", temp.path() / "file");
  fs::rename(temp.path() / "file", temp.path() / "churn/file");
  EXPECT_EQ(formatChanges(compareSnapshots(before, takeSnapshot(temp.path(), options))), "");

  keepMtime(temp.path() / "churn/file", [&] {
    writeFile(temp.path() / "churn/copy", "same");
    fs::rename(temp.path() / "churn/copy", temp.path() / "churn/file");
  });
  EXPECT_EQ(formatChanges(compareSnapshots(before, takeSnapshot(temp.path(), options))), "~ churn/file (inode)\n");
  EXPECT_EQ(formatChanges(compareSnapshots(beforeWithoutInodes, takeSnapshot(temp.path(), withoutInodes))), "");
  writeFile(temp.path() / "churn/added", "");
  EXPECT_EQ(formatChanges(compareSnapshots(before, takeSnapshot(temp.path(), options))),
            "~ churn/file (inode)\n+ churn/added (f 0600)\n");
}

// --- property lists ------------------------------------------------------------

// The XML text the tests write must read back, kind by kind, as the values
// they meant: a value the reader cannot parse would turn a test about one
// wrong value into one about an unreadable file.
TEST(PropertyLists, XmlTextReadsBackAsTheValuesMeant) {
  const platform::PlistDict read = platform::parseInfoDictionary(xmlPlist({
      {"s", plistString("a <b> & c\n")},
      {"i", plistInteger(7)},
      {"r", plistReal(0.5)},
      {"t", plistBoolean(true)},
      {"d", plistDate(700'000'000)},
      {"b1", plistData("d")},
      {"b2", plistData("de")},
      {"b3", plistData("dev")},
      {"a", plistArray({plistString("x"), plistBoolean(false)})},
      {"n", plistDict({{"k", plistString("v")}})},
  }));
  using platform::PlistValue;
  const platform::PlistDict expected = {
      {"s", {std::string("a <b> & c\n")}},
      {"i", {std::int64_t{7}}},
      {"r", {0.5}},
      {"t", {true}},
      {"d", {platform::PlistDate{700'000'000}}},
      {"b1", {platform::PlistData{"d"}}},
      {"b2", {platform::PlistData{"de"}}},
      {"b3", {platform::PlistData{"dev"}}},
      {"a", {platform::PlistArray{{std::string("x")}, {false}}}},
      {"n", {platform::PlistDict{{"k", {std::string("v")}}}}},
  };
  EXPECT_TRUE(read == expected);
}

TEST(PropertyLists, BinaryStandardInfoHoldsWhatTheXmlOneHolds) {
  for (const char* channel : {"dev", "prod"}) {
    const platform::PlistDict binary = platform::parseInfoDictionary(testing_support::binaryStandardInfo(channel));
    EXPECT_FALSE(binary.empty()) << channel;
    EXPECT_TRUE(binary == platform::parseInfoDictionary(xmlPlist(standardInfo(channel)))) << channel;
  }
}

// --- cleanup -----------------------------------------------------------------

TEST(TempDirCleanup, RemovesLockedDirectoriesButNothingBehindLinks) {
  TempDir outside;
  writeFile(outside.path() / "keep", "k");
  fs::path removed;
  {
    TempDir temp;
    removed = temp.path();
    makeDirectory(temp.path() / "locked");
    writeFile(temp.path() / "locked/f", "x");
    makeDirectory(temp.path() / "readonly");
    writeFile(temp.path() / "readonly/f", "x");
    makeSymlink(outside.path(), temp.path() / "out");
    makeSymlink(outside.path() / "keep", temp.path() / "keep-link");
    ASSERT_EQ(::chmod((temp.path() / "locked").c_str(), 0000), 0);
    ASSERT_EQ(::chmod((temp.path() / "readonly").c_str(), 0500), 0);
  }
  EXPECT_FALSE(fs::exists(fs::symlink_status(removed)));
  EXPECT_EQ(readFile(outside.path() / "keep"), "k");
}

// --- running -----------------------------------------------------------------

class RunTest : public ::testing::Test {
 protected:
  RunResult shell(const std::string& script, std::chrono::milliseconds timeout = kDefaultTimeout) {
    return run("/bin/sh", {"-c", script}, minimalEnvironment(temp_.path()), timeout);
  }
  TempDir temp_;
};

TEST_F(RunTest, CapturesBothStreamsBeyondPipeCapacity) {
  // Interleaved and larger than a pipe buffer: a reader that drained one
  // stream at a time would deadlock here.
  const RunResult result = shell("i=0; while [ $i -lt 3000 ]; do echo 0123456789012345678901234567890123456789; "
                                 "echo abcdefghijabcdefghijabcdefghij >&2; i=$((i+1)); done; exit 3");
  EXPECT_FALSE(result.timedOut);
  EXPECT_EQ(result.exitStatus, 3);
  EXPECT_EQ(result.out.size(), 3000u * 41);
  EXPECT_EQ(result.err.size(), 3000u * 31);
}

TEST_F(RunTest, ReportsSignal) {
  const RunResult result = shell("kill -TERM $$");
  EXPECT_FALSE(result.exitStatus.has_value());
  EXPECT_EQ(result.signal, SIGTERM);
}

TEST_F(RunTest, KillsChildAfterTimeout) {
  const RunResult result = shell("sleep 30", std::chrono::milliseconds(100));
  EXPECT_TRUE(result.timedOut);
  EXPECT_EQ(result.signal, SIGKILL);
}

TEST_F(RunTest, EnvironmentIsMinimal) {
  const RunResult result = run("/usr/bin/env", {}, {{"PATH", "/usr/bin:/bin"}, {"HOME", "/nowhere"}});
  EXPECT_EQ(result.out, "HOME=/nowhere\nPATH=/usr/bin:/bin\n");
  const Environment env = minimalEnvironment("/h");
  EXPECT_EQ(env.at("HOME"), "/h");
  for (const auto& [key, value] : env) EXPECT_FALSE(key == "LANG" || key.starts_with("LC_")) << key;
}

TEST_F(RunTest, NoticesOutputHeldOpenByDescendant) {
  RunOptions options;
  options.outputGrace = std::chrono::milliseconds(100);
  // The descendant outlives the grace by far; it is ended by its group below.
  const RunResult result = run("/bin/sh", {"-c", "sleep 30 & echo $!; exit 0"}, minimalEnvironment(temp_.path()), options);
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_TRUE(result.outputLeftOpen);
  ASSERT_FALSE(result.out.empty()) << describe(result);
  ::kill(static_cast<pid_t>(std::stol(result.out)), SIGKILL);
}

TEST_F(RunTest, MissingProgramIsNotStarted) {
  EXPECT_FALSE(run(temp_.path() / "absent", {}, minimalEnvironment(temp_.path())).started);
  RunOptions forked;
  forked.umask = 022;
  EXPECT_FALSE(run(temp_.path() / "absent", {}, minimalEnvironment(temp_.path()), forked).started);
}

// --- running with options (fork and exec) ------------------------------------

TEST_F(RunTest, SetsChildUmask) {
  for (const mode_t mask : {0000, 0027}) {
    RunOptions options;
    options.umask = mask;
    const RunResult result = run("/bin/sh", {"-c", "umask"}, minimalEnvironment(temp_.path()), options);
    EXPECT_EQ(result.exitStatus, 0) << describe(result);
    EXPECT_EQ(result.out, mask == 0 ? "0000\n" : "0027\n");
  }
}

TEST_F(RunTest, ForkedChildIsKilledWithItsGroupAfterTimeout) {
  RunOptions options;
  options.umask = 022;
  options.timeout = std::chrono::milliseconds(100);
  const RunResult result = run("/bin/sh", {"-c", "sleep 30 & wait"}, minimalEnvironment(temp_.path()), options);
  EXPECT_TRUE(result.timedOut);
  EXPECT_EQ(result.signal, SIGKILL);
  EXPECT_FALSE(result.outputLeftOpen) << "the background sleep survived the timeout";
}

TEST_F(RunTest, StartsInTheGivenDirectoryWithTheGivenSignalsIgnored) {
  RunOptions options;
  options.workingDirectory = temp_.path();
  options.ignoredSignals = {SIGCHLD};
  const Environment env = minimalEnvironment(temp_.path());
  // Started directly: a shell in between would give SIGCHLD back its default.
  const RunResult directory = run("/bin/readlink", {"/proc/self/cwd"}, env, options);
  EXPECT_EQ(directory.out, temp_.path().string() + "\n") << describe(directory);
  const RunResult signals = run("/bin/grep", {"^SigIgn", "/proc/self/status"}, env, options);
  // Signal N is bit N-1 of the mask: of the standard signals only SIGCHLD
  // (17) is ignored. (The C library's spawn leaves its own two internal
  // real-time signals ignored.)
  ASSERT_EQ(signals.out.rfind("SigIgn:\t", 0), 0u) << describe(signals);
  EXPECT_EQ(std::stoull(signals.out.substr(8), nullptr, 16) & 0x7fffffffu, 1u << (SIGCHLD - 1)) << describe(signals);
}

TEST_F(RunTest, RunsAsAnotherUserWithNoSupplementaryGroups) {
  if (::geteuid() != 0) GTEST_SKIP() << "changing user needs root";
  RunOptions options;
  options.user = {kUnprivilegedUid, kUnprivilegedGid};
  const RunResult result = run("/bin/sh", {"-c", "id -u; id -g; id -G"}, minimalEnvironment(temp_.path()), options);
  EXPECT_EQ(result.exitStatus, 0) << describe(result);
  EXPECT_EQ(result.out, "65534\n65534\n65534\n");
}

}  // namespace
