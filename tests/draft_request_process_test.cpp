// The draft request seen from outside: small mail draft scripts stand in for
// the bundle's own and record whether, and with what, they were called; the
// result document is read back as the host reads it. The outcome table
// itself is unit-tested; here the point is what reaches the script, what
// keeps it from being called, and what lands on disk under which mode.
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>

#include "job_fixture.h"

namespace {

using namespace jobfixture;

constexpr std::string_view kSubject = "Support Request - Quorvel 2.4 \"crash\"";
constexpr std::string_view kBody = "Steps:\n\t1. open\n";
constexpr std::size_t kLargestLog = 24576;

// A mail draft script that first writes the three texts it was handed to
// callDir/{subject,body,log} and adds a line to callDir/count, then runs
// tail (which decides the reply).
std::string recordingScript(const fs::path& callDir, std::string_view tail) {
  return std::string("on makeSupportDraft(subjectText, bodyText, logPath)\n") +
         R"(	run program {"/bin/sh", "-c", "for f in subject body log; do printf '%s' \"$1\" > \"$0/$f\"; shift; done; echo >> \"$0/count\"", ")" +
         callDir.string() + R"(", subjectText, bodyText, logPath})" + "\n" + std::string(tail) +
         "end makeSupportDraft\n";
}

struct Call {
  std::string subject, body, log;
};

class DraftRequest : public JobFixture {
 protected:
  void SetUp() override {
    JobFixture::SetUp();
    callDir_ = root() / "calls";
    makeDirectory(callDir_, 0777);
  }

  void useScript(std::string_view tail) { writeResource(bundle(), kScriptResource, recordingScript(callDir_, tail)); }

  // The texts the script was called with, or nothing when it was not called.
  std::optional<Call> recordedCall() const {
    if (!fs::exists(callDir_ / "subject")) return std::nullopt;
    return Call{readFile(callDir_ / "subject"), readFile(callDir_ / "body"), readFile(callDir_ / "log")};
  }

  void prepareWith(bool attachLogs) { prepare(jobJson(kSubject, kBody, attachLogs)); }

  const fs::path& callDir() const { return callDir_; }

  // As root, permission bits do not stop the program, so a test about them
  // runs it as an unprivileged user who is given the whole home (the levels
  // above home must let that user reach the job and the bundle); otherwise
  // the test runner's own user will do.
  RunOptions asUserStoppedByPermissions() const {
    RunOptions options;
    if (::geteuid() == 0) {
      EXPECT_EQ(::chmod(root().c_str(), 0711), 0);
      changeOwnerOfTree(home(), kUnprivilegedUid, kUnprivilegedGid);
      options.user = {kUnprivilegedUid, kUnprivilegedGid};
    }
    return options;
  }

  std::size_t callCount() const {
    std::error_code error;
    return fs::exists(callDir_ / "count", error) ? readFile(callDir_ / "count").size() : 0;
  }

 private:
  fs::path callDir_;
};

constexpr std::string_view kReplyOpened = "\treturn \"draft_opened\"\n";

// ---------------------------------------------------------------------------
// What the script answers

struct ReplyCase {
  std::string name;
  std::string tail;
  nlohmann::json expected;
};

void PrintTo(const ReplyCase& c, std::ostream* os) { *os << c.name; }

std::vector<ReplyCase> replyCases() {
  const nlohmann::json draftFailed = failed();
  const nlohmann::json denied = failed("MAIL_PERMISSION_DENIED");
  return {
      {"Opened", std::string(kReplyOpened), opened()},
      {"PermissionDeniedWithMessage", "\terror \"Not authorised to send Apple events.\" number -1743\n", denied},
      {"PermissionDeniedWithoutMessage", "\terror number -1743\n", denied},
      {"OtherErrorNumber", "\terror \"no\" number -1744\n", draftFailed},
      {"ErrorWithoutNumber", "\terror \"no\"\n", draftFailed},
      // What the real script does when the hand-off program fails.
      {"HandOffExitStatus", "\trun program {\"/bin/sh\", \"-c\", \"exit 3\"}\n\treturn \"draft_opened\"\n", draftFailed},
      {"ReplyInOtherCase", "\treturn \"Draft_Opened\"\n", draftFailed},
      {"ReplyWithLineFeed", "\treturn \"draft_opened\\n\"\n", draftFailed},
      {"ReplyWithBlank", "\treturn \"draft_opened \"\n", draftFailed},
      {"EmptyReply", "\treturn \"\"\n", draftFailed},
      {"NoReply", "\treturn\n", draftFailed},
  };
}

