// The whole road of a draft: the program runs the bundle's real mail draft
// script (built with the build's recipient, or with the tests' own), which
// hands the draft to the system's xdg-email; MAILER points
// xdg-email at a recording composer that appends the mailto: URI it receives
// to a file. Decoding that URI must give back, byte for byte, what job.json
// held, with no locale in the environment, whatever shell, URI or escape
// syntax the texts contain.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>

#include "job_fixture.h"
#include "mailto.h"

namespace {

using namespace jobfixture;

constexpr std::string_view kPrefix = "Support Request - Quorvel ";

// ---------------------------------------------------------------------------
// The world: a home whose path needs quoting and encoding, the real script,
// and a composer that records what it is handed.

class MailHandoff : public JobFixture {
 protected:
  void SetUp() override {
    JobFixture::SetUp();
    ASSERT_EQ(::access("/usr/bin/xdg-email", X_OK), 0) << "xdg-utils is not installed (scripts/deps.sh)";
    copyBuiltResource(bundle(), kScriptResource);
    makeDirectory(root() / "J\xC3\xB6rg M\xC3\xBCller", 0700);
    useHome(root() / "J\xC3\xB6rg M\xC3\xBCller" / "home");
    // MAILER is split at ':' and evaluated by xdg-email: keep its path plain.
    record_ = composerDir_.path() / "record";
    useComposer("");
  }

  // The composer records its first argument, then runs tail.
  void useComposer(std::string_view tail) {
    writeFile(composerPath(), "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + record_.string() + "'\n" + std::string(tail),
              0755);
  }

  fs::path composerPath() const { return composerDir_.path() / "composer"; }

  // `overrides` replaces or adds environment variables.
  RunResult runHandOff(const RunOptions& options = {}, const Environment& overrides = {}) const {
    Environment env = minimalEnvironment(home());
    env["MAILER"] = composerPath().string();
    for (const auto& [name, value] : overrides) env[name] = value;
    return runJob(env, options);
  }

  // The URIs the composer received, one per call.
  std::vector<std::string> received() const {
    std::vector<std::string> uris;
    std::error_code error;
    if (!fs::exists(record_, error)) return uris;
    const std::string text = readFile(record_);
    for (std::size_t start = 0; start < text.size();) {
      const std::size_t end = text.find('\n', start);
      uris.push_back(text.substr(start, end - start));
      start = end == std::string::npos ? text.size() : end + 1;
    }
    return uris;
  }

