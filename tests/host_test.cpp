// The host library and the support-draft-host command: every host mistake
// that the program would answer with a silent stop is refused up front with
// its code and without a trace on disk, what the library prepares the built
// program accepts, runs leave the host free and without a child, and only
// the kit's own old jobs are pruned.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <set>
#include <sstream>
#include <thread>
#include <tuple>

#include "job/job_contract.h"
#include "job_fixture.h"
#include "job_prune.h"
#include "support_draft_host.hpp"

namespace {

using namespace jobfixture;
namespace host = support_draft;

constexpr std::string_view kPrefix = "Support Request - Quorvel ";
constexpr std::chrono::seconds kTimeBound{30};

class HostLibrary : public JobFixture {
 protected:
  void SetUp() override {
    JobFixture::SetUp();
    makeDirectory(home(), 0700);
    linkBuiltHelper(bundle(), "support-draft-watcher");
  }

  host::JobPlace place() const { return {host::Channel::dev, home().string()}; }
  fs::path toolDir() const { return home() / kDevToolDir; }
  fs::path draftsDir() const { return toolDir() / "support-drafts"; }

  static host::DraftRequest request(std::string subjectRest = "Export stops", std::string body = "Hello",
                                    std::optional<std::string> log = std::nullopt) {
    return {std::string(kPrefix) + subjectRest, std::move(body), std::move(log)};
  }

  // Prepares, expecting a refusal with the code `code` whose sentence names
  // `path`, and nothing changed anywhere under the fixture's root.
  void expectRefused(const host::DraftRequest& draft, const std::string& code, const std::string& path = "",
                     const host::JobPlace* where = nullptr) {
    const Snapshot before = takeSnapshot(root());
    const host::Preparation preparation = host::prepareJob(where != nullptr ? *where : place(), draft);
    EXPECT_FALSE(preparation.job) << "prepared " << preparation.job->directory;
    EXPECT_EQ(host::reasonCode(preparation.reason), code) << preparation.refusal;
    EXPECT_FALSE(preparation.refusal.empty());
    EXPECT_NE(preparation.refusal.find(path), std::string::npos) << "refusal: " << preparation.refusal;
    EXPECT_EQ(formatChanges(compareSnapshots(before, takeSnapshot(root()))), "");
  }

  // A mail script whose composer waits until the test makes the file
  // `gate`: until then the program cannot have ended, however slow the
  // machine.
  void composeBehindGate(const fs::path& gate) {
    writeResource(bundle(), kScriptResource,
                  "on makeSupportDraft(subjectText, bodyText, logPath)\n"
                  "\trun program {\"/bin/sh\", \"-c\", \"until [ -e \\\"$0\\\" ]; do sleep 0.01; done\", \"" +
                      gate.string() +
                      "\"}\n"
                      "\treturn \"draft_opened\"\n"
                      "end makeSupportDraft\n");
  }