class ScriptReply : public DraftRequest, public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(ScriptReply, IsCalledOnceWithTheJobAndMapsTheReply) {
  useScript(GetParam().tail);
  prepareWith(false);
  expectQuietExit(runJob());
  const auto call = recordedCall();
  ASSERT_TRUE(call) << "the mail draft script was not called";
  EXPECT_EQ(callCount(), 1u);
  EXPECT_EQ(call->subject, kSubject);
  EXPECT_EQ(call->body, kBody);
  EXPECT_EQ(call->log, "");
  // Compared as parsed JSON: member order is free, but {"ok":true} must not
  // carry a "code" member of any kind.
  EXPECT_EQ(outcome(), GetParam().expected) << readFile(resultPath());
}

INSTANTIATE_TEST_SUITE_P(Replies, ScriptReply, ::testing::ValuesIn(replyCases()),
                         [](const auto& info) { return info.param.name; });

// A hand-off program that cannot be started is a broken installation, never
// a permission the user could grant: a file of its name on the search path
// that may not be executed, or a directory there that may not be searched.
TEST_F(DraftRequest, HandOffThatCannotStartIsAFailedDraft) {
  const fs::path notExecutable = root() / "not-executable";
  const fs::path unsearchable = root() / "unsearchable";
  makeDirectory(notExecutable, 0755);
  writeFile(notExecutable / "xdg-email", "#!/bin/sh\nexit 0\n", 0644);
  makeDirectory(unsearchable, 0000);
  useScript("\trun program {\"xdg-email\"}\n" + std::string(kReplyOpened));
  prepareWith(false);
  const RunOptions options = asUserStoppedByPermissions();
  for (const fs::path& directory : {notExecutable, unsearchable}) {
    Environment env = minimalEnvironment(home());
    env["PATH"] = directory.string();
    expectQuietExit(runJob(env, options));
    EXPECT_EQ(outcome(), failed()) << "PATH=" << directory;
  }
  EXPECT_EQ(callCount(), 2u);
}

// ---------------------------------------------------------------------------
// Scripts that cannot be called at all

struct UnusableScriptCase {
  std::string name;
  // Given the bundle and a recording script that would report success.
  std::function<void(const Bundle&, const std::string& goodScript)> plant;
};

void PrintTo(const UnusableScriptCase& c, std::ostream* os) { *os << c.name; }

std::vector<UnusableScriptCase> unusableScriptCases() {
  const auto resource = [](const Bundle& b) { return b.resources / kScriptResource; };
  return {
      {"Missing", [=](const Bundle& b, const std::string&) { fs::remove(resource(b)); }},
      {"Directory",
       [=](const Bundle& b, const std::string&) {
         fs::remove(resource(b));
         makeDirectory(resource(b), 0755);
       }},
      // The handler is fine; a statement outside any handler is not.
      {"DoesNotCompile",
       [=](const Bundle& b, const std::string& good) { writeFile(resource(b), good + "set x to 1\n", 0644); }},
      {"NotUtf8",
       [=](const Bundle& b, const std::string& good) { writeFile(resource(b), "-- caf\xE9\n" + good, 0644); }},
      {"HoldsNul",
       [=](const Bundle& b, const std::string& good) {
         writeFile(resource(b), std::string("-- \0\n", 5) + good, 0644);
       }},
  };
}