 private:
  TempDir composerDir_;
  fs::path record_;
};

// ---------------------------------------------------------------------------
// Texts that survive the trip unchanged

struct TextCase {
  std::string name;
  std::string subject;
  std::string body;
};

void PrintTo(const TextCase& c, std::ostream* os) { *os << c.name; }

std::string subject(std::string_view rest) { return std::string(kPrefix) + std::string(rest); }

// The largest body the job document allows, of letters that each need
// encoding of some kind.
std::string largestBody() {
  std::string body;
  while (body.size() + 8 <= 8192) body += "\xC3\xBC\"$\\\n%&";
  body.resize(8192, 'x');
  return body;
}

// The texts xdg-email's own encoder would alter (backslashes, line breaks)
// or cut (non-ASCII letters without a locale), and the largest body; that
// the route's URI carries every other text whole is a unit test of the
// route.
std::vector<TextCase> textCases() {
  return {
      {"ShellSyntax", subject(R"("quoted" $(id) `uname` $HOME)"),
       R"(He said "hi"; $(rm -rf ~) `reboot` ${PATH} 'single' | & > /tmp/x)"},
      {"BackslashesAsText", subject(R"(C:\temp\new)"), R"(literal \n \c \\ \t \0101 \x41 \e end\)"},
      {"NonAsciiLetters", subject("T\xC3\xBCrk\xC3\xA7" "e Stra\xC3\x9F" "e \xF0\x9F\x98\x80"),
       "Gr\xC3\xBC\xC3\x9F" "e, Fran\xC3\xA7ois \xE2\x80\x94 \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x8E\x89\n\r\n\t"},
      {"UriDelimiters", subject("50% off & more=less?#+"), "100% & a=b ? c # d + e / f ; g @ h %20 %zz mailto:x"},
      {"LargestBody", subject("big"), largestBody()},
  };
}

class TextTrip : public MailHandoff, public ::testing::WithParamInterface<std::tuple<TextCase, bool>> {};

TEST_P(TextTrip, ReachesComposerUnchanged) {
  const auto& [text, attachLogs] = GetParam();
  prepare(jobJson(text.subject, text.body, attachLogs), std::string_view("log line\n"));
  expectQuietExit(runHandOff());
  EXPECT_EQ(outcome(), opened());

  const auto uris = received();
  ASSERT_EQ(uris.size(), 1u) << "composer calls";
  const DecodedUri decoded = decodeMailto(uris[0]);
  ASSERT_EQ(decoded.error, "") << uris[0];
  std::map<std::string, std::string> expected = {{"subject", text.subject}, {"body", text.body}};
  if (attachLogs) expected["attach"] = (jobDir() / "log.txt").string();
  if (!std::string_view(SUPPORT_DRAFT_BUNDLE_RECIPIENT).empty()) expected["to"] = SUPPORT_DRAFT_BUNDLE_RECIPIENT;
  // An empty body may also be left out of the URI altogether.
  std::map<std::string, std::string> actual = decoded.fields;
  if (text.body.empty() && !actual.contains("body")) actual["body"] = "";
  EXPECT_EQ(actual, expected) << uris[0];
}

std::string textTripName(const ::testing::TestParamInfo<std::tuple<TextCase, bool>>& info) {
  return std::get<0>(info.param).name + (std::get<1>(info.param) ? "WithLog" : "WithoutLog");
}

INSTANTIATE_TEST_SUITE_P(Texts, TextTrip, ::testing::Combine(::testing::ValuesIn(textCases()), ::testing::Bool()),
                         textTripName);

// The script built with a recipient addresses the draft to it, encoded so
// that none of its characters ends the address or adds a field.
TEST_F(MailHandoff, ConfiguredRecipientReachesTheComposer) {
  writeResource(bundle(), kScriptResource, readFile(SUPPORT_DRAFT_ADDRESSED_SCRIPT));
  prepare(jobJson(subject("x"), "b", true), std::string_view("log line\n"));
  expectQuietExit(runHandOff());
  EXPECT_EQ(outcome(), opened());
  const auto uris = received();
  ASSERT_EQ(uris.size(), 1u) << "composer calls";
  const DecodedUri decoded = decodeMailto(uris[0]);
  EXPECT_EQ(decoded.fields, (std::map<std::string, std::string>{{"to", SUPPORT_DRAFT_TEST_RECIPIENT},
                                                                {"subject", subject("x")},
                                                                {"body", "b"},
                                                                {"attach", (jobDir() / "log.txt").string()}}))
      << uris[0] << " " << decoded.error;
}

// ---------------------------------------------------------------------------
// How the composer ends

TEST_F(MailHandoff, FailingComposerFailsTheDraft) {
  useComposer("exit 1\n");
  prepare();
  expectQuietExit(runHandOff());
  EXPECT_EQ(received().size(), 1u) << "the composer was not reached";
  EXPECT_EQ(outcome(), failed());
}

// ---------------------------------------------------------------------------
// What the host's process setup may not change

// Hosts written in some languages ignore SIGCHLD, and that survives exec;
// the composer's end must still be seen.
TEST_F(MailHandoff, ParentIgnoringChildSignalsStillOpensTheDraft) {
  prepare();
  RunOptions options;
  options.ignoredSignals = {SIGCHLD};
  expectQuietExit(runHandOff(options));
  EXPECT_EQ(received().size(), 1u) << "the composer was not reached";
  EXPECT_EQ(outcome(), opened());
}

// Whoever chose the current directory does not choose the hand-off: empty
// and relative PATH entries are never searched, and what the hand-off
// starts in turn gets only the absolute entries.
TEST_F(MailHandoff, CurrentDirectoryIsNeverSearched) {
  const fs::path current = root() / "current";
  const fs::path decoyRan = root() / "decoy-ran";
  const fs::path composerPath = root() / "composer-path";
  makeDirectory(current, 0755);
  writeFile(current / "xdg-email", "#!/bin/sh\ntouch '" + decoyRan.string() + "'\n", 0755);
  useComposer("printf '%s' \"$PATH\" > '" + composerPath.string() + "'\n");
  prepare();
  RunOptions options;
  options.workingDirectory = current;
  expectQuietExit(runHandOff(options, {{"PATH", ".::/usr/bin:bin:/bin:"}}));
  EXPECT_FALSE(fs::exists(decoyRan)) << "xdg-email was taken from the current directory";
  EXPECT_EQ(received().size(), 1u) << "the composer was not reached";
  EXPECT_EQ(outcome(), opened());
  EXPECT_EQ(readFile(composerPath), "/usr/bin:/bin");
}

// ---------------------------------------------------------------------------
// The default mail client: no MAILER; a throwaway mimeapps.list names the
// mailto handler and a throwaway desktop entry starts a stand-in client that
// records its arguments. XDG_DATA_DIRS points at an empty directory, so none
// of the system's own entries can take part. The script is the one built
// with the tests' recipient. Which arguments each known client's route
// gives, and how a client's end is read, are unit tests of the route and
// of the mail service; these runs follow a few of them end to end.

// One known client: its desktop id, the words of its entry after the
// program, whether it runs in a terminal, and the arguments its start must
// receive. In `expected`, "<uri>" is a mailto: URI with subject and body,
// "<uri+log>" the same with attach=, "<log>" the log's path, "<logurl>" its
// file: URL, "<fields>" and
// "<fields+log>" Thunderbird's -compose value; a prefix before '<' is kept
// literally ("--compose=<uri>").
struct ClientCase {
  std::string name;
  std::string desktopId;
  std::string execTail;
  bool terminal;
  std::vector<std::string> expected;
};

void PrintTo(const ClientCase& c, std::ostream* os) { *os << c.name; }

std::vector<ClientCase> clientCases() {
  return {
      {"Thunderbird", "thunderbird.desktop", "%u", false, {"-compose", "<fields+log>"}},
      {"NeoMutt", "neomutt.desktop", "%u", true, {"-e", "<client>", "-a", "<log>", "--", "<uri>"}},
      {"KMail", "org.kde.kmail2.desktop", "-qwindowtitle %c %u", false, {"<uri+log>"}},
  };
}

class DefaultClient : public MailHandoff {
 protected:
  void SetUp() override {
    MailHandoff::SetUp();
    // A home whose path holds a blank, a comma, an apostrophe and a
    // non-ASCII letter: no route may cut it or read part of it as a field.
    writeResource(bundle(), kScriptResource, readFile(SUPPORT_DRAFT_ADDRESSED_SCRIPT));
    makeDirectory(root() / "O'Neil, J\xC3\xB6rg", 0700);
    useHome(root() / "O'Neil, J\xC3\xB6rg" / "home");
    for (const char* dir : {"config", "data", "data/applications", "dirs", "bin", "calls"}) {
      makeDirectory(world_.path() / dir, 0755);
    }
    useClient("");
  }