  // A composer, composer(), that appends the mailto: URI it is handed to
  // the file whose path it returns.
  fs::path writeRecordingComposer() const {
    const fs::path record = root() / "record";
    writeFile(composer(), "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + record.string() + "'\n", 0755);
    return record;
  }
  fs::path composer() const { return root() / "composer"; }

  // Waits until no program runs for the job: its watcher's lock is gone.
  static void awaitEndOf(const host::PreparedJob& job) {
    const UniqueFd directory(::open(job.directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    ASSERT_TRUE(directory);
    ASSERT_EQ(::flock(directory.get(), LOCK_EX), 0);
  }

  host::PreparedJob prepared(const host::DraftRequest& draft) {
    const host::Preparation preparation = host::prepareJob(place(), draft);
    if (!preparation.job) {
      ADD_FAILURE() << "refused: " << preparation.refusal;
      return {};
    }
    return *preparation.job;
  }
};

// The environment the library hands on to the program, set for one test.
class EnvironmentVariable {
 public:
  EnvironmentVariable(const char* name, const std::string& value) : name_(name) { ::setenv(name, value.c_str(), 1); }
  ~EnvironmentVariable() { ::unsetenv(name_); }

 private:
  const char* name_;
};

// ---------------------------------------------------------------------------
// Refusals: what the program would silently ignore is named and not written

TEST_F(HostLibrary, TextsBreakingTheProgramsLimitsAreRefused) {
  struct Case {
    host::DraftRequest draft;
    std::string code;
  };
  const std::vector<Case> cases = {
      {{"Support request - Quorvel x", "b", std::nullopt}, "subjectPrefix"},
      {request(std::string(200 - kPrefix.size() + 1, 's')), "subjectTooLong"},
      {request(std::string("a\0b", 3)), "subjectHoldsNul"},
      {request("\xff"), "subjectNotUtf8"},
      {request("x", std::string(8193, 'b')), "bodyTooLong"},
      {request("x", std::string("a\0b", 3)), "bodyHoldsNul"},
      {request("x", "\xc3"), "bodyNotUtf8"},
      // Within the body's limit, but each control character takes six bytes
      // in the document.
      {request("x", std::string(3000, '\x01')), "jobDocumentTooLarge"},
      {request("x", "b", std::string(24577, 'l')), "logTooLarge"},
      // A line break would let the subject add headers in the client.
      {request("x\nBcc: evil@example.org"), "subjectNotOneLine"},
      {request("x\xE2\x80\xA8" "Bcc: evil@example.org"), "subjectNotOneLine"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    expectRefused(c.draft, c.code);
  }
  // Line breaks and tabs take two bytes there, not six: 7000 of them fit.
  std::string spaced;
  for (int i = 0; i < 3500; ++i) spaced += "\n\t";
  const host::Preparation fits = host::prepareJob(place(), request("x", spaced));
  EXPECT_TRUE(fits.job) << fits.refusal;
}

TEST_F(HostLibrary, LinkInTheChainIsRefused) {
  makeDirectory(root() / "elsewhere", 0700);
  makeSymlink(root() / "elsewhere", toolDir());
  expectRefused(request(), "directoryLinked", toolDir().string());

  // A link above the home directory counts as well.
  makeDirectory(root() / "real", 0700);
  makeDirectory(root() / "real" / "home", 0700);
  makeSymlink(root() / "real", root() / "linked");
  useHome(root() / "linked" / "home");
  expectRefused(request(), "directoryLinked", (root() / "linked").string());
}

TEST_F(HostLibrary, DirectoryWritableByOthersIsRefused) {
  makeDirectory(toolDir(), 0700);
  makeDirectory(draftsDir(), 0700);
  ASSERT_EQ(::chmod(draftsDir().c_str(), 0770), 0);
  expectRefused(request(), "directoryWritableByOthers", draftsDir().string());

  ASSERT_EQ(::chmod(draftsDir().c_str(), 0700), 0);
  ASSERT_EQ(::chmod(home().c_str(), 0703), 0);
  expectRefused(request(), "directoryWritableByOthers", home().string());
}

TEST_F(HostLibrary, DirectoryOfAnotherUserIsRefused) {
  if (::geteuid() != 0) GTEST_SKIP() << "giving a directory to another user needs root";
  makeDirectory(toolDir(), 0700);
  ASSERT_EQ(::chown(toolDir().c_str(), kUnprivilegedUid, kUnprivilegedGid), 0);
  expectRefused(request(), "directoryNotOwned", toolDir().string());
}

TEST_F(HostLibrary, HomeThatIsMissingOrNotUtf8IsRefusedByName) {
  // A home that does not exist is named, and so is HOME when it came from there.
  const fs::path missing = root() / "gone";
  const host::JobPlace missingPlace{host::Channel::dev, missing.string()};
  expectRefused(request(), "homeNotFound", missing.string(), &missingPlace);
  {
    const EnvironmentVariable variable("HOME", missing.string());
    const host::JobPlace fromHome{host::Channel::dev, ""};
    expectRefused(request(), "homeNotFound", "HOME", &fromHome);
  }
  // A real directory whose path has no form in JSON: refused before the
  // tool directory is made in it.
  const fs::path latin1 = root() / "h\xe9me";
  makeDirectory(latin1, 0700);
  const host::JobPlace latin1Place{host::Channel::dev, latin1.string()};
  expectRefused(request(), "homeNotUtf8", "", &latin1Place);
}

// ---------------------------------------------------------------------------
// What the library prepares

TEST_F(HostLibrary, PreparedJobIsPrivateAndAtTheLimits) {
  const std::string subject = std::string(kPrefix) + std::string(200 - kPrefix.size(), 's');
  const std::string log(24576, 'l');
  ASSERT_EQ(::chmod(home().c_str(), 0755), 0);  // read and search for others is fine
  const mode_t hostMask = ::umask(0);  // the modes must not depend on the host's umask
  const host::PreparedJob job = prepared({subject, "body", log});
  ::umask(hostMask);
  ASSERT_FALSE(job.id.empty());
  EXPECT_EQ(job.directory, (draftsDir() / job.id).string());
  EXPECT_TRUE(isCanonicalJobId(job.id)) << job.id;

  const Snapshot snapshot = takeSnapshot(toolDir());
  std::set<std::string> names;
  for (const auto& [name, entry] : snapshot) {
    names.insert(name);
    EXPECT_EQ(entry.mode, entry.type == 'd' ? 0700u : 0600u) << name;
  }
  const std::string jobPath = "support-drafts/" + job.id;
  EXPECT_EQ(names, (std::set<std::string>{".", "support-drafts", jobPath, jobPath + "/job.json", jobPath + "/log.txt"}));
  EXPECT_EQ(readFile(fs::path(job.directory) / "log.txt"), log);
  EXPECT_EQ(nlohmann::json::parse(readFile(fs::path(job.directory) / "job.json")),
            nlohmann::json::parse(jobJson(subject, "body", true)));
}

TEST_F(HostLibrary, HostsPreparingAtOnceNeverShareADirectory) {
  constexpr int kHosts = 4;
  constexpr int kJobsEach = 25;
  std::vector<std::vector<host::Preparation>> results(kHosts);
  std::vector<std::thread> hosts;
  for (int h = 0; h < kHosts; ++h) {
    hosts.emplace_back([this, h, &results] {
      for (int j = 0; j < kJobsEach; ++j) {
        results[h].push_back(host::prepareJob(place(), request(std::to_string(h) + "/" + std::to_string(j))));
      }
    });
  }
  for (auto& thread : hosts) thread.join();

  std::set<std::string> directories;
  for (int h = 0; h < kHosts; ++h) {
    for (int j = 0; j < kJobsEach; ++j) {
      const host::Preparation& preparation = results[h][j];
      ASSERT_TRUE(preparation.job) << preparation.refusal;
      directories.insert(preparation.job->directory);
      const auto document = nlohmann::json::parse(readFile(fs::path(preparation.job->directory) / "job.json"));
      EXPECT_EQ(document["subject"], std::string(kPrefix) + std::to_string(h) + "/" + std::to_string(j));
    }
  }
  EXPECT_EQ(directories.size(), static_cast<std::size_t>(kHosts * kJobsEach));
}

// ---------------------------------------------------------------------------
// Running the program

std::string percentEncoded(std::string_view text) {
  std::string encoded;
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
      encoded += static_cast<char>(c);
    } else {
      char escape[4];
      std::snprintf(escape, sizeof escape, "%%%02X", c);
      encoded += escape;
    }
  }
  return encoded;
}

TEST_F(HostLibrary, PreparedJobOpensTheDraftThroughTheBuiltProgram) {
  copyBuiltResource(bundle(), kScriptResource);
  const fs::path record = writeRecordingComposer();
  const EnvironmentVariable mailer("MAILER", composer().string());

  const host::PreparedJob job = prepared(request("host", "Hello", std::string("log line\n")));
  ASSERT_FALSE(job.id.empty());
  const host::RunReport report = host::runJob(bundle().root.string(), job, kTimeBound);
  EXPECT_EQ(host::outcomeName(report.outcome), std::string("opened")) << report.explanation;
  EXPECT_EQ(report.explanation, "");

  const std::string received = readFile(record);
  EXPECT_NE(received.find(percentEncoded(std::string(kPrefix) + "host")), std::string::npos) << received;
  const std::string log = job.directory + "/log.txt";
  EXPECT_TRUE(received.find(percentEncoded(log)) != std::string::npos || received.find(log) != std::string::npos)
      << received;

  // The job stays until the host removes it: the mail client may still read
  // the log. Removing it never reaches through a link planted inside.
  EXPECT_TRUE(fs::exists(fs::path(job.directory) / "result.json"));
  writeFile(root() / "precious", "keep");
  makeSymlink(root() / "precious", fs::path(job.directory) / "planted");
  EXPECT_TRUE(host::removeJob(job));
  EXPECT_EQ(readFile(root() / "precious"), "keep");
  EXPECT_FALSE(fs::exists(fs::symlink_status(job.directory)));
  EXPECT_TRUE(fs::exists(draftsDir()));
}

// ---------------------------------------------------------------------------
// An application's own bundle: its identity, read from its Info.plist as the
// program reads it, decides where jobs go and what their subjects begin with.

constexpr std::string_view kAcmePrefix = "[Acme Notes] Support: ";
constexpr std::string_view kAcmeRecipient = "help+notes@acme.example";

PlistDict acmeInfo() {
  PlistDict keys = standardInfo("prod");
  keys.emplace_back("SupportDraftSubjectPrefix", plistString(kAcmePrefix));
  keys.emplace_back("SupportDraftToolDirectory", plistString(".acme-notes"));
  keys.emplace_back("SupportDraftRecipient", plistString(kAcmeRecipient));
  return keys;
}

TEST_F(HostLibrary, AnOwnBundlesJobsGoToItsToolDirectoryUnderItsPrefixAndAddress) {
  writeInfo(bundle(), acmeInfo());
  copyBuiltResource(bundle(), kScriptResource);
  const fs::path record = writeRecordingComposer();
  const EnvironmentVariable mailer("MAILER", composer().string());
  const std::string bundlePath = bundle().root.string();

  EXPECT_EQ(host::bundleSubjectPrefix(bundlePath).prefix, std::string(kAcmePrefix));
  // The default prefix is the wrong one for this bundle, and the sentence
  // names the right one.
  const Snapshot before = takeSnapshot(root());
  const host::Preparation wrong = host::prepareBundleJob(bundlePath, home().string(), request());
  EXPECT_FALSE(wrong.job);
  EXPECT_EQ(host::reasonCode(wrong.reason), std::string("subjectPrefix"));
  EXPECT_NE(wrong.refusal.find(std::string(kAcmePrefix)), std::string::npos) << wrong.refusal;
  EXPECT_EQ(formatChanges(compareSnapshots(before, takeSnapshot(root()))), "");

  const host::Preparation preparation = host::prepareBundleJob(
      bundlePath, home().string(), {std::string(kAcmePrefix) + "host", "Hello", std::string("log line\n")});
  ASSERT_TRUE(preparation.job) << preparation.refusal;
  const host::PreparedJob& job = *preparation.job;
  EXPECT_EQ(fs::path(job.directory).parent_path(), home() / ".acme-notes" / "support-drafts");
  EXPECT_FALSE(fs::exists(toolDir())) << "nothing in the channel's default tool directory";

  const host::RunReport report = host::runJob(bundlePath, job, kTimeBound);
  EXPECT_EQ(host::outcomeName(report.outcome), std::string("opened")) << report.explanation;
  const std::string received = readFile(record);
  EXPECT_EQ(received.rfind("mailto:" + percentEncoded("help+notes") + "@acme.example?", 0), 0u) << received;
  EXPECT_NE(received.find(percentEncoded(std::string(kAcmePrefix) + "host")), std::string::npos) << received;

  // Named again by its directory, the job is found where it is.
  const host::Preparation again = host::jobAt(job.directory);
  ASSERT_TRUE(again.job) << again.refusal;
  EXPECT_EQ(host::outcomeName(host::collectResult(*again.job).outcome), std::string("opened"));
  EXPECT_TRUE(host::removeJob(*again.job));
  EXPECT_FALSE(fs::exists(job.directory));
}

TEST_F(HostLibrary, ABundleWithAHostileIdentityIsRefusedWithItsKeysReason) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"SupportDraftSubjectPrefix", "bundleSubjectPrefixInvalid"},
      {"SupportDraftToolDirectory", "bundleToolDirectoryInvalid"},
      {"SupportDraftRecipient", "bundleRecipientInvalid"}};
  for (const auto& [key, code] : cases) {
    PlistDict keys = standardInfo("dev");
    keys.emplace_back(key, plistString("x\n/.."));
    writeInfo(bundle(), keys);
    const Snapshot before = takeSnapshot(root());
    const host::Preparation preparation = host::prepareBundleJob(bundle().root.string(), home().string(), request());
    EXPECT_EQ(host::reasonCode(preparation.reason), code) << preparation.refusal;
    EXPECT_EQ(host::reasonCode(host::bundleSubjectPrefix(bundle().root.string()).reason), code);
    EXPECT_EQ(formatChanges(compareSnapshots(before, takeSnapshot(root()))), "") << key;
  }
}