class UnusableScript : public DraftRequest, public ::testing::WithParamInterface<UnusableScriptCase> {};

TEST_P(UnusableScript, FailsWithoutCallingIt) {
  GetParam().plant(bundle(), recordingScript(callDir(), kReplyOpened));
  prepareWith(false);
  expectQuietExit(runJob());
  EXPECT_FALSE(recordedCall().has_value()) << "the mail draft script was called";
  EXPECT_EQ(outcome(), failed());
}

INSTANTIATE_TEST_SUITE_P(Scripts, UnusableScript, ::testing::ValuesIn(unusableScriptCases()),
                         [](const auto& info) { return info.param.name; });

// ---------------------------------------------------------------------------
// The log file

struct LogCase {
  std::string name;
  bool attachLogs;
  std::function<void(const fs::path& jobDir)> plant;
  bool called;  // with the log's path when attachLogs, else with ""
  bool needsRoot = false;  // the plant gives a file to another user
};

void PrintTo(const LogCase& c, std::ostream* os) { *os << c.name; }

std::vector<LogCase> logCases() {
  const auto log = [](std::size_t size, mode_t mode) {
    return [=](const fs::path& d) { writeFile(d / "log.txt", std::string(size, 'L'), mode); };
  };
  const auto linkToGoodLog = [](const fs::path& d) {
    writeFile(d / "real-log.txt", "L", 0600);
    makeSymlink(d / "real-log.txt", d / "log.txt");
  };
  const auto none = [](const fs::path&) {};
  return {
      {"WantedAndMissing", true, none, false},
      {"WantedAndOneByteTooLarge", true, log(kLargestLog + 1, 0600), false},
      {"WantedAndReadableByOthers", true, log(10, 0644), false},
      {"WantedAndSymlinkToGoodLog", true, linkToGoodLog, false},
      {"WantedAndDirectory", true, [](const fs::path& d) { makeDirectory(d / "log.txt", 0700); }, false},
      // The log is judged, never opened: a FIFO must not stall the run.
      {"WantedAndFifo", true, [](const fs::path& d) { ASSERT_EQ(::mkfifo((d / "log.txt").c_str(), 0600), 0); },
       false},
      {"WantedAndLargestSize", true, log(kLargestLog, 0600), true},
      {"WantedAndEmpty", true, log(0, 0600), true},
      {"WantedAndOfAnotherOwner", true,
       [](const fs::path& d) {
         writeFile(d / "log.txt", "L", 0600);
         ASSERT_EQ(::lchown((d / "log.txt").c_str(), kUnprivilegedUid, kUnprivilegedGid), 0);
       },
       false, true},
      // Not wanted: not looked at, however bad it is.
      {"NotWantedAndMissing", false, none, true},
      {"NotWantedAndReadableByOthers", false, log(10, 0644), true},
      {"NotWantedAndTooLarge", false, log(kLargestLog + 1, 0600), true},
      {"NotWantedAndSymlink", false, linkToGoodLog, true},
  };
}

class LogFile : public DraftRequest, public ::testing::WithParamInterface<LogCase> {};

TEST_P(LogFile, DecidesWhetherAndWithWhatTheScriptIsCalled) {
  const LogCase& c = GetParam();
  if (c.needsRoot && ::geteuid() != 0) GTEST_SKIP() << "giving log.txt to another user needs root";
  useScript(kReplyOpened);
  prepareWith(c.attachLogs);
  c.plant(jobDir());
  RunOptions options;
  options.timeout = std::chrono::seconds(15);
  expectQuietExit(runJob(options));
  const auto call = recordedCall();
  if (!c.called) {
    EXPECT_FALSE(call.has_value()) << "the mail draft script was called";
    EXPECT_EQ(outcome(), failed());
    return;
  }
  ASSERT_TRUE(call) << "the mail draft script was not called";
  // The path as the job directory was built from HOME, not a resolved or
  // relative form of it.
  EXPECT_EQ(call->log, c.attachLogs ? (jobDir() / "log.txt").string() : "");
  EXPECT_EQ(outcome(), opened());
}