  // The stand-in client (and terminal emulator) writes its arguments,
  // NUL-terminated, to a file of its own per call, then runs `tail`.
  void useClient(std::string_view tail) {
    const std::string script = "#!/bin/sh\nn=$(ls '" + calls().string() + "' | wc -l)\n" +
                               "if [ $# -gt 0 ]; then printf '%s\\0' \"$@\"; fi > '" + calls().string() + "'/$n\n" + std::string(tail);
    writeFile(client(), script, 0755);
    writeFile(world_.path() / "bin" / "x-terminal-emulator", script, 0755);
  }

  void makeDefault(const std::string& desktopId, const std::string& execTail, bool terminal = false) {
    writeFile(world_.path() / "config" / "mimeapps.list",
              "[Default Applications]\nx-scheme-handler/mailto=" + desktopId + "\n", 0644);
    writeFile(world_.path() / "data" / "applications" / desktopId,
              "[Desktop Entry]\nType=Application\nName=Mail\nExec=" + client().string() + " " + execTail +
                  "\nTerminal=" + (terminal ? "true" : "false") + "\nMimeType=x-scheme-handler/mailto;\n",
              0644);
  }

  RunResult runWithDefaultClient() const {
    Environment env = minimalEnvironment(home());
    env["PATH"] = (world_.path() / "bin").string() + ":/usr/bin:/bin";
    env["DISPLAY"] = ":0";  // xdg-email's generic route opens URIs only on a display
    env["XDG_CONFIG_HOME"] = (world_.path() / "config").string();
    env["XDG_DATA_HOME"] = (world_.path() / "data").string();
    env["XDG_DATA_DIRS"] = (world_.path() / "dirs").string();
    return runJob(env);
  }