TEST_F(HostLibrary, CommandMakesABundleOfItsOwnThatRunsItsJobs) {
  const Environment env = minimalEnvironment(home());
  TempDir made;
  const std::vector<std::string> acme = {
      "--make-bundle", made.path().string(), "--name", "Acme Notes", "--identifier", "org.acme.notes.support",
      "--channel", "prod", "--subject-prefix", std::string(kAcmePrefix), "--tool-directory", ".acme-notes",
      "--recipient", std::string(kAcmeRecipient), "--from", SUPPORT_DRAFT_BUNDLE};

  // Each value is checked by the program's rules before anything is written.
  const std::vector<std::pair<std::pair<std::string, std::string>, std::string>> refusals = {
      {{"--name", "Acme/Notes"}, "bundleNameInvalid"},
      {{"--name", ".."}, "bundleNameInvalid"},
      {{"--identifier", "acme notes"}, "bundleIdentifierInvalid"},
      {{"--channel", "beta"}, "bundleChannelUnknown"},
      {{"--subject-prefix", "Acme\r\nBcc: all@example.org"}, "bundleSubjectPrefixInvalid"},
      {{"--tool-directory", "../.ssh"}, "bundleToolDirectoryInvalid"},
      {{"--recipient", "a@acme.example, b@acme.example"}, "bundleRecipientInvalid"},
      {{"--from", made.path().string()}, "bundleExecutableMissing"}};
  for (const auto& [change, code] : refusals) {
    std::vector<std::string> args = acme;
    *(std::find(args.begin(), args.end(), change.first) + 1) = change.second;
    const RunResult refused = run(SUPPORT_DRAFT_HOST_COMMAND, args, env);
    EXPECT_EQ(refused.exitStatus, 3) << describe(refused);
    EXPECT_EQ(nlohmann::json::parse(refused.out)["reasonCode"], code) << refused.out;
  }
  std::vector<std::string> checkOnly = acme;
  checkOnly.push_back("--check-only");
  const RunResult checked = run(SUPPORT_DRAFT_HOST_COMMAND, checkOnly, env);
  EXPECT_EQ(checked.exitStatus, 0) << describe(checked);
  EXPECT_EQ(nlohmann::json::parse(checked.out)["outcome"], "checked");
  EXPECT_TRUE(fs::is_empty(made.path())) << "a check or a refusal wrote something";

  const RunResult madeRun = run(SUPPORT_DRAFT_HOST_COMMAND, acme, env);
  ASSERT_EQ(madeRun.exitStatus, 0) << describe(madeRun);
  const fs::path acmeBundle = made.path() / "Acme Notes.app";
  EXPECT_EQ(nlohmann::json::parse(madeRun.out), (nlohmann::json{{"outcome", "made"}, {"bundle", acmeBundle.string()}}));
  const RunResult twice = run(SUPPORT_DRAFT_HOST_COMMAND, acme, env);
  EXPECT_EQ(nlohmann::json::parse(twice.out)["reasonCode"], "bundleNotMade") << "an existing bundle is kept";
  EXPECT_EQ(std::distance(fs::directory_iterator(made.path()), fs::directory_iterator()), 1)
      << "no temporary directory left behind";

  // The bundle made runs jobs under its own identity, from the command too.
  const fs::path record = writeRecordingComposer();
  Environment withComposer = env;
  withComposer["MAILER"] = composer().string();
  const RunResult opened = run(SUPPORT_DRAFT_HOST_COMMAND,
                               {"--bundle", acmeBundle.string(), "--subject", std::string(kAcmePrefix) + "cmd",
                                "--body", "b"},
                               withComposer);
  EXPECT_EQ(opened.exitStatus, 0) << describe(opened);
  EXPECT_EQ(fs::path(nlohmann::json::parse(opened.out)["jobDirectory"].get<std::string>()).parent_path(),
            home() / ".acme-notes" / "support-drafts");
  EXPECT_EQ(readFile(record).rfind("mailto:" + percentEncoded("help+notes") + "@acme.example?subject=" +
                                       percentEncoded(std::string(kAcmePrefix) + "cmd"),
                                   0),
            0u)
      << readFile(record);
}

TEST_F(HostLibrary, NoResultIsNeverAnEarlierRunsAndIsExplained) {
  const host::PreparedJob job = prepared(request());
  ASSERT_FALSE(job.id.empty());
  const fs::path result = fs::path(job.directory) / "result.json";

  // A bundle of the other channel ignores the job: the earlier answer must
  // not pass for this run's.
  TempDir elsewhere;
  const Bundle prod = makeBundle(elsewhere.path());
  writeInfo(prod, standardInfo("prod"));
  writeResource(prod, kScriptResource, kSucceedingMailScript);
  writeFile(result, "{\"ok\":true}");
  host::RunReport report = host::runJob(prod.root.string(), job, kTimeBound);
  EXPECT_EQ(host::outcomeName(report.outcome), std::string("noResult"));
  EXPECT_NE(report.explanation.find("takes its jobs from .vantrel-devtool, not .vantrel-devtool-dev"),
            std::string::npos)
      << report.explanation;
  EXPECT_FALSE(fs::exists(fs::symlink_status(result)));

  // A job document the host spoiled afterwards is named.
  ASSERT_EQ(::chmod((fs::path(job.directory) / "job.json").c_str(), 0644), 0);
  report = host::runJob(bundle().root.string(), job, kTimeBound);
  EXPECT_EQ(host::outcomeName(report.outcome), std::string("noResult"));
  EXPECT_NE(report.explanation.find(job.directory + "/job.json"), std::string::npos) << report.explanation;
}