INSTANTIATE_TEST_SUITE_P(Logs, LogFile, ::testing::ValuesIn(logCases()),
                         [](const auto& info) { return info.param.name; });

// The log's path is handed on as it was walked and checked: HOME given with
// "..", "." or doubled separators, through a component that does not exist,
// still yields the plain path, never the text that could lead elsewhere once
// the missing component appears.
TEST_F(DraftRequest, LogPathIsTheStandardisedPath) {
  useScript(kReplyOpened);
  prepare(jobJson(kSubject, kBody, true), "L");
  const std::string roundabout = (root() / "missing" / ".." / "." / "home").string() + "//";
  expectQuietExit(runJob(minimalEnvironment(roundabout)));
  const auto call = recordedCall();
  ASSERT_TRUE(call) << "the mail draft script was not called";
  EXPECT_EQ(call->log, (jobDir() / "log.txt").string());
  EXPECT_EQ(outcome(), opened());
}

// ---------------------------------------------------------------------------
// The result document on disk

// Names in the job directory, to see that no temporary file is left over.
std::vector<std::string> entriesOf(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

mode_t modeOf(const fs::path& path) {
  struct stat st {};
  EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
  return st.st_mode & 07777;
}

// The result replaces whatever stood at result.json (an earlier, longer
// document; a link, whose target is left alone), is private whatever the
// umask, and is alone in the job directory but for what the program did not
// write: leftovers of its own interrupted writes are removed.
struct ResultCase {
  std::string name;
  mode_t umask;
  // Given the job directory and a file elsewhere (0644, "target").
  std::function<void(const fs::path& jobDir, const fs::path& target)> plant;
  std::vector<std::string> kept;  // besides job.json and result.json
};

void PrintTo(const ResultCase& c, std::ostream* os) { *os << c.name; }

class ResultDocument : public DraftRequest, public ::testing::WithParamInterface<ResultCase> {};

TEST_P(ResultDocument, IsWholePrivateAndAlone) {
  const ResultCase& c = GetParam();
  useScript(kReplyOpened);
  prepareWith(false);
  const fs::path target = root() / "elsewhere.json";
  writeFile(target, "target", 0644);
  c.plant(jobDir(), target);
  RunOptions options;
  options.umask = c.umask;
  expectQuietExit(runJob(options));
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(resultPath())));
  EXPECT_EQ(readFile(resultPath()), R"({"ok":true})");
  EXPECT_EQ(modeOf(resultPath()), 0600u);
  EXPECT_EQ(readFile(target), "target");
  EXPECT_EQ(modeOf(target), 0644u);
  std::vector<std::string> entries = c.kept;
  entries.insert(entries.end(), {"job.json", "result.json"});
  std::sort(entries.begin(), entries.end());
  EXPECT_EQ(entriesOf(jobDir()), entries);
}

const auto kNothing = [](const fs::path&, const fs::path&) {};

INSTANTIATE_TEST_SUITE_P(
    Plants, ResultDocument,
    ::testing::Values(
        ResultCase{"Umask000", 0000, kNothing, {}}, ResultCase{"Umask022", 0022, kNothing, {}},
        ResultCase{"Umask077", 0077, kNothing, {}}, ResultCase{"Umask777", 0777, kNothing, {}},
        ResultCase{"EarlierResult", 0022,
                   [](const fs::path& d, const fs::path&) {
                     writeFile(d / "result.json",
                               R"({"ok":false,"code":"MAIL_PERMISSION_DENIED","note":"from an earlier run"})", 0644);
                   },
                   {}},
        ResultCase{"LinkAtResult", 0022, [](const fs::path& d, const fs::path& t) { makeSymlink(t, d / "result.json"); },
                   {}},
        ResultCase{"LeftoversOfInterruptedWrites", 0022,
                   [](const fs::path& d, const fs::path&) {
                     writeFile(d / ".result.json.00112233445566aa", "{\"ok\":", 0600);
                     writeFile(d / ".result.json.keep", "not ours", 0600);
                   },
                   {".result.json.keep"}}),
    [](const auto& info) { return info.param.name; });

