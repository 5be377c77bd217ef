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
  std::string bundlePath() const { return bundle().root.string(); }
  Environment env() const { return minimalEnvironment(home()); }

  static host::DraftRequest request(std::string subjectRest = "Export stops", std::string body = "Hello",
                                    std::optional<std::string> log = std::nullopt) {
    return {std::string(kPrefix) + subjectRest, std::move(body), std::move(log)};
  }

  void expectUnchangedSince(const Snapshot& before) const {
    EXPECT_EQ(formatChanges(compareSnapshots(before, takeSnapshot(root()))), "");
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
    expectUnchangedSince(before);
  }

  // A prepared job, or a started run; a refusal fails the test.
  host::PreparedJob prepared(const host::DraftRequest& draft = request()) const {
    const host::Preparation preparation = host::prepareJob(place(), draft);
    if (!preparation.job) throw std::runtime_error("refused: " + preparation.refusal);
    return *preparation.job;
  }
  host::Run started(const host::PreparedJob& job, host::StartOptions options = {}) const {
    host::Start start = host::startJob(bundlePath(), job, options);
    if (!start.run) throw std::runtime_error("not started: " + start.refusal);
    return std::move(start.run);
  }

  void writeHandler(const std::string& lines) {
    writeResource(bundle(), kScriptResource,
                  "on makeSupportDraft(subjectText, bodyText, logPath)\n" + lines + "end makeSupportDraft\n");
  }

  // Shell lines that wait until the test opens the gate: until then the
  // program cannot have ended, however slow the machine. A test that fails
  // before opening it leaves no loop behind: the wait ends as well once the
  // test's directory is gone, or after some ten minutes.
  fs::path gate() const { return root() / "gate"; }
  void openGate() const { writeFile(gate(), "", 0600); }
  std::string awaitGate() const {
    return "i=0; until [ -e '" + gate().string() + "' ]; do [ -d '" + root().string() +
           "' ] && [ $i -lt 60000 ] || exit 1; i=$((i + 1)); sleep 0.01; done\n";
  }

  // A mail script whose composer runs the shell lines `before`, waits for
  // the gate, runs `after`, and is said to have opened the draft.
  void composeBehindGate(const std::string& before = "", const std::string& after = "") {
    const fs::path gated = root() / "gated-composer";
    writeFile(gated, "#!/bin/sh\n" + before + awaitGate() + after, 0755);
    writeHandler("\trun program {\"" + gated.string() + "\"}\n\treturn \"draft_opened\"\n");
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

  static void expectNoChildLeft() {
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
  }

  // Sets the times of a directory and of the entries in it three days back.
  static void backdate(const fs::path& directory) {
    const std::time_t then = ::time(nullptr) - 3 * 86400;
    const timespec times[2] = {{then, 0}, {then, 0}};
    for (const auto& entry : fs::directory_iterator(directory)) {
      ASSERT_EQ(::utimensat(AT_FDCWD, entry.path().c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
    }
    ASSERT_EQ(::utimensat(AT_FDCWD, directory.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
  }

  // The command's options for a job of the fixture's bundle.
  std::vector<std::string> jobArgs(const std::string& subjectRest, const std::string& body = "b",
                                   const std::vector<std::string>& more = {}) const {
    std::vector<std::string> args = {"--bundle", bundlePath(), "--subject", std::string(kPrefix) + subjectRest,
                                     "--body", body};
    args.insert(args.end(), more.begin(), more.end());
    return args;
  }

  // What the command printed, expected as one line of JSON and with the
  // exit status `status`; null when it is not JSON.
  static nlohmann::json lineOf(const RunResult& ran, int status) {
    EXPECT_EQ(ran.exitStatus, status) << describe(ran);
    EXPECT_EQ(std::count(ran.out.begin(), ran.out.end(), '\n'), 1) << describe(ran);
    const nlohmann::json line = nlohmann::json::parse(ran.out, nullptr, false);
    return line.is_discarded() ? nullptr : line;
  }
  nlohmann::json command(const std::vector<std::string>& args, int status) const {
    return lineOf(run(SUPPORT_DRAFT_HOST_COMMAND, args, env()), status);
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

TEST_F(HostLibrary, DirectoryWritableByOthersOrOfAnotherUserIsRefused) {
  makeDirectory(toolDir(), 0700);
  makeDirectory(draftsDir(), 0770);
  expectRefused(request(), "directoryWritableByOthers", draftsDir().string());

  ASSERT_EQ(::chmod(draftsDir().c_str(), 0700), 0);
  ASSERT_EQ(::chmod(home().c_str(), 0703), 0);
  expectRefused(request(), "directoryWritableByOthers", home().string());

  ASSERT_EQ(::chmod(home().c_str(), 0700), 0);
  if (::geteuid() == 0) {  // giving a directory to another user needs root
    ASSERT_EQ(::chown(toolDir().c_str(), kUnprivilegedUid, kUnprivilegedGid), 0);
    expectRefused(request(), "directoryNotOwned", toolDir().string());
  }
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
  const host::Preparation preparation = host::prepareJob(place(), {subject, "body", log});
  ::umask(hostMask);
  ASSERT_TRUE(preparation.job) << preparation.refusal;
  const host::PreparedJob& job = *preparation.job;
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
// Running the program. An application's own bundle: its identity, read from
// its Info.plist as the program reads it, decides where jobs go, what their
// subjects begin with and to whom they are addressed.

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

constexpr std::string_view kAcmePrefix = "[Acme Notes] Support: ";
constexpr std::string_view kAcmeRecipient = "help+notes@acme.example";

PlistDict acmeInfo() {
  PlistDict keys = standardInfo("prod");
  keys.emplace_back("SupportDraftSubjectPrefix", plistString(kAcmePrefix));
  keys.emplace_back("SupportDraftToolDirectory", plistString(".acme-notes"));
  keys.emplace_back("SupportDraftRecipient", plistString(kAcmeRecipient));
  return keys;
}

// The job runs through the built program and stays until the host removes
// it: the mail client may still read the log.
TEST_F(HostLibrary, AnOwnBundlesJobOpensItsDraftThroughTheBuiltProgram) {
  writeInfo(bundle(), acmeInfo());
  copyBuiltResource(bundle(), kScriptResource);
  const fs::path record = writeRecordingComposer();
  const EnvironmentVariable mailer("MAILER", composer().string());

  EXPECT_EQ(host::bundleSubjectPrefix(bundlePath()).prefix, std::string(kAcmePrefix));
  // The default prefix is the wrong one for this bundle, and the sentence
  // names the right one.
  const Snapshot before = takeSnapshot(root());
  const host::Preparation wrong = host::prepareBundleJob(bundlePath(), home().string(), request());
  EXPECT_FALSE(wrong.job);
  EXPECT_EQ(host::reasonCode(wrong.reason), std::string("subjectPrefix"));
  EXPECT_NE(wrong.refusal.find(std::string(kAcmePrefix)), std::string::npos) << wrong.refusal;
  expectUnchangedSince(before);

  const host::Preparation preparation = host::prepareBundleJob(
      bundlePath(), home().string(), {std::string(kAcmePrefix) + "host", "Hello", std::string("log line\n")});
  ASSERT_TRUE(preparation.job) << preparation.refusal;
  const host::PreparedJob& job = *preparation.job;
  const fs::path drafts = home() / ".acme-notes" / "support-drafts";
  EXPECT_EQ(fs::path(job.directory).parent_path(), drafts);
  EXPECT_FALSE(fs::exists(toolDir())) << "nothing in the channel's default tool directory";

  const host::RunReport report = host::runJob(bundlePath(), job, kTimeBound);
  EXPECT_EQ(host::outcomeName(report.outcome), std::string("opened")) << report.explanation;
  EXPECT_EQ(report.explanation, "");
  const std::string received = readFile(record);
  EXPECT_EQ(received.rfind("mailto:" + percentEncoded("help+notes") + "@acme.example?", 0), 0u) << received;
  EXPECT_NE(received.find(percentEncoded(std::string(kAcmePrefix) + "host")), std::string::npos) << received;
  const std::string log = job.directory + "/log.txt";
  EXPECT_TRUE(received.find(percentEncoded(log)) != std::string::npos || received.find(log) != std::string::npos)
      << received;

  // Named again by its directory, the job is found where it is. Removing it
  // never reaches through a link planted inside.
  const host::Preparation again = host::jobAt(job.directory);
  ASSERT_TRUE(again.job) << again.refusal;
  EXPECT_EQ(host::outcomeName(host::collectResult(*again.job).outcome), std::string("opened"));
  writeFile(root() / "precious", "keep");
  makeSymlink(root() / "precious", fs::path(job.directory) / "planted");
  EXPECT_TRUE(host::removeJob(*again.job));
  EXPECT_EQ(readFile(root() / "precious"), "keep");
  EXPECT_FALSE(fs::exists(fs::symlink_status(job.directory)));
  EXPECT_TRUE(fs::exists(drafts));
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
    SCOPED_TRACE(key);
    const Snapshot before = takeSnapshot(root());
    const host::Preparation preparation = host::prepareBundleJob(bundlePath(), home().string(), request());
    EXPECT_EQ(host::reasonCode(preparation.reason), code) << preparation.refusal;
    EXPECT_EQ(host::reasonCode(host::bundleSubjectPrefix(bundlePath()).reason), code);
    expectUnchangedSince(before);
  }
}

TEST_F(HostLibrary, CommandMakesABundleOfItsOwnThatRunsItsJobs) {
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
    SCOPED_TRACE(code);
    std::vector<std::string> args = acme;
    *(std::find(args.begin(), args.end(), change.first) + 1) = change.second;
    EXPECT_EQ(command(args, 3)["reasonCode"], code);
  }
  std::vector<std::string> checkOnly = acme;
  checkOnly.push_back("--check-only");
  EXPECT_EQ(command(checkOnly, 0)["outcome"], "checked");
  EXPECT_TRUE(fs::is_empty(made.path())) << "a check or a refusal wrote something";

  const fs::path acmeBundle = made.path() / "Acme Notes.app";
  EXPECT_EQ(command(acme, 0), (nlohmann::json{{"outcome", "made"}, {"bundle", acmeBundle.string()}}));
  EXPECT_EQ(command(acme, 3)["reasonCode"], "bundleNotMade") << "an existing bundle is kept";
  EXPECT_EQ(std::distance(fs::directory_iterator(made.path()), fs::directory_iterator()), 1)
      << "no temporary directory left behind";
  // Every program of the kit's bundle is in the app's own: a route whose
  // helper is missing would fail only in the app's bundle.
  for (const auto& program : fs::directory_iterator(fs::path(SUPPORT_DRAFT_BUNDLE) / "Contents" / "MacOS")) {
    EXPECT_TRUE(fs::is_regular_file(acmeBundle / "Contents" / "MacOS" / program.path().filename())) << program.path();
  }

  // The bundle made runs jobs under its own identity, from the command too.
  const fs::path record = writeRecordingComposer();
  Environment withComposer = env();
  withComposer["MAILER"] = composer().string();
  const nlohmann::json opened = lineOf(
      run(SUPPORT_DRAFT_HOST_COMMAND,
          {"--bundle", acmeBundle.string(), "--subject", std::string(kAcmePrefix) + "cmd", "--body", "b"}, withComposer),
      0);
  EXPECT_EQ(fs::path(opened.value("jobDirectory", "")).parent_path(), home() / ".acme-notes" / "support-drafts");
  EXPECT_EQ(readFile(record).rfind("mailto:" + percentEncoded("help+notes") + "@acme.example?subject=" +
                                       percentEncoded(std::string(kAcmePrefix) + "cmd"),
                                   0),
            0u)
      << readFile(record);
}

TEST_F(HostLibrary, NoResultIsNeverAnEarlierRunsAndIsExplained) {
  const host::PreparedJob job = prepared();
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
  report = host::runJob(bundlePath(), job, kTimeBound);
  EXPECT_EQ(host::outcomeName(report.outcome), std::string("noResult"));
  EXPECT_NE(report.explanation.find(job.directory + "/job.json"), std::string::npos) << report.explanation;
}

TEST_F(HostLibrary, ProgramPastTheTimeBoundIsLeftRunningWithoutAZombie) {
  composeBehindGate();
  const host::PreparedJob job = prepared();
  // The host's standard output is a pipe, as when a host in another
  // language reads the command's output to its end.
  int hostOutput[2];
  ASSERT_EQ(::pipe2(hostOutput, O_CLOEXEC), 0);
  UniqueFd reading(hostOutput[0]);
  const UniqueFd savedOutput(::dup(STDOUT_FILENO));
  ASSERT_TRUE(savedOutput);
  ::dup2(hostOutput[1], STDOUT_FILENO);
  ::close(hostOutput[1]);
  const host::RunReport report = host::runJob(bundlePath(), job, std::chrono::milliseconds(0));
  ::dup2(savedOutput.get(), STDOUT_FILENO);
  EXPECT_EQ(host::outcomeName(report.outcome), std::string("timedOut"));
  // Nothing is left for the host to reap, and the program still running
  // holds none of the host's pipes open: the host's reader sees the end.
  expectNoChildLeft();
  pollfd end{reading.get(), POLLIN, 0};
  ASSERT_EQ(::poll(&end, 1, static_cast<int>(std::chrono::milliseconds(kTimeBound).count())), 1)
      << "the program kept the host's output open";
  char byte;
  EXPECT_EQ(::read(reading.get(), &byte, 1), 0);
  // A host without the run learns of it, and later of its end, from the job.
  EXPECT_EQ(host::collectResult(job).outcome, host::Outcome::running);
  openGate();
  awaitEndOf(job);
  EXPECT_EQ(host::collectResult(job).outcome, host::Outcome::opened);
}

TEST_F(HostLibrary, StartedRunReturnsAtOnceAndAWaitWithoutBoundLastsUntilItEnds) {
  composeBehindGate();
  const host::PreparedJob job = prepared();
  host::Run run = started(job);
  EXPECT_EQ(host::pollJob(run).outcome, host::Outcome::running);
  pollfd ended{run.descriptor(), POLLIN, 0};
  EXPECT_EQ(::poll(&ended, 1, 0), 0);
  // A host without the handle knows the job runs as soon as the start has
  // returned; it is neither collected as ended nor pruned.
  host::RunReport collected = host::collectResult(job);
  EXPECT_EQ(collected.outcome, host::Outcome::running) << collected.explanation;
  backdate(job.directory);
  const host::Pruning pruning = host::pruneJobs(place(), std::chrono::hours(48));
  EXPECT_EQ(pruning.removed, 0u) << pruning.refusal;
  EXPECT_TRUE(fs::exists(job.directory));

  // The gate opens a moment after the wait has begun: a wait that returned
  // at once would find the program still running.
  std::thread opener([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    openGate();
  });
  const host::RunReport report = host::waitJob(run, std::chrono::milliseconds(-1));
  opener.join();
  EXPECT_EQ(report.outcome, host::Outcome::opened) << report.explanation;
  EXPECT_EQ(host::pollJob(run).outcome, host::Outcome::opened);
  EXPECT_EQ(host::collectResult(job).outcome, host::Outcome::opened);
  expectNoChildLeft();

  // A bundle that is not there is refused by name before anything runs.
  const host::Start missing = host::startJob((root() / "Nowhere.app").string(), job);
  EXPECT_FALSE(missing.run);
  EXPECT_EQ(host::reasonCode(missing.reason), std::string("bundleMissing")) << missing.refusal;
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
    expectNoChildLeft();
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
  const fs::path composing = root() / "started", shown = root() / "shown";
  composeBehindGate(": > '" + composing.string() + "'\n", ": > '" + shown.string() + "'\n");
  const host::PreparedJob job = prepared();
  host::Run run = started(job);
  ASSERT_TRUE(appears(composing)) << "the composer never started";

  const host::RunReport cancelled = host::cancelJob(run);
  EXPECT_EQ(cancelled.outcome, host::Outcome::cancelled) << cancelled.explanation;
  // Ended, and said so again; the job's lock went before the cancel returned.
  EXPECT_EQ(host::pollJob(run).outcome, host::Outcome::cancelled);
  EXPECT_EQ(host::cancelJob(run).outcome, host::Outcome::cancelled);
  EXPECT_FALSE(fs::exists(fs::path(job.directory) / "result.json"));
  EXPECT_EQ(host::collectResult(job).outcome, host::Outcome::noResult);
  expectNoChildLeft();
  // The client it had handed the draft to goes on.
  openGate();
  EXPECT_TRUE(appears(shown)) << "the client was ended with the program";
}

TEST_F(HostLibrary, CancelAfterTheResultWasWrittenGivesThatResult) {
  // A program that writes its answer and then waits: cancelled then, the
  // answer stands. The bundle's program is replaced, never written through.
  const fs::path written = root() / "written";
  fs::remove(bundle().executable);
  writeFile(bundle().executable,
            "#!/bin/sh\numask 077\nprintf '{\"ok\":true}' > \"$HOME/" + std::string(kDevToolDir) +
                "/support-drafts/$2/result.json\"\n: > '" + written.string() + "'\n" + awaitGate(),
            0755);
  const host::PreparedJob job = prepared();
  host::Run run = started(job);
  ASSERT_TRUE(appears(written));
  const host::RunReport late = host::cancelJob(run);
  EXPECT_EQ(late.outcome, host::Outcome::opened) << late.explanation;

  // And after the program has ended by itself, too.
  openGate();
  host::Run again = started(job);
  awaitEndOf(job);
  EXPECT_EQ(host::cancelJob(again).outcome, host::Outcome::opened);
}

TEST_F(HostLibrary, OneAtATimeIsRefusedWhileAnotherJobOfTheBundleRunsAndFreeAfter) {
  composeBehindGate();
  const host::PreparedJob first = prepared(request("first"));
  const host::PreparedJob second = prepared(request("second"));
  host::Run running = started(first, {true});

  // Refused, whichever job and however often; a refusal changes nothing.
  writeFile(fs::path(second.directory) / "result.json", "{\"ok\":false}");
  const Snapshot before = takeSnapshot(root());
  for (const host::PreparedJob* job : {&second, &first}) {
    const host::Start refused = host::startJob(bundlePath(), *job, {true});
    EXPECT_FALSE(refused.run);
    EXPECT_EQ(host::reasonCode(refused.reason), std::string("jobRunning")) << refused.refusal;
    EXPECT_NE(refused.refusal.find(draftsDir().string()), std::string::npos) << refused.refusal;
  }
  expectUnchangedSince(before);
  // A start that does not ask for it is not held back.
  host::Run beside = started(second);
  openGate();
  EXPECT_EQ(host::waitJob(beside, kTimeBound).outcome, host::Outcome::opened);
  EXPECT_EQ(host::waitJob(running, kTimeBound).outcome, host::Outcome::opened);

  // Once the programs are told ended (their watchers' locks are gone
  // then), the next one-at-a-time start goes ahead.
  host::Run next = started(second, {true});
  EXPECT_EQ(host::waitJob(next, kTimeBound).outcome, host::Outcome::opened);
}

TEST_F(HostLibrary, CommandCancelsOnSigtermAndRefusesASecondRunOneAtATime) {
  const fs::path composing = root() / "started";
  composeBehindGate(": > '" + composing.string() + "'\n");
  // A shell plays the user: it starts the command, waits until the draft is
  // being made, tries a second one-at-a-time run, then ends the first with
  // SIGTERM.
  const std::string command = std::string(SUPPORT_DRAFT_HOST_COMMAND) + " --bundle '" + bundlePath() +
                              "' --subject '" + std::string(kPrefix) + "x' --body b --one-at-a-time --remove";
  const RunResult ran =
      run("/bin/sh",
          {"-c", command + " & first=$!; until [ -e '" + composing.string() + "' ]; do sleep 0.01; done; " + command +
                     "; echo second=$?; kill -TERM $first; wait $first; echo first=$?"},
          env());
  openGate();
  ASSERT_EQ(ran.exitStatus, 0) << describe(ran);
  // The refused run's line, then the cancelled one's, each before its status.
  std::vector<std::string> lines;
  std::istringstream out(ran.out);
  for (std::string line; std::getline(out, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 4u) << ran.out;
  const auto refused = nlohmann::json::parse(lines[0]), cancelled = nlohmann::json::parse(lines[2]);
  EXPECT_EQ(refused["outcome"], "refused") << ran.out;
  EXPECT_EQ(refused["reasonCode"], "jobRunning") << ran.out;
  EXPECT_EQ(lines[1], "second=3");
  EXPECT_EQ(cancelled["outcome"], "cancelled") << ran.out;
  EXPECT_EQ(cancelled["removed"], true) << ran.out;
  EXPECT_EQ(lines[3], "first=8");
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
  const host::PreparedJob old = prepared(request("old", "b", std::string("log\n")));
  const host::PreparedJob recent = prepared(request("recent"));
  const host::PreparedJob annotated = prepared(request("annotated"));
  writeFile(fs::path(annotated.directory) / "notes", "the host's own", 0600);
  // The texts file a mail client read the draft from goes with its job.
  writeFile(fs::path(old.directory) / "draft.txt", "the body", 0600);
  backdate(old.directory);
  backdate(annotated.directory);
  // An old job directory elsewhere, reached through a link with a job id's name.
  makeDirectory(root() / "elsewhere", 0700);
  writeFile(root() / "elsewhere" / "job.json", "{}", 0600);
  backdate(root() / "elsewhere");
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
    ASSERT_EQ(::chown(foreign.directory.c_str(), kUnprivilegedUid, kUnprivilegedGid), 0);
    EXPECT_FALSE(host::removeJob(foreign));
    EXPECT_TRUE(fs::exists(fs::path(foreign.directory) / "job.json"));
  }
}

TEST_F(HostLibrary, AHostOutOfDescriptorsIsRefusedWithoutAJobLeftBehind) {
  // The drafts directory is there, so each try gets as far as its own job
  // directory before the descriptors run out.
  ASSERT_TRUE(host::removeJob(prepared()));

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

// The command answers with one line of JSON whose outcome its exit status
// tells, or with its usage.
TEST_F(HostLibrary, CommandExitStatusTellsEachOutcome) {
  const RunResult usage = run(SUPPORT_DRAFT_HOST_COMMAND, {"--bundle", bundlePath(), "--body", "b"}, env());
  EXPECT_EQ(usage.exitStatus, 2) << describe(usage);
  EXPECT_EQ(usage.out, "");
  EXPECT_NE(usage.err.find("usage:"), std::string::npos) << usage.err;
  EXPECT_EQ(command(jobArgs("st", std::string(8193, 'b')), 3),
            (nlohmann::json{{"outcome", "refused"},
                            {"reason", "the body is too long: at most 8192 bytes of UTF-8"},
                            {"reasonCode", "bodyTooLong"}}));

  const std::vector<std::tuple<std::string, std::string, int>> handlers = {
      {"\treturn \"draft_opened\"\n", "opened", 0},
      {"\treturn \"something else\"\n", "failed", 1},
      {"\terror number -1743\n", "permissionDenied", 4},
  };
  for (const auto& [handler, outcome, status] : handlers) {
    SCOPED_TRACE(outcome);
    writeHandler(handler);
    const nlohmann::json line = command(jobArgs("st"), status);
    EXPECT_EQ(line["outcome"], outcome) << line;
    const fs::path directory = draftsDir() / line.value("jobId", "");
    EXPECT_EQ(line["jobDirectory"], directory.string()) << line;
    EXPECT_TRUE(fs::exists(directory / "result.json"));
  }

  // Past the time bound, then running while collected, then opened. Asked
  // to remove it meanwhile, the command says it stays.
  composeBehindGate();
  const nlohmann::json timedOut = command(jobArgs("st", "b", {"--time-bound", "1", "--remove"}), 6);
  ASSERT_EQ(timedOut["outcome"], "timedOut") << timedOut;
  EXPECT_EQ(timedOut["removed"], false) << timedOut;
  const std::string directory = timedOut["jobDirectory"];
  EXPECT_EQ(command({"--result", directory, "--remove"}, 7)["removed"], false);
  EXPECT_TRUE(fs::exists(fs::path(directory) / "job.json"));
  openGate();
  awaitEndOf(host::PreparedJob{timedOut["jobId"], directory, place()});
  EXPECT_EQ(command({"--result", directory, "--remove"}, 0)["removed"], true);
  EXPECT_FALSE(fs::exists(directory));

  // A program that ends without a word. The bundle's program may be a hard
  // link to the built one: it is replaced, never written through.
  fs::remove(bundle().executable);
  writeFile(bundle().executable, "#!/bin/sh\nexit 0\n", 0755);
  EXPECT_EQ(command(jobArgs("st"), 5)["outcome"], "noResult");
}

// The route a job would take, asked of the command before any job, and
// the log that failed a job, told after it: a default mail client not known
// to take attachments opens drafts without a log only, and MAILER's
// composer takes one. The result document stays the program's own.
TEST_F(HostLibrary, CommandSaysWhichRouteAJobTakesAndWhetherItCarriesTheLog) {
  Environment env = this->env();
  // The machine's own handlers stay out of it.
  makeDirectory(root() / "share", 0755);
  env["XDG_DATA_DIRS"] = (root() / "share").string();
  env["XDG_CONFIG_DIRS"] = (root() / "share").string();
  const auto route = [&](bool withLog, int status) {
    std::vector<std::string> args = {"--bundle", bundlePath(), "--route"};
    if (withLog) args.push_back("--log");
    const RunResult asked = run(SUPPORT_DRAFT_HOST_COMMAND, args, env);
    EXPECT_EQ(asked.err, "");
    return lineOf(asked, status);
  };

  nlohmann::json answer = route(true, 1);
  EXPECT_EQ(answer["route"], "none") << answer;
  EXPECT_EQ(answer["log"], "noRoute") << answer;
  EXPECT_EQ(answer["withLog"], true) << answer;
  EXPECT_FALSE(answer.value("reason", "").empty()) << answer;

  // A handler of the user's that the kit knows nothing of: it would be
  // handed a mailto: URI, which carries no log it is known to take.
  const fs::path opener = root() / "webmail";
  writeFile(opener, "#!/bin/sh\nprintf '%s' \"$1\" > '" + (root() / "opened").string() + "'\n", 0755);
  fs::create_directories(home() / ".local" / "share" / "applications");
  writeFile(home() / ".local" / "share" / "applications" / "org.example.WebMail.desktop",
            "[Desktop Entry]\nType=Application\nName=Web mail\nExec=" + opener.string() + " %u\n", 0644);
  makeDirectory(home() / ".config", 0700);
  writeFile(home() / ".config" / "mimeapps.list",
            "[Default Applications]\nx-scheme-handler/mailto=org.example.WebMail.desktop\n", 0644);
  EXPECT_EQ(route(false, 0), (nlohmann::json{{"route", "defaultClient"},
                                             {"withLog", false},
                                             {"log", "notCarried"},
                                             {"assurance", "startOnly"},
                                             {"handler", "org.example.WebMail.desktop"}}));
  answer = route(true, 1);
  EXPECT_EQ(answer["route"], "none") << answer;
  EXPECT_EQ(answer["log"], "notCarried") << answer;

  // The job with a log fails for it, and the line says so.
  copyBuiltResource(bundle(), kScriptResource);
  writeFile(root() / "app.log", "line\n", 0600);
  const nlohmann::json line =
      lineOf(run(SUPPORT_DRAFT_HOST_COMMAND, jobArgs("route", "b", {"--log", (root() / "app.log").string()}), env), 1);
  EXPECT_EQ(line["outcome"], "failed") << line;
  EXPECT_EQ(line["log"], "notCarried") << line;
  const auto result = readFileIfPresent(fs::path(line.value("jobDirectory", "")) / "result.json");
  ASSERT_TRUE(result);
  EXPECT_EQ(nlohmann::json::parse(*result), failed()) << *result;
  EXPECT_FALSE(fs::exists(root() / "opened")) << "the handler was started";

  // MAILER's composer is the user's own: it is handed the log.
  env["MAILER"] = opener.string();
  answer = route(true, 0);
  EXPECT_EQ(answer["route"], "mailer") << answer;
  EXPECT_EQ(answer["log"], "carried") << answer;
  EXPECT_FALSE(answer.contains("handler")) << answer;

  // --log takes no file here, and the route goes with no job's options.
  const RunResult usage = run(SUPPORT_DRAFT_HOST_COMMAND, {"--bundle", bundlePath(), "--route", "--log", "app.log"}, env);
  EXPECT_EQ(usage.exitStatus, 2) << describe(usage);
  EXPECT_EQ(usage.out, "");
}

TEST_F(HostLibrary, CommandTakesStandardInputLogTailsAndCollectsLater) {
  for (const std::string option : {"--help", "--version"}) {
    const RunResult asked = run(SUPPORT_DRAFT_HOST_COMMAND, {option}, env());
    EXPECT_EQ(asked.exitStatus, 0) << describe(asked);
    EXPECT_NE(asked.out.find("support-draft-host"), std::string::npos) << asked.out;
    EXPECT_EQ(asked.err, "");
  }
  // Jobs started through bash, each with its body read from `bodyFile`.
  const auto shellJob = [&](const std::string& before, const std::string& bodyFile, const std::string& more,
                            int status) {
    return lineOf(run("/bin/bash",
                      {"-c", before + "'" + SUPPORT_DRAFT_HOST_COMMAND + "' --bundle '" + bundlePath() +
                                 "' --subject '" + std::string(kPrefix) + "piped' --body-file " + bodyFile + more},
                      env()),
                  status);
  };
  const auto bodyOf = [](const nlohmann::json& line) {
    return nlohmann::json::parse(readFile(fs::path(line.value("jobDirectory", "")) / "job.json"))["body"];
  };

  // The body from standard input, the newest lines of a log over the limit.
  std::string log;
  for (int line = 0; line < 3000; ++line) log += "line " + std::to_string(10000 + line) + "\n";
  writeFile(root() / "app.log", log, 0600);
  const nlohmann::json line =
      shellJob("printf 'from stdin' | ", "-", " --log-tail '" + (root() / "app.log").string() + "'", 0);
  ASSERT_EQ(line["outcome"], "opened") << line;
  const fs::path directory = line.value("jobDirectory", "");
  EXPECT_EQ(bodyOf(line), "from stdin");
  const std::string kept = readFile(directory / "log.txt");
  EXPECT_LE(kept.size(), 24576u);
  EXPECT_GT(kept.size(), 24576u - 11);  // whole lines of 11 bytes
  EXPECT_EQ(log.substr(log.size() - kept.size()), kept);
  EXPECT_EQ(kept.substr(0, 5), "line ");

  // A pipe named by path reads as standard input does, within the same
  // limit; a regular file named so keeps its checks.
  writeFile(root() / "body.txt", "from a file", 0600);
  EXPECT_EQ(bodyOf(shellJob("printf 'from dev stdin' | ", "/dev/stdin", "", 0)), "from dev stdin");
  EXPECT_EQ(bodyOf(shellJob("", "<(printf 'from a substitution')", "", 0)), "from a substitution");
  EXPECT_EQ(bodyOf(shellJob("", "/dev/stdin", " < '" + (root() / "body.txt").string() + "'", 0)), "from a file");
  EXPECT_EQ(shellJob("head -c 1048577 /dev/zero | ", "/dev/stdin", "", 3)["reasonCode"], "bodyFileUnreadable");
  EXPECT_EQ(shellJob("", "/dev/null", "", 3)["reasonCode"], "bodyFileUnreadable");

  // Read again by directory, then removed.
  const nlohmann::json again = command({"--result", directory.string(), "--remove"}, 0);
  EXPECT_EQ(again["outcome"], "opened");
  EXPECT_EQ(again["jobId"], line["jobId"]);
  EXPECT_EQ(again["removed"], true);
  EXPECT_FALSE(fs::exists(directory));

  // Refusals name the wrong input with a code.
  const std::vector<std::pair<std::vector<std::string>, std::string>> refusals = {
      {{"--result", (root() / "not-a-job").string()}, "notAJobDirectory"},
      {{"--bundle", (root() / "Nowhere.app").string(), "--subject", std::string(kPrefix), "--body", "b"},
       "bundleMissing"},
      {jobArgs("", "b", {"--log", root().string()}), "logIsDirectory"},
      {jobArgs("", "b", {"--log", (root() / "app.log").string()}), "logTooLarge"},
  };
  for (const auto& [args, code] : refusals) {
    SCOPED_TRACE(code);
    const nlohmann::json refused = command(args, 3);
    EXPECT_EQ(refused["outcome"], "refused");
    EXPECT_EQ(refused["reasonCode"], code) << refused;
  }
}

}  // namespace