TEST_F(HostLibrary, ProgramPastTheTimeBoundIsLeftRunningWithoutAZombie) {
  const fs::path gate = root() / "gate";
  composeBehindGate(gate);
  const host::PreparedJob job = prepared(request());
  ASSERT_FALSE(job.id.empty());
  // The host's standard output is a pipe, as when a host in another
  // language reads the command's output to its end.
  int hostOutput[2];
  ASSERT_EQ(::pipe2(hostOutput, O_CLOEXEC), 0);
  UniqueFd reading(hostOutput[0]);
  const UniqueFd savedOutput(::dup(STDOUT_FILENO));
  ASSERT_TRUE(savedOutput);
  ::dup2(hostOutput[1], STDOUT_FILENO);
  ::close(hostOutput[1]);
  const host::RunReport report = host::runJob(bundle().root.string(), job, std::chrono::milliseconds(0));
  ::dup2(savedOutput.get(), STDOUT_FILENO);
  EXPECT_EQ(host::outcomeName(report.outcome), std::string("timedOut"));
  // Nothing is left for the host to reap, and the program still running
  // holds none of the host's pipes open: the host's reader sees the end.
  EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
  pollfd end{reading.get(), POLLIN, 0};
  ASSERT_EQ(::poll(&end, 1, static_cast<int>(std::chrono::milliseconds(kTimeBound).count())), 1)
      << "the program kept the host's output open";
  char byte;
  EXPECT_EQ(::read(reading.get(), &byte, 1), 0);
  // A host without the run learns of it, and later of its end, from the job.
  EXPECT_EQ(host::collectResult(job).outcome, host::Outcome::running);
  writeFile(gate, "", 0600);
  awaitEndOf(job);
  EXPECT_EQ(host::collectResult(job).outcome, host::Outcome::opened);
}

TEST_F(HostLibrary, StartedRunReturnsAtOnceAndIsCollectedLater) {
  const fs::path gate = root() / "gate";
  composeBehindGate(gate);
  const host::PreparedJob job = prepared(request());
  ASSERT_FALSE(job.id.empty());
  host::Start start = host::startJob(bundle().root.string(), job);
  ASSERT_TRUE(start.run) << start.refusal;
  EXPECT_EQ(host::pollJob(start.run).outcome, host::Outcome::running);
  pollfd ended{start.run.descriptor(), POLLIN, 0};
  EXPECT_EQ(::poll(&ended, 1, 0), 0);
  // A host without the handle knows the job runs as soon as the start has
  // returned; it is neither collected as ended nor pruned.
  host::RunReport collected = host::collectResult(job);
  EXPECT_EQ(collected.outcome, host::Outcome::running) << collected.explanation;
  const timespec threeDaysAgo[2] = {{::time(nullptr) - 3 * 86400, 0}, {::time(nullptr) - 3 * 86400, 0}};
  for (const auto& entry : fs::directory_iterator(job.directory)) {
    ASSERT_EQ(::utimensat(AT_FDCWD, entry.path().c_str(), threeDaysAgo, AT_SYMLINK_NOFOLLOW), 0);
  }
  ASSERT_EQ(::utimensat(AT_FDCWD, job.directory.c_str(), threeDaysAgo, AT_SYMLINK_NOFOLLOW), 0);
  const host::Pruning pruning = host::pruneJobs(place(), std::chrono::hours(48));
  EXPECT_EQ(pruning.removed, 0u) << pruning.refusal;
  EXPECT_TRUE(fs::exists(job.directory));
  writeFile(gate, "", 0600);

  const host::RunReport report = host::waitJob(start.run, kTimeBound);
  EXPECT_EQ(report.outcome, host::Outcome::opened) << report.explanation;
  EXPECT_EQ(host::pollJob(start.run).outcome, host::Outcome::opened);
  awaitEndOf(job);
  EXPECT_EQ(host::collectResult(job).outcome, host::Outcome::opened);
  EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);

  // A bundle that is not there is refused by name before anything runs.
  const host::Start missing = host::startJob((root() / "Nowhere.app").string(), job);
  EXPECT_FALSE(missing.run);
  EXPECT_EQ(host::reasonCode(missing.reason), std::string("bundleMissing")) << missing.refusal;
}

TEST_F(HostLibrary, NegativeWaitLastsUntilTheProgramEnds) {
  const fs::path gate = root() / "gate";
  composeBehindGate(gate);
  const host::PreparedJob job = prepared(request());
  ASSERT_FALSE(job.id.empty());
  host::Start start = host::startJob(bundle().root.string(), job);
  ASSERT_TRUE(start.run) << start.refusal;
  // The gate opens a moment after the wait has begun: a wait that returned
  // at once would find the program still running.
  std::thread opener([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    writeFile(gate, "", 0600);
  });
  const host::RunReport report = host::waitJob(start.run, std::chrono::milliseconds(-1));
  opener.join();
  EXPECT_EQ(report.outcome, host::Outcome::opened) << report.explanation;
}

TEST_F(HostLibrary, ABundleWithoutAWatcherThatTakesTheStartRunsThroughAForkOfTheHost) {
  // No watcher, and one that is not the library's (an older kit's, say):
  // it is asked, refuses, and the run goes as it always went.
  const fs::path watcher = bundle().root / "Contents/MacOS/support-draft-watcher";
  const fs::path asked = root() / "asked";
  for (const bool present : {false, true}) {
    SCOPED_TRACE(present ? "refusing watcher" : "no watcher");
    fs::remove(watcher);
    if (present) writeFile(watcher, "#!/bin/sh\n: > '" + asked.string() + "'\nexit 2\n", 0755);
    const host::PreparedJob job = prepared(request());
    ASSERT_FALSE(job.id.empty());
    const host::RunReport report = host::runJob(bundle().root.string(), job, kTimeBound);
    EXPECT_EQ(report.outcome, host::Outcome::opened) << report.explanation;
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
    EXPECT_EQ(fs::exists(asked), present);
  }
}

// ---------------------------------------------------------------------------
// Cancelling, and one run at a time