  fs::path client() const { return world_.path() / "bin" / "client"; }
  fs::path calls() const { return world_.path() / "calls"; }

  // The arguments of each call of the stand-ins, in order.
  std::vector<std::vector<std::string>> startedWith() const {
    std::vector<std::vector<std::string>> all;
    for (int n = 0; fs::exists(calls() / std::to_string(n)); ++n) {
      const std::string text = readFile(calls() / std::to_string(n));
      std::vector<std::string> args;
      for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = text.find('\0', start);
        args.push_back(text.substr(start, end - start));
        start = end + 1;
      }
      all.push_back(std::move(args));
    }
    return all;
  }

  // Compares one argument with its pattern (see ClientCase).
  void expectArgument(const std::string& actual, const std::string& pattern, const std::string& subjectText,
                      const std::string& bodyText) const {
    const auto open = pattern.find('<');
    if (open == std::string::npos) {
      EXPECT_EQ(actual, pattern);
      return;
    }
    ASSERT_EQ(actual.substr(0, open), pattern.substr(0, open));
    const std::string rest = actual.substr(open);
    const std::string kind = pattern.substr(open);
    if (kind == "<client>" || kind == "<log>") {
      EXPECT_EQ(rest, kind == "<client>" ? client().string() : (jobDir() / "log.txt").string());
      return;
    }
    if (kind == "<logurl>") {
      ASSERT_TRUE(rest.starts_with("file://")) << rest;
      const DecodedUri path = decodeMailto("mailto:?v=" + rest.substr(7));
      ASSERT_EQ(path.error, "") << rest;
      EXPECT_EQ(path.fields.at("v"), (jobDir() / "log.txt").string());
      return;
    }
    const bool withLog = kind.find("+log") != std::string::npos;
    const DecodedUri decoded = kind.starts_with("<fields") ? decodeComposeFields(rest) : decodeMailto(rest);
    ASSERT_EQ(decoded.error, "") << rest;
    std::map<std::string, std::string> expected = {
        {"subject", subjectText}, {"body", bodyText}, {"to", SUPPORT_DRAFT_TEST_RECIPIENT}};
    if (withLog) expected[kind.starts_with("<fields") ? "attachment" : "attach"] = (jobDir() / "log.txt").string();
    EXPECT_EQ(decoded.fields, expected) << rest;
  }

 private:
  TempDir world_;
};

class KnownClient : public DefaultClient, public ::testing::WithParamInterface<ClientCase> {};

// Texts built to break a comma-separated field list or a quoted value.
const std::string kTrickySubject = subject(R"(a,b='c' "q" ,to='x@example.org')");
const std::string kTrickyBody = "x',attachment='/etc/passwd\n\t50% & more";