// A write that cannot complete is a failed write like any other: the process
// still ends quietly with status 0 and leaves nothing of it behind, and what
// writes ended by force left earlier is cleared away.

TEST_F(DraftRequest, WriteBeyondTheFileSizeLimitFailsQuietly) {
  // The fixture's script succeeds without writing a byte, which the limit
  // would forbid the recording script as well.
  prepareWith(false);
  const std::string earlier = R"({"ok":false,"code":"DRAFT_FAILED"})";
  writeFile(resultPath(), earlier, 0644);
  RunOptions options;
  options.limits[RLIMIT_FSIZE] = 0;
  expectQuietExit(runJob(options));
  EXPECT_EQ(entriesOf(jobDir()), (std::vector<std::string>{"job.json", "result.json"}));
  EXPECT_EQ(readFile(resultPath()), earlier);
  EXPECT_EQ(modeOf(resultPath()), 0600u) << "the job got as far as the write";
}

// ---------------------------------------------------------------------------
// A job directory in which nothing can be created. As root, permission bits
// do not stop the program, so it runs as an unprivileged user who owns the
// whole home; otherwise the test runner's own user will do.

// What stands at result.json before the run, given the job directory's
// result path and a file elsewhere in the home (0644, "target"); and the
// changes the run may make under home. Only an earlier document of this job
// is made private: a hard link to a file elsewhere, a link or a directory
// at result.json stays exactly as it was.
struct ReadOnlyCase {
  std::string name;
  std::function<void(const fs::path& result, const fs::path& target)> plant;
  bool madePrivate;
};

void PrintTo(const ReadOnlyCase& c, std::ostream* os) { *os << c.name; }

class ReadOnlyJobDirectory : public DraftRequest, public ::testing::WithParamInterface<ReadOnlyCase> {};

TEST_P(ReadOnlyJobDirectory, LeavesEverythingAsItWas) {
  useScript(kReplyOpened);
  prepareWith(false);
  const fs::path target = home() / "elsewhere.json";
  writeFile(target, "target", 0644);
  GetParam().plant(resultPath(), target);
  const RunOptions options = asUserStoppedByPermissions();
  ASSERT_EQ(::chmod(jobDir().c_str(), 0500), 0);
  const Snapshot before = takeSnapshot(home());
  expectQuietExit(runJob(options));
  // The job got as far as the script, so only the write can have failed.
  EXPECT_TRUE(recordedCall().has_value()) << "the mail draft script was not called";
  const std::string changes = formatChanges(compareSnapshots(before, takeSnapshot(home())));
  EXPECT_EQ(changes, GetParam().madePrivate
                         ? "~ " + fs::relative(resultPath(), home()).string() + " (mode 0644->0600)\n"
                         : std::string());
}

INSTANTIATE_TEST_SUITE_P(
    AtResult, ReadOnlyJobDirectory,
    ::testing::Values(
        ReadOnlyCase{"Nothing", [](const fs::path&, const fs::path&) {}, false},
        ReadOnlyCase{"EarlierResult",
                     [](const fs::path& result, const fs::path&) {
                       writeFile(result, R"({"ok":false,"code":"DRAFT_FAILED"})", 0644);
                     },
                     true},
        ReadOnlyCase{"HardLink",
                     [](const fs::path& result, const fs::path& target) {
                       ASSERT_EQ(::link(target.c_str(), result.c_str()), 0);
                     },
                     false},
        ReadOnlyCase{"Directory", [](const fs::path& result, const fs::path&) { makeDirectory(result, 0755); }, false},
        ReadOnlyCase{"Link", [](const fs::path& result, const fs::path& target) { makeSymlink(target, result); },
                     false}),
    [](const auto& info) { return info.param.name; });

}  // namespace