// Waits until `path` exists: a condition the test's own programs set, with
// the time bound of a run as the limit of a machine that is merely slow.
bool appears(const fs::path& path) {
  const auto limit = std::chrono::steady_clock::now() + kTimeBound;
  while (!fs::exists(fs::symlink_status(path))) {
    if (std::chrono::steady_clock::now() > limit) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

TEST_F(HostLibrary, CancelEndsTheProgramButNotTheClientShowingTheDraft) {
  // The composer runs in a session of its own, as a mail client does: it
  // says it has started, then waits for the gate and shows the draft.
  const fs::path started = root() / "started", gate = root() / "gate", shown = root() / "shown";
  writeResource(bundle(), kScriptResource,
                "on makeSupportDraft(subjectText, bodyText, logPath)\n"
                "\trun program {\"/bin/sh\", \"-c\", \": > \\\"$0\\\"; until [ -e \\\"$1\\\" ]; do sleep 0.01; done; "
                ": > \\\"$2\\\"\", \"" + started.string() + "\", \"" + gate.string() + "\", \"" + shown.string() +
                    "\"}\n"
                    "\treturn \"draft_opened\"\n"
                    "end makeSupportDraft\n");
  const host::PreparedJob job = prepared(request());
  ASSERT_FALSE(job.id.empty());
  host::Start start = host::startJob(bundle().root.string(), job);
  ASSERT_TRUE(start.run) << start.refusal;
  ASSERT_TRUE(appears(started)) << "the composer never started";

  const host::RunReport cancelled = host::cancelJob(start.run);
  EXPECT_EQ(cancelled.outcome, host::Outcome::cancelled) << cancelled.explanation;
  // Ended, and said so again; the job's lock is gone with its watcher.
  EXPECT_EQ(host::pollJob(start.run).outcome, host::Outcome::cancelled);
  EXPECT_EQ(host::cancelJob(start.run).outcome, host::Outcome::cancelled);
  awaitEndOf(job);
  EXPECT_FALSE(fs::exists(fs::path(job.directory) / "result.json"));
  EXPECT_EQ(host::collectResult(job).outcome, host::Outcome::noResult);
  EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
  // The client it had handed the draft to goes on.
  writeFile(gate, "", 0600);
  EXPECT_TRUE(appears(shown)) << "the client was ended with the program";
}

TEST_F(HostLibrary, CancelAfterTheResultWasWrittenGivesThatResult) {
  // A program that writes its answer and then waits: cancelled then, the
  // answer stands. The bundle's program is replaced, never written through.
  const fs::path written = root() / "written", gate = root() / "gate";
  fs::remove(bundle().executable);
  writeFile(bundle().executable,
            "#!/bin/sh\numask 077\nprintf '{\"ok\":true}' > \"$HOME/" + std::string(kDevToolDir) +
                "/support-drafts/$2/result.json\"\n: > '" + written.string() + "'\nuntil [ -e '" + gate.string() +
                "' ]; do sleep 0.01; done\n",
            0755);
  const host::PreparedJob job = prepared(request());
  ASSERT_FALSE(job.id.empty());
  host::Start start = host::startJob(bundle().root.string(), job);
  ASSERT_TRUE(start.run) << start.refusal;
  ASSERT_TRUE(appears(written));
  const host::RunReport late = host::cancelJob(start.run);
  EXPECT_EQ(late.outcome, host::Outcome::opened) << late.explanation;

  // And after the program has ended by itself, too.
  writeFile(gate, "", 0600);
  host::Start again = host::startJob(bundle().root.string(), job);
  ASSERT_TRUE(again.run) << again.refusal;
  awaitEndOf(job);
  EXPECT_EQ(host::cancelJob(again.run).outcome, host::Outcome::opened);
}

TEST_F(HostLibrary, OneAtATimeIsRefusedWhileAnotherJobOfTheBundleRunsAndFreeAfter) {
  const fs::path gate = root() / "gate";
  composeBehindGate(gate);
  const host::PreparedJob first = prepared(request("first"));
  const host::PreparedJob second = prepared(request("second"));
  ASSERT_FALSE(first.id.empty());
  ASSERT_FALSE(second.id.empty());
  host::Start running = host::startJob(bundle().root.string(), first, {true});
  ASSERT_TRUE(running.run) << running.refusal;

  // Refused, whichever job and however often; a refusal changes nothing.
  writeFile(fs::path(second.directory) / "result.json", "{\"ok\":false}");
  const Snapshot before = takeSnapshot(root());
  for (const host::PreparedJob* job : {&second, &first}) {
    const host::Start refused = host::startJob(bundle().root.string(), *job, {true});
    EXPECT_FALSE(refused.run);
    EXPECT_EQ(host::reasonCode(refused.reason), std::string("jobRunning")) << refused.refusal;
    EXPECT_NE(refused.refusal.find(draftsDir().string()), std::string::npos) << refused.refusal;
  }
  EXPECT_EQ(formatChanges(compareSnapshots(before, takeSnapshot(root()))), "");
  // A start that does not ask for it is not held back.
  host::Start beside = host::startJob(bundle().root.string(), second);
  ASSERT_TRUE(beside.run) << beside.refusal;
  writeFile(gate, "", 0600);
  EXPECT_EQ(host::waitJob(beside.run, kTimeBound).outcome, host::Outcome::opened);
  EXPECT_EQ(host::waitJob(running.run, kTimeBound).outcome, host::Outcome::opened);

  // Once the programs have ended (their watchers' locks are gone), the
  // next one-at-a-time start goes ahead.
  awaitEndOf(first);
  awaitEndOf(second);
  host::Start next = host::startJob(bundle().root.string(), second, {true});
  ASSERT_TRUE(next.run) << next.refusal;
  EXPECT_EQ(host::waitJob(next.run, kTimeBound).outcome, host::Outcome::opened);
}

TEST_F(HostLibrary, CommandCancelsOnSigtermAndRefusesASecondRunOneAtATime) {
  const Environment env = minimalEnvironment(home());
  const fs::path started = root() / "started", gate = root() / "gate";
  writeResource(bundle(), kScriptResource,
                "on makeSupportDraft(subjectText, bodyText, logPath)\n"
                "\trun program {\"/bin/sh\", \"-c\", \": > \\\"$0\\\"; until [ -e \\\"$1\\\" ]; do sleep 0.01; done\", \"" +
                    started.string() + "\", \"" + gate.string() +
                    "\"}\n"
                    "\treturn \"draft_opened\"\n"
                    "end makeSupportDraft\n");
  // A shell plays the user: it starts the command, waits until the draft is
  // being made, tries a second one-at-a-time run, then ends the first with
  // SIGTERM.
  const std::string command = std::string(SUPPORT_DRAFT_HOST_COMMAND) + " --bundle '" + bundle().root.string() +
                              "' --subject '" + std::string(kPrefix) + "x' --body b --one-at-a-time --remove";
  const RunResult ran =
      run("/bin/sh",
          {"-c", command + " & first=$!; until [ -e '" + started.string() + "' ]; do sleep 0.01; done; " + command +
                     "; echo second=$?; kill -TERM $first; wait $first; echo first=$?"},
          env);
  writeFile(gate, "", 0600);
  ASSERT_EQ(ran.exitStatus, 0) << describe(ran);
  std::vector<nlohmann::json> lines;
  std::istringstream out(ran.out);
  for (std::string line; std::getline(out, line);) {
    if (!line.empty() && line[0] == '{') lines.push_back(nlohmann::json::parse(line));
  }
  ASSERT_EQ(lines.size(), 2u) << ran.out;
  EXPECT_EQ(lines[0]["outcome"], "refused") << ran.out;
  EXPECT_EQ(lines[0]["reasonCode"], "jobRunning") << ran.out;
  EXPECT_NE(ran.out.find("second=3"), std::string::npos) << ran.out;
  EXPECT_EQ(lines[1]["outcome"], "cancelled") << ran.out;
  EXPECT_EQ(lines[1]["removed"], true) << ran.out;
  EXPECT_NE(ran.out.find("first=8"), std::string::npos) << ran.out;
  // Neither job is left: the refused one was never run, the cancelled one removed.
  EXPECT_TRUE(fs::is_empty(draftsDir()));
}

// ---------------------------------------------------------------------------
// Pruning

TEST(HostPruning, OnlyOldJobDirectoriesOfTheKitThatNoProgramRunsForArePruned) {
  using host::host_side::JobDirectoryFacts;
  using host::host_side::mayPrune;
  const std::string id(kJobId);
  const std::time_t now = 1'000'000;
  const long age = 86400;
  const JobDirectoryFacts old{id, true, 1000, 0700, true, now - age - 1, false};
  EXPECT_TRUE(mayPrune(old, 1000, now, age));

  auto changed = [&](auto change) {
    JobDirectoryFacts facts = old;
    change(facts);
    return mayPrune(facts, 1000, now, age);
  };
  EXPECT_FALSE(changed([](JobDirectoryFacts& f) { f.newest = 1'000'000 - 86400; }));  // exactly the age
  EXPECT_FALSE(changed([](JobDirectoryFacts& f) { f.newest = 2'000'000; }));          // a clock set back
  EXPECT_FALSE(changed([](JobDirectoryFacts& f) { f.name = "notes"; }));
  EXPECT_FALSE(changed([](JobDirectoryFacts& f) { f.directory = false; }));  // a link, a file
  EXPECT_FALSE(changed([](JobDirectoryFacts& f) { f.owner = 0; }));
  EXPECT_FALSE(changed([](JobDirectoryFacts& f) { f.permissions = 0755; }));
  EXPECT_FALSE(changed([](JobDirectoryFacts& f) { f.onlyJobFiles = false; }));
  EXPECT_FALSE(changed([](JobDirectoryFacts& f) { f.running = true; }));
}

TEST_F(HostLibrary, PruneRemovesOnlyOldFinishedJobsAndNeverThroughALink) {
  const auto ageTree = [](const fs::path& directory) {
    const timespec threeDaysAgo[2] = {{::time(nullptr) - 3 * 86400, 0}, {::time(nullptr) - 3 * 86400, 0}};
    for (const auto& entry : fs::directory_iterator(directory)) {
      ASSERT_EQ(::utimensat(AT_FDCWD, entry.path().c_str(), threeDaysAgo, AT_SYMLINK_NOFOLLOW), 0);
    }
    ASSERT_EQ(::utimensat(AT_FDCWD, directory.c_str(), threeDaysAgo, AT_SYMLINK_NOFOLLOW), 0);
  };
  const host::PreparedJob old = prepared(request("old", "b", std::string("log\n")));
  const host::PreparedJob recent = prepared(request("recent"));
  const host::PreparedJob annotated = prepared(request("annotated"));
  ASSERT_FALSE(old.id.empty() || recent.id.empty() || annotated.id.empty());
  writeFile(fs::path(annotated.directory) / "notes", "the host's own", 0600);
  ageTree(old.directory);
  ageTree(annotated.directory);
  // An old job directory elsewhere, reached through a link with a job id's name.
  makeDirectory(root() / "elsewhere", 0700);
  writeFile(root() / "elsewhere" / "job.json", "{}", 0600);
  ageTree(root() / "elsewhere");
  makeSymlink(root() / "elsewhere", draftsDir() / std::string(kJobId));

  const host::Pruning pruning = host::pruneJobs(place(), std::chrono::hours(48));
  EXPECT_EQ(pruning.reason, SUPPORT_DRAFT_REASON_NONE) << pruning.refusal;
  EXPECT_EQ(pruning.removed, 1u);
  EXPECT_FALSE(fs::exists(fs::symlink_status(old.directory)));
  EXPECT_TRUE(fs::exists(fs::path(recent.directory) / "job.json"));
  EXPECT_TRUE(fs::exists(fs::path(annotated.directory) / "notes"));
  EXPECT_TRUE(fs::exists(root() / "elsewhere" / "job.json"));

  // A place where no job was ever prepared has nothing to prune.
  makeDirectory(root() / "fresh", 0700);
  const host::Pruning none = host::pruneJobs({host::Channel::dev, (root() / "fresh").string()}, std::chrono::hours(0));
  EXPECT_EQ(none.reason, SUPPORT_DRAFT_REASON_NONE) << none.refusal;
  EXPECT_EQ(none.removed, 0u);
}

TEST_F(HostLibrary, RemoveLeavesAForeignOrOpenDirectoryOrOneHoldingADirectoryWhole) {
  const host::PreparedJob withSubdirectory = prepared(request("subdirectory", "b", std::string("log\n")));
  const host::PreparedJob opened = prepared(request("mode", "b", std::string("log\n")));
  const host::PreparedJob withFifo = prepared(request("fifo"));
  ASSERT_FALSE(withSubdirectory.id.empty() || opened.id.empty() || withFifo.id.empty());
  makeDirectory(fs::path(withSubdirectory.directory) / "result.json", 0700);
  ASSERT_EQ(::chmod(opened.directory.c_str(), 0755), 0);
  ASSERT_EQ(::mkfifo((fs::path(withFifo.directory) / "log.txt").c_str(), 0600), 0);

  // Not one file is taken from a directory that cannot be removed whole.
  for (const host::PreparedJob* job : {&withSubdirectory, &opened}) {
    EXPECT_FALSE(host::removeJob(*job)) << job->directory;
    EXPECT_TRUE(fs::exists(fs::path(job->directory) / "job.json")) << job->directory;
    EXPECT_TRUE(fs::exists(fs::path(job->directory) / "log.txt")) << job->directory;
  }
  // A FIFO inside is unlinked like any file, never opened.
  EXPECT_TRUE(host::removeJob(withFifo));
  EXPECT_FALSE(fs::exists(fs::symlink_status(withFifo.directory)));

  // Another user's directory, which only root could empty.
  if (::geteuid() == 0) {
    const host::PreparedJob foreign = prepared(request("foreign"));
    ASSERT_EQ(::chown(foreign.directory.c_str(), 65534, 65534), 0);
    EXPECT_FALSE(host::removeJob(foreign));
    EXPECT_TRUE(fs::exists(fs::path(foreign.directory) / "job.json"));
  }
}

TEST_F(HostLibrary, AHostOutOfDescriptorsIsRefusedWithoutAJobLeftBehind) {
  // The drafts directory is there, so each try gets as far as its own job
  // directory before the descriptors run out.
  const host::PreparedJob first = prepared(request("first"));
  ASSERT_FALSE(first.id.empty());
  ASSERT_TRUE(host::removeJob(first));

  bool notWritten = false;
  for (rlim_t limit = 4; limit <= 12; ++limit) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      // Only the standard streams stay open: the limit is what is left.
      ::close_range(3, ~0U, 0);
      const rlimit tight{limit, limit};
      if (::setrlimit(RLIMIT_NOFILE, &tight) != 0) ::_exit(3);
      const host::Preparation preparation = host::prepareJob(place(), request("tight"));
      ::_exit(preparation.job ? 0 : preparation.reason == SUPPORT_DRAFT_REASON_JOB_NOT_WRITTEN ? 2 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "limit " << limit;
    ASSERT_NE(WEXITSTATUS(status), 3);
    notWritten = notWritten || WEXITSTATUS(status) == 2;
    std::vector<fs::path> left;
    for (const auto& entry : fs::directory_iterator(draftsDir())) left.push_back(entry.path());
    if (WEXITSTATUS(status) == 0) {
      ASSERT_EQ(left.size(), 1u);
      fs::remove_all(left.front());
    } else {
      EXPECT_TRUE(left.empty()) << "limit " << limit << ": " << left.front();
      for (const fs::path& path : left) fs::remove_all(path);
    }
  }
  EXPECT_TRUE(notWritten) << "no limit stopped a job half made";
}

// ---------------------------------------------------------------------------
// The command

TEST_F(HostLibrary, CommandPrintsOneJsonLineAndExitStatus) {
  const Environment env = minimalEnvironment(home());
  const std::vector<std::string> base = {"--bundle", bundle().root.string(), "--subject", std::string(kPrefix) + "cmd"};

  RunResult usage = run(SUPPORT_DRAFT_HOST_COMMAND, {"--bundle", bundle().root.string(), "--body", "b"}, env);
  EXPECT_EQ(usage.exitStatus, 2) << describe(usage);
  EXPECT_EQ(usage.out, "");
  EXPECT_NE(usage.err.find("usage:"), std::string::npos) << usage.err;

  std::vector<std::string> args = base;
  args.insert(args.end(), {"--body", std::string(8193, 'b')});
  RunResult refused = run(SUPPORT_DRAFT_HOST_COMMAND, args, env);
  EXPECT_EQ(refused.exitStatus, 3) << describe(refused);
  EXPECT_EQ(nlohmann::json::parse(refused.out),
            (nlohmann::json{{"outcome", "refused"},
                            {"reason", "the body is too long: at most 8192 bytes of UTF-8"},
                            {"reasonCode", "bodyTooLong"}}));

  args = base;
  args.insert(args.end(), {"--body", "b"});
  RunResult opened = run(SUPPORT_DRAFT_HOST_COMMAND, args, env);
  EXPECT_EQ(opened.exitStatus, 0) << describe(opened);
  ASSERT_EQ(std::count(opened.out.begin(), opened.out.end(), '\n'), 1) << opened.out;
  const auto line = nlohmann::json::parse(opened.out);
  EXPECT_EQ(line["outcome"], "opened");
  EXPECT_EQ(line["jobDirectory"], (draftsDir() / line["jobId"].get<std::string>()).string());
  EXPECT_TRUE(fs::exists(fs::path(line["jobDirectory"].get<std::string>()) / "result.json"));
}

TEST_F(HostLibrary, CommandExitStatusTellsEachOutcome) {
  const Environment env = minimalEnvironment(home());
  const std::vector<std::string> job = {"--bundle", bundle().root.string(), "--subject", std::string(kPrefix) + "st",
                                        "--body", "b"};
  struct Case {
    std::string handler;  // the mail script's handler body
    std::string outcome;
    int status;
  };
  const std::vector<Case> cases = {
      {"\treturn \"draft_opened\"\n", "opened", 0},
      {"\treturn \"something else\"\n", "failed", 1},
      {"\terror number -1743\n", "permissionDenied", 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.outcome);
    writeResource(bundle(), kScriptResource,
                  "on makeSupportDraft(subjectText, bodyText, logPath)\n" + c.handler + "end makeSupportDraft\n");
    const RunResult ran = run(SUPPORT_DRAFT_HOST_COMMAND, job, env);
    EXPECT_EQ(ran.exitStatus, c.status) << describe(ran);
    EXPECT_EQ(nlohmann::json::parse(ran.out)["outcome"], c.outcome) << ran.out;
  }

  // Past the time bound, then running while collected, then opened.
  const fs::path gate = root() / "gate";
  composeBehindGate(gate);
  // Asked to remove it meanwhile, the command says it stays.
  std::vector<std::string> bounded = job;
  bounded.insert(bounded.end(), {"--time-bound", "1", "--remove"});
  const RunResult timedOut = run(SUPPORT_DRAFT_HOST_COMMAND, bounded, env);
  EXPECT_EQ(timedOut.exitStatus, 6) << describe(timedOut);
  const auto line = nlohmann::json::parse(timedOut.out);
  ASSERT_EQ(line["outcome"], "timedOut") << timedOut.out;
  EXPECT_EQ(line["removed"], false) << timedOut.out;
  const std::string directory = line["jobDirectory"];
  const RunResult running = run(SUPPORT_DRAFT_HOST_COMMAND, {"--result", directory, "--remove"}, env);
  EXPECT_EQ(running.exitStatus, 7) << describe(running);
  EXPECT_EQ(nlohmann::json::parse(running.out)["removed"], false) << running.out;
  EXPECT_TRUE(fs::exists(fs::path(directory) / "job.json"));
  writeFile(gate, "", 0600);
  awaitEndOf(host::PreparedJob{line["jobId"], directory, place()});
  const RunResult collected = run(SUPPORT_DRAFT_HOST_COMMAND, {"--result", directory, "--remove"}, env);
  EXPECT_EQ(collected.exitStatus, 0) << describe(collected);
  EXPECT_EQ(nlohmann::json::parse(collected.out)["removed"], true) << collected.out;
  EXPECT_FALSE(fs::exists(directory));

  // A program that ends without a word. The bundle's program may be a hard
  // link to the built one: it is replaced, never written through.
  fs::remove(bundle().executable);
  writeFile(bundle().executable, "#!/bin/sh\nexit 0\n", 0755);
  const RunResult silent = run(SUPPORT_DRAFT_HOST_COMMAND, job, env);
  EXPECT_EQ(silent.exitStatus, 5) << describe(silent);
  EXPECT_EQ(nlohmann::json::parse(silent.out)["outcome"], "noResult") << silent.out;
}

// The route a job would take, asked of the command before any job, and
// the log that failed a job, told after it: a default mail client not known
// to take attachments opens drafts without a log only, and MAILER's
// composer takes one. The result document stays the program's own.
TEST_F(HostLibrary, CommandSaysWhichRouteAJobTakesAndWhetherItCarriesTheLog) {
  Environment env = minimalEnvironment(home());
  // The machine's own handlers stay out of it.
  makeDirectory(root() / "share", 0755);
  env["XDG_DATA_DIRS"] = (root() / "share").string();
  env["XDG_CONFIG_DIRS"] = (root() / "share").string();
  const auto route = [&](bool withLog) {
    std::vector<std::string> args = {"--bundle", bundle().root.string(), "--route"};
    if (withLog) args.push_back("--log");
    const RunResult asked = run(SUPPORT_DRAFT_HOST_COMMAND, args, env);
    EXPECT_EQ(asked.err, "");
    EXPECT_EQ(std::count(asked.out.begin(), asked.out.end(), '\n'), 1) << asked.out;
    return std::pair{asked.exitStatus, nlohmann::json::parse(asked.out)};
  };

  auto [status, answer] = route(true);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(answer["route"], "none") << answer;
  EXPECT_EQ(answer["log"], "noRoute") << answer;
  EXPECT_EQ(answer["withLog"], true) << answer;
  EXPECT_FALSE(answer["reason"].get<std::string>().empty());

  // A handler of the user's that the kit knows nothing of: it would be
  // handed a mailto: URI, which carries no log it is known to take.
  const fs::path opener = root() / "webmail";
  writeFile(opener, "#!/bin/sh\nprintf '%s' \"$1\" > '" + (root() / "opened").string() + "'\n", 0755);
  makeDirectory(home() / ".local", 0700);
  makeDirectory(home() / ".local" / "share", 0700);
  makeDirectory(home() / ".local" / "share" / "applications", 0700);
  writeFile(home() / ".local" / "share" / "applications" / "org.example.WebMail.desktop",
            "[Desktop Entry]\nType=Application\nName=Web mail\nExec=" + opener.string() + " %u\n", 0644);
  makeDirectory(home() / ".config", 0700);
  writeFile(home() / ".config" / "mimeapps.list",
            "[Default Applications]\nx-scheme-handler/mailto=org.example.WebMail.desktop\n", 0644);
  std::tie(status, answer) = route(false);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(answer, (nlohmann::json{{"route", "defaultClient"},
                                    {"withLog", false},
                                    {"log", "notCarried"},
                                    {"assurance", "startOnly"},
                                    {"handler", "org.example.WebMail.desktop"}}));
  std::tie(status, answer) = route(true);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(answer["route"], "none") << answer;
  EXPECT_EQ(answer["log"], "notCarried") << answer;

  // The job with a log fails for it, and the line says so.
  copyBuiltResource(bundle(), kScriptResource);
  writeFile(root() / "app.log", "line\n", 0600);
  const RunResult failed = run(SUPPORT_DRAFT_HOST_COMMAND,
                               {"--bundle", bundle().root.string(), "--subject", std::string(kPrefix) + "route",
                                "--body", "b", "--log", (root() / "app.log").string()},
                               env);
  EXPECT_EQ(failed.exitStatus, 1) << describe(failed);
  const auto line = nlohmann::json::parse(failed.out);
  EXPECT_EQ(line["outcome"], "failed") << failed.out;
  EXPECT_EQ(line["log"], "notCarried") << failed.out;
  const auto result = readFileIfPresent(fs::path(line["jobDirectory"].get<std::string>()) / "result.json");
  ASSERT_TRUE(result);
  EXPECT_EQ(nlohmann::json::parse(*result), (nlohmann::json{{"ok", false}, {"code", "DRAFT_FAILED"}})) << *result;
  EXPECT_FALSE(fs::exists(root() / "opened")) << "the handler was started";

  // MAILER's composer is the user's own: it is handed the log.
  env["MAILER"] = opener.string();
  std::tie(status, answer) = route(true);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(answer["route"], "mailer") << answer;
  EXPECT_EQ(answer["log"], "carried") << answer;
  EXPECT_FALSE(answer.contains("handler")) << answer;

  // --log takes no file here, and the route goes with no job's options.
  const RunResult usage = run(SUPPORT_DRAFT_HOST_COMMAND,
                              {"--bundle", bundle().root.string(), "--route", "--log", "app.log"}, env);
  EXPECT_EQ(usage.exitStatus, 2) << describe(usage);
  EXPECT_EQ(usage.out, "");
}

TEST_F(HostLibrary, CommandTakesStandardInputLogTailsAndCollectsLater) {
  const Environment env = minimalEnvironment(home());
  for (const std::string option : {"--help", "--version"}) {
    const RunResult asked = run(SUPPORT_DRAFT_HOST_COMMAND, {option}, env);
    EXPECT_EQ(asked.exitStatus, 0) << describe(asked);
    EXPECT_NE(asked.out.find("support-draft-host"), std::string::npos) << asked.out;
    EXPECT_EQ(asked.err, "");
  }

  // The body from standard input, the newest lines of a log over the limit.
  std::string log;
  for (int line = 0; line < 3000; ++line) log += "line " + std::to_string(10000 + line) + "\n";
  writeFile(root() / "app.log", log, 0600);
  const std::string command = std::string("printf 'from stdin' | '") + SUPPORT_DRAFT_HOST_COMMAND + "' --bundle '" +
                              bundle().root.string() + "' --subject '" + std::string(kPrefix) +
                              "piped' --body-file - --log-tail '" + (root() / "app.log").string() + "'";
  const RunResult piped = run("/bin/sh", {"-c", command}, env);
  EXPECT_EQ(piped.exitStatus, 0) << describe(piped);
  const auto line = nlohmann::json::parse(piped.out);
  ASSERT_EQ(line["outcome"], "opened") << piped.out;
  const fs::path directory = line["jobDirectory"].get<std::string>();
  EXPECT_EQ(nlohmann::json::parse(readFile(directory / "job.json"))["body"], "from stdin");
  const std::string kept = readFile(directory / "log.txt");
  EXPECT_LE(kept.size(), 24576u);
  EXPECT_GT(kept.size(), 24576u - 11);  // whole lines of 11 bytes
  EXPECT_EQ(log.substr(log.size() - kept.size()), kept);
  EXPECT_EQ(kept.substr(0, 5), "line ");

  // A pipe named by path reads as standard input does, within the same
  // limit; a regular file named so keeps its checks.
  const std::string start = std::string("'") + SUPPORT_DRAFT_HOST_COMMAND + "' --bundle '" + bundle().root.string() +
                            "' --subject '" + std::string(kPrefix) + "named' --body-file ";
  writeFile(root() / "body.txt", "from a file", 0600);
  const std::vector<std::pair<std::string, std::string>> named = {
      {"printf 'from dev stdin' | " + start + "/dev/stdin", "from dev stdin"},
      {start + "<(printf 'from a substitution')", "from a substitution"},
      {start + "/dev/stdin < '" + (root() / "body.txt").string() + "'", "from a file"},
  };
  for (const auto& [shell, body] : named) {
    const RunResult ran = run("/bin/bash", {"-c", shell}, env);
    EXPECT_EQ(ran.exitStatus, 0) << shell << "\n" << describe(ran);
    const auto answer = nlohmann::json::parse(ran.out);
    ASSERT_EQ(answer["outcome"], "opened") << ran.out;
    EXPECT_EQ(nlohmann::json::parse(readFile(fs::path(answer["jobDirectory"].get<std::string>()) / "job.json"))["body"],
              body);
  }
  const RunResult tooMuch = run("/bin/bash", {"-c", "head -c 1048577 /dev/zero | " + start + "/dev/stdin"}, env);
  EXPECT_EQ(nlohmann::json::parse(tooMuch.out)["reasonCode"], "bodyFileUnreadable") << describe(tooMuch);
  const RunResult device = run("/bin/bash", {"-c", start + "/dev/null"}, env);
  EXPECT_EQ(nlohmann::json::parse(device.out)["reasonCode"], "bodyFileUnreadable") << describe(device);

  // Read again by directory, then removed.
  const RunResult collected = run(SUPPORT_DRAFT_HOST_COMMAND, {"--result", directory.string(), "--remove"}, env);
  EXPECT_EQ(collected.exitStatus, 0) << describe(collected);
  const auto again = nlohmann::json::parse(collected.out);
  EXPECT_EQ(again["outcome"], "opened");
  EXPECT_EQ(again["jobId"], line["jobId"]);
  EXPECT_EQ(again["removed"], true);
  EXPECT_FALSE(fs::exists(directory));

  // Refusals name the wrong input with a code.
  const std::vector<std::pair<std::vector<std::string>, std::string>> refusals = {
      {{"--result", (root() / "not-a-job").string()}, "notAJobDirectory"},
      {{"--bundle", (root() / "Nowhere.app").string(), "--subject", std::string(kPrefix), "--body", "b"},
       "bundleMissing"},
      {{"--bundle", bundle().root.string(), "--subject", std::string(kPrefix), "--body", "b", "--log",
        root().string()},
       "logIsDirectory"},
      {{"--bundle", bundle().root.string(), "--subject", std::string(kPrefix), "--body", "b", "--log",
        (root() / "app.log").string()},
       "logTooLarge"},
  };
  for (const auto& [args, code] : refusals) {
    const RunResult refused = run(SUPPORT_DRAFT_HOST_COMMAND, args, env);
    EXPECT_EQ(refused.exitStatus, 3) << describe(refused);
    const auto answer = nlohmann::json::parse(refused.out);
    EXPECT_EQ(answer["outcome"], "refused");
    EXPECT_EQ(answer["reasonCode"], code) << refused.out;
  }
}

}  // namespace