TEST_P(KnownClient, ReceivesTheArgumentsOfItsRoute) {
  const ClientCase& c = GetParam();
  makeDefault(c.desktopId, c.execTail, c.terminal);
  prepare(jobJson(kTrickySubject, kTrickyBody, true), std::string_view("log line\n"));
  expectQuietExit(runWithDefaultClient());
  EXPECT_EQ(outcome(), opened());
  const auto started = startedWith();
  ASSERT_EQ(started.size(), 1u) << "calls of the stand-in";
  ASSERT_EQ(started[0].size(), c.expected.size());
  for (std::size_t i = 0; i < c.expected.size(); ++i) {
    SCOPED_TRACE("argument " + std::to_string(i + 1));
    expectArgument(started[0][i], c.expected[i], kTrickySubject, kTrickyBody);
  }
}

INSTANTIATE_TEST_SUITE_P(Clients, KnownClient, ::testing::ValuesIn(clientCases()),
                         [](const auto& info) { return info.param.name; });

// A handler no route is known for (a web browser) cannot take the log:
// nothing is opened, and the host hears so. Without a log it gets the
// mailto: URI through xdg-email, as every handler does.
TEST_F(DefaultClient, UnknownHandlerOpensNothingWhenALogIsAsked) {
  makeDefault("firefox-esr.desktop", "%u");
  prepare(jobJson(subject("x"), "b", true), std::string_view("log line\n"));
  expectQuietExit(runWithDefaultClient());
  EXPECT_EQ(outcome(), failed());
  EXPECT_TRUE(startedWith().empty()) << "a client was started";

  prepare(jobJson(subject("x"), "b", false));
  expectQuietExit(runWithDefaultClient());
  EXPECT_EQ(outcome(), opened());
  const auto started = startedWith();
  ASSERT_EQ(started.size(), 1u);
  ASSERT_EQ(started[0].size(), 1u);
  expectArgument(started[0][0], "<uri>", subject("x"), "b");
}

// Finding the default client reads files and nothing else: no helper
// program runs (the decoys would record it), so no session bus is started
// on the display, and the home is as it was but for the job's result.
TEST_F(DefaultClient, FindingTheClientStartsNothingAndWritesNothing) {
  const fs::path decoyRan = root() / "decoy-ran";
  for (const char* decoy : {"xdg-mime", "dbus-send", "dbus-launch", "dbus-daemon"}) {
    writeFile(client().parent_path() / decoy, "#!/bin/sh\necho \"$0\" >> '" + decoyRan.string() + "'\n", 0755);
  }
  makeDefault("thunderbird.desktop", "%u");
  prepare(jobJson(subject("x"), "b", true), std::string_view("log line\n"));
  SnapshotOptions options;
  options.skipped = {(fs::path(kDevToolDir) / "support-drafts" / kJobId).string()};
  const Snapshot before = takeSnapshot(home(), options);
  expectQuietExit(runWithDefaultClient());
  EXPECT_EQ(outcome(), opened());
  EXPECT_EQ(startedWith().size(), 1u);
  EXPECT_FALSE(fs::exists(decoyRan)) << readFile(decoyRan);
  EXPECT_EQ(formatChanges(compareSnapshots(before, takeSnapshot(home(), options))), "");
}

// MAILER is the user's own choice of composer: it gets the URI, with the
// log, and the default client is not started.
TEST_F(DefaultClient, MailerGoesBeforeTheDefaultClient) {
  makeDefault("thunderbird.desktop", "%u");
  prepare(jobJson(subject("x"), "b", true), std::string_view("log line\n"));
  Environment env = minimalEnvironment(home());
  env["MAILER"] = composerPath().string();
  env["XDG_CONFIG_HOME"] = (root() / "unused").string();
  expectQuietExit(runJob(env));
  EXPECT_EQ(outcome(), opened());
  ASSERT_EQ(received().size(), 1u);
  const DecodedUri decoded = decodeMailto(received()[0]);
  EXPECT_EQ(decoded.fields.count("attach"), 1u) << received()[0];
  EXPECT_TRUE(startedWith().empty()) << "the default client was started";
}

}  // namespace
