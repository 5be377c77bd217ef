// The whole road of a draft: the program runs the bundle's real mail draft
// script (with no recipient, or with the tests' own in Info.plist), which
// hands the draft to the composer MAILER names, here a recording composer
// that appends the mailto: URI it receives to a file. Decoding that URI must
// give back, byte for byte, what job.json
// held, with no locale in the environment, whatever shell, URI or escape
// syntax the texts contain.
#include <poll.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <thread>
#include <tuple>

#include "job_fixture.h"
#include "mail/draft_guard.h"
#include "mail/mail_service.h"
#include "platform/child_process.h"
#include "mailto.h"
#include "testing/fifo.h"
#include "testing/report_peer.h"

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
    copyBuiltResource(bundle(), kScriptResource);
    makeDirectory(root() / "J\xC3\xB6rg M\xC3\xBCller", 0700);
    useHome(root() / "J\xC3\xB6rg M\xC3\xBCller" / "home");
    // MAILER is a ':'-separated list of commands: keep its path plain.
    record_ = composerDir_.path() / "record";
    useComposer("");
  }

  // The composer records its first argument, then runs tail.
  void useComposer(std::string_view tail) {
    writeFile(composerPath(), "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + record_.string() + "'\n" + std::string(tail),
              0755);
  }

  fs::path composerPath() const { return composerDir_.path() / "composer"; }

  // The bundle names the tests' support address in its Info.plist.
  void useTestRecipient() {
    PlistDict info = standardInfo("dev");
    info.emplace_back("SupportDraftRecipient", plistString(SUPPORT_DRAFT_TEST_RECIPIENT));
    writeInfo(bundle(), info);
  }

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

// Texts a shell or an encoder on the way could alter (backslashes, line
// breaks) or cut (non-ASCII letters without a locale), and the largest body; that
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

// The bundle's support address reaches the draft, encoded so that none of
// its characters ends the address or adds a field.
TEST_F(MailHandoff, ConfiguredRecipientReachesTheComposer) {
  useTestRecipient();
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

// MAILER's commands are tried in turn until one opens the draft; a command
// holding shell syntax is run by the shell, with the URI as its last word.
TEST_F(MailHandoff, MailerListIsTriedInTurn) {
  useComposer("exit 1\n");
  prepare();
  const std::string composer = composerPath().string();
  const fs::path second = root() / "second";
  writeFile(second, "#!/bin/sh\nprintf '%s|%s' \"$1\" \"$2\" > '" + (root() / "second-record").string() + "'\n", 0755);
  expectQuietExit(runHandOff({}, {{"MAILER", composer + "::" + second.string() + " \"$HOME\""}}));
  EXPECT_EQ(received().size(), 1u) << "the first command was not tried";
  EXPECT_EQ(outcome(), opened());
  const std::string record = readFile(root() / "second-record");
  EXPECT_TRUE(record.starts_with(home().string() + "|mailto:")) << record;

  // None opens it: the draft fails.
  std::filesystem::remove(root() / "second-record");
  expectQuietExit(runHandOff({}, {{"MAILER", composer + ":" + composer}}));
  EXPECT_EQ(received().size(), 3u);
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
  const fs::path pathRecord = root() / "composer-path";
  makeDirectory(current, 0755);
  makeDirectory(current / "bin", 0755);
  for (const fs::path& decoy : {current / "composer", current / "bin" / "composer"}) {
    writeFile(decoy, "#!/bin/sh\ntouch '" + decoyRan.string() + "'\n", 0755);
  }
  useComposer("printf '%s' \"$PATH\" > '" + pathRecord.string() + "'\n");
  prepare();
  RunOptions options;
  options.workingDirectory = current;
  const std::string composerDir = composerPath().parent_path().string();
  expectQuietExit(runHandOff(options, {{"MAILER", "composer"}, {"PATH", ".::bin:" + composerDir + ":/bin:"}}));
  EXPECT_FALSE(fs::exists(decoyRan)) << "the composer was taken from the current directory";
  EXPECT_EQ(received().size(), 1u) << "the composer was not reached";
  EXPECT_EQ(outcome(), opened());
  EXPECT_EQ(readFile(pathRecord), composerDir + ":/bin");
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
// "<fields+log>" Thunderbird's -compose value (its body read from the job's
// texts file), "<draftfile>" NeoMutt's draft file; a prefix before '<' is kept
// literally ("--compose=<uri>").
struct ClientCase {
  std::string name;
  std::string desktopId;
  std::string program;  // the stand-in's name: the client's own program name
  std::string execTail;
  bool terminal;
  std::vector<std::string> expected;
};

void PrintTo(const ClientCase& c, std::ostream* os) { *os << c.name; }

std::vector<ClientCase> clientCases() {
  return {
      {"Thunderbird", "thunderbird.desktop", "thunderbird", "%u", false, {"-compose", "<fields+log>"}},
      {"NeoMutt", "neomutt.desktop", "neomutt", "%u", true, {"-H", "<draftfile>", "-a", "<log>", "--"}},
      {"KMail", "org.kde.kmail2.desktop", "kmail", "-qwindowtitle %c %u", false, {"-qwindowtitle", "Mail", "<uri+log>"}},
      // The entry's own words around the client are kept, and a wrapper
      // before it runs it.
      {"WrappedThunderbird", "thunderbird.desktop", "thunderbird", "-P work %u", false,
       {"-P", "work", "-compose", "<fields+log>"}},
  };
}

class DefaultClient : public MailHandoff {
 protected:
  void SetUp() override {
    MailHandoff::SetUp();
    // A home whose path holds a blank, a comma, an apostrophe and a
    // non-ASCII letter: no route may cut it or read part of it as a field.
    useTestRecipient();
    makeDirectory(root() / "O'Neil, J\xC3\xB6rg", 0700);
    useHome(root() / "O'Neil, J\xC3\xB6rg" / "home");
    for (const char* dir : {"config", "data", "data/applications", "dirs", "bin", "calls"}) {
      makeDirectory(world_.path() / dir, 0755);
    }
    makeDirectory(runtimeDirectory(), 0700);
    linkBuiltHelper(bundle(), kTerminalHelper);
    useClient("");
    useTerminal(kForegroundTerminal);
    setUpClients();
  }

  // The user's own set-up of the clients these tests use, as the clients
  // themselves keep it: a Thunderbird profile with an account that has an
  // identity, a Claws Mail account with its mailbox, a KMail identity.
  // Without it a known client is not started: it would show its set-up.
  void setUpClients() const {
    const fs::path flatpak = home() / ".var" / "app" / "org.mozilla.Thunderbird";
    for (const fs::path& dir : {home(), home() / ".claws-mail", home() / ".var", home() / ".var" / "app", flatpak}) {
      makeDirectory(dir, 0700);
    }
    // Thunderbird as a Debian package keeps it in ~/.thunderbird, as a
    // Flatpak in its own directory.
    for (const fs::path& thunderbird : {home() / ".thunderbird", flatpak / ".thunderbird"}) {
      makeDirectory(thunderbird, 0700);
      makeDirectory(thunderbird / "t.default-esr", 0700);
      writeFile(thunderbird / "profiles.ini",
                "[General]\nStartWithLastProfile=1\nVersion=2\n\n[Profile0]\nName=default-esr\nIsRelative=1\n"
                "Path=t.default-esr\n\n[InstallFDC34C9F024745EB]\nDefault=t.default-esr\nLocked=1\n");
      writeFile(thunderbird / "t.default-esr" / "prefs.js",
                "user_pref(\"mail.account.account1.identities\", \"id1\");\n"
                "user_pref(\"mail.accountmanager.accounts\", \"account1\");\n");
    }
    writeFile(home() / ".claws-mail" / "accountrc", "[Account: 1]\naddress=test@example.org\n");
    writeFile(home() / ".claws-mail" / "folderlist.xml", "<folderlist>\n<folder type=\"mh\" name=\"Mailbox\" path=\"Mail\">\n");
    writeFile(world_.path() / "config" / "emailidentities", "[Identity #0]\nEmail Address=test@example.org\n", 0644);
  }

  // The stand-in client writes its arguments, NUL-terminated, to a file of
  // its own per call, then runs `tail`.
  void useClient(std::string_view tail) { writeFile(client(), recordingScript(tail), 0755); }

  // The stand-in client from now on goes by `name` (a known client's
  // program name, so that its entry's program is that client).
  void useClientNamed(const std::string& name, std::string_view tail = "") {
    clientName_ = name;
    useClient(tail);
  }

  // The stand-in terminal emulator records its arguments the same way,
  // then runs `tail` (kForegroundTerminal, kAtOnceTerminal).
  void useTerminal(std::string_view tail, const std::string& name = "x-terminal-emulator") {
    writeFile(world_.path() / "bin" / name, recordingScript(tail), 0755);
  }

  // Like xterm: runs the command after -e and ends with it.
  static constexpr std::string_view kForegroundTerminal = "[ \"$1\" = -e ] && shift\nexec \"$@\"\n";
  // Like GNOME's terminal: hands the command on and returns at once.
  static constexpr std::string_view kAtOnceTerminal =
      "[ \"$1\" = -e ] && shift\n\"$@\" </dev/null >/dev/null 2>&1 &\nexit 0\n";
  static constexpr std::string_view kTerminalHelper = "support-draft-terminal";

  std::string recordingScript(std::string_view tail) const {
    return "#!/bin/sh\nn=$(ls '" + calls().string() + "' | wc -l)\n" +
           "if [ $# -gt 0 ]; then printf '%s\\0' \"$@\"; fi > '" + calls().string() + "'/$n\n" + std::string(tail);
  }

  void makeDefault(const std::string& desktopId, const std::string& execTail, bool terminal = false) {
    makeDefaultExec(desktopId, "\"" + client().string() + "\" " + execTail, terminal);
  }

  // The default handler's entry with the whole Exec value given.
  void makeDefaultExec(const std::string& desktopId, const std::string& exec, bool terminal = false) {
    writeFile(world_.path() / "config" / "mimeapps.list",
              "[Default Applications]\nx-scheme-handler/mailto=" + desktopId + "\n", 0644);
    writeFile(world_.path() / "data" / "applications" / desktopId,
              "[Desktop Entry]\nType=Application\nName=Mail\nExec=" + exec + "\nTerminal=" +
                  (terminal ? "true" : "false") + "\nMimeType=x-scheme-handler/mailto;\n",
              0644);
  }

  // `overrides` replaces or adds environment variables; an empty value
  // removes one.
  RunResult runWithDefaultClient(const Environment& overrides = {}) const {
    return runJob(defaultClientEnvironment(overrides));
  }

  Environment defaultClientEnvironment(const Environment& overrides = {}) const {
    Environment env = minimalEnvironment(home());
    env["PATH"] = (world_.path() / "bin").string() + ":/usr/bin:/bin";
    env["DISPLAY"] = ":0";  // xdg-email's generic route opens URIs only on a display
    env["XDG_CONFIG_HOME"] = (world_.path() / "config").string();
    env["XDG_DATA_HOME"] = (world_.path() / "data").string();
    env["XDG_DATA_DIRS"] = (world_.path() / "dirs").string();
    env["XDG_RUNTIME_DIR"] = runtimeDirectory().string();
    for (const auto& [name, value] : overrides) {
      if (value.empty()) {
        env.erase(name);
      } else {
        env[name] = value;
      }
    }
    return env;
  }

  fs::path client() const { return world_.path() / "bin" / clientName_; }
  fs::path configHome() const { return world_.path() / "config"; }
  fs::path calls() const { return world_.path() / "calls"; }
  fs::path runtimeDirectory() const { return world_.path() / "runtime"; }
  fs::path bin() const { return world_.path() / "bin"; }

  // Forgets the calls recorded so far.
  void clearCalls() const {
    removeTree(calls());
    makeDirectory(calls(), 0755);
  }

  // A job with or without a log whose draft must fail with nothing started
  // (no client, terminal or browser).
  void expectNothingStarted(bool log, const Environment& overrides = {}) {
    prepare(jobJson(subject("x"), "b", log), std::string_view("log line\n"));
    expectQuietExit(runWithDefaultClient(overrides));
    EXPECT_EQ(outcome(), failed());
    EXPECT_TRUE(startedWith().empty()) << "something was started";
  }

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
    if (kind == "<draftfile>") {
      // NeoMutt's draft: recipient, subject and body from the job's own
      // texts file, none of them in the argument.
      EXPECT_EQ(rest, (jobDir() / "draft.txt").string());
      const DecodedUri draft = decodeDraftFile(privateTextsFile(rest));
      ASSERT_EQ(draft.error, "");
      const std::map<std::string, std::string> expected = {
          {"subject", subjectText}, {"body", bodyText}, {"to", SUPPORT_DRAFT_TEST_RECIPIENT}};
      EXPECT_EQ(draft.fields, expected);
      return;
    }
    const bool withLog = kind.find("+log") != std::string::npos;
    const DecodedUri decoded = kind.starts_with("<fields") ? decodeComposeFields(rest) : decodeMailto(rest);
    ASSERT_EQ(decoded.error, "") << rest;
    std::map<std::string, std::string> fields = decoded.fields;
    if (const auto message = fields.find("message"); message != fields.end()) {
      // Thunderbird reads the body from the job's own texts file.
      EXPECT_EQ(message->second, (jobDir() / "draft.txt").string());
      EXPECT_EQ(fields.count("body"), 0u) << "the body is in the arguments as well";
      fields["body"] = privateTextsFile(message->second);
      fields.erase(message);
    }
    std::map<std::string, std::string> expected = {
        {"subject", subjectText}, {"body", bodyText}, {"to", SUPPORT_DRAFT_TEST_RECIPIENT}};
    if (withLog) expected[kind.starts_with("<fields") ? "attachment" : "attach"] = (jobDir() / "log.txt").string();
    EXPECT_EQ(fields, expected) << rest;
  }

  // NeoMutt's arguments for a job with a log: the draft file, the log.
  void expectNeoMuttArguments(const std::vector<std::string>& actual, const std::string& subjectText,
                              const std::string& bodyText) const {
    ASSERT_EQ(actual.size(), 5u);
    EXPECT_EQ(actual[0], "-H");
    expectArgument(actual[1], "<draftfile>", subjectText, bodyText);
    EXPECT_EQ(actual[2], "-a");
    expectArgument(actual[3], "<log>", "", "");
    EXPECT_EQ(actual[4], "--");
  }

  // The bytes of the texts file at `path`: a regular file of the user's
  // with no permission for anyone else; "" (and a failure) otherwise.
  static std::string privateTextsFile(const std::string& path) {
    struct stat file {};
    if (::lstat(path.c_str(), &file) != 0) {
      ADD_FAILURE() << "no texts file at " << path;
      return "";
    }
    EXPECT_TRUE(S_ISREG(file.st_mode));
    EXPECT_EQ(file.st_uid, ::geteuid());
    EXPECT_EQ(file.st_mode & 07777, 0600u);
    return readFile(path);
  }

 private:
  TempDir world_;
  std::string clientName_ = "client";
};

class KnownClient : public DefaultClient, public ::testing::WithParamInterface<ClientCase> {};

// Texts built to break a comma-separated field list or a quoted value.
const std::string kTrickySubject = subject(R"(a,b='c' "q" ,to='x@example.org')");
const std::string kTrickyBody = "x',attachment='/etc/passwd\n\t50% & more";

TEST_P(KnownClient, ReceivesTheArgumentsOfItsRoute) {
  const ClientCase& c = GetParam();
  useClientNamed(c.program);
  makeDefault(c.desktopId, c.execTail, c.terminal);
  prepare(jobJson(kTrickySubject, kTrickyBody, true), std::string_view("log line\n"));
  expectQuietExit(runWithDefaultClient());
  EXPECT_EQ(outcome(), opened());
  // A terminal client is started by the terminal (the first call), which
  // runs the helper, which starts the client.
  const auto started = startedWith();
  ASSERT_EQ(started.size(), c.terminal ? 2u : 1u) << "calls of the stand-ins";
  ASSERT_EQ(started.back().size(), c.expected.size());
  for (std::size_t i = 0; i < c.expected.size(); ++i) {
    SCOPED_TRACE("argument " + std::to_string(i + 1));
    expectArgument(started.back()[i], c.expected[i], kTrickySubject, kTrickyBody);
  }
}

INSTANTIATE_TEST_SUITE_P(Clients, KnownClient, ::testing::ValuesIn(clientCases()),
                         [](const auto& info) { return info.param.name; });

// Thunderbird and NeoMutt read the texts from the job's own file: the
// largest body of non-ASCII letters and escapes is in no argument of any
// program started, raw or percent-encoded, and the file holds it exactly,
// private to the user. A later run of the job replaces it.
TEST_F(DefaultClient, TextsFileKeepsTheBodyOutOfEveryCommandLine) {
  const std::string body = largestBody();
  const std::string raw = "\xC3\xBC\"$\\";
  const std::string encoded = "%C3%BC%22%24%5C";
  for (const auto& [program, desktopId, terminal] : std::vector<std::tuple<std::string, std::string, bool>>{
           {"thunderbird", "thunderbird.desktop", false}, {"neomutt", "neomutt.desktop", true}}) {
    SCOPED_TRACE(program);
    clearCalls();
    useClientNamed(program);
    makeDefault(desktopId, "%u", terminal);
    prepare(jobJson(subject("x"), body, true), std::string_view("log line\n"));
    expectQuietExit(runWithDefaultClient());
    EXPECT_EQ(outcome(), opened());
    const auto started = startedWith();
    ASSERT_EQ(started.size(), terminal ? 2u : 1u);
    for (const auto& call : started) {
      for (const std::string& argument : call) {
        EXPECT_EQ(argument.find(raw), std::string::npos) << argument.substr(0, 80);
        EXPECT_EQ(argument.find(encoded), std::string::npos) << argument.substr(0, 80);
      }
    }
    if (terminal) {
      expectNeoMuttArguments(started[1], subject("x"), body);
    } else {
      ASSERT_EQ(started[0].size(), 2u);
      expectArgument(started[0][1], "<fields+log>", subject("x"), body);
    }

    clearCalls();
    prepare(jobJson(subject("y"), "second \xE6\x97\xA5", true), std::string_view("log line\n"));
    expectQuietExit(runWithDefaultClient());
    EXPECT_EQ(outcome(), opened());
    if (terminal) {
      expectNeoMuttArguments(startedWith().at(1), subject("y"), "second \xE6\x97\xA5");
    } else {
      expectArgument(startedWith().at(0).at(1), "<fields+log>", subject("y"), "second \xE6\x97\xA5");
    }
  }
}

// A handler no route is known for, or whose Exec line runs its client out
// of sight (a shell), cannot take the log: nothing is
// opened, and the host hears so. Without a log its entry gets the mailto:
// URI, which every handler takes.
TEST_F(DefaultClient, UnknownHandlerOpensNothingWhenALogIsAsked) {
  const std::string shell = "sh -c \"'" + client().string() + "' \\\\\"\\\\$1\\\\\"\" sh %u";
  for (const auto& [desktopId, exec] : std::vector<std::pair<std::string, std::string>>{
           {"my-mail-program.desktop", "\"" + client().string() + "\" %u"}, {"neomutt.desktop", shell}}) {
    SCOPED_TRACE(exec);
    clearCalls();
    makeDefaultExec(desktopId, exec);
    expectNothingStarted(true);

    prepare(jobJson(subject("x"), "b", false));
    expectQuietExit(runWithDefaultClient());
    EXPECT_EQ(outcome(), opened());
    const auto started = startedWith();
    ASSERT_EQ(started.size(), 1u);
    ASSERT_EQ(started[0].size(), 1u);
    expectArgument(started[0][0], "<uri>", subject("x"), "b");
  }
}

// A known client that was never set up would show its account set-up
// instead of a composer: nothing is started, with or without a log.
TEST_F(DefaultClient, ClientNeverSetUpIsNotStarted) {
  for (const auto& [desktopId, files] : std::vector<std::pair<std::string, fs::path>>{
           {"thunderbird.desktop", home() / ".thunderbird"}, {"claws-mail.desktop", home() / ".claws-mail"}}) {
    SCOPED_TRACE(desktopId);
    removeTree(files);
    useClientNamed(desktopId.substr(0, desktopId.find('.')));
    makeDefault(desktopId, "%u");
    for (const bool log : {true, false}) expectNothingStarted(log);
  }
}

// A web browser as the handler composes only through a web mailer chosen
// in its own settings; without one nothing is started. With one the
// mailto: URI goes to it, but never a log.
TEST_F(DefaultClient, BrowserAsHandlerNeedsItsWebMailer) {
  makeDefault("firefox-esr.desktop", "%u");
  expectNothingStarted(false);

  const fs::path profiles = configHome() / "mozilla" / "firefox";
  for (const fs::path& dir : {configHome() / "mozilla", profiles, profiles / "f.default-esr"}) makeDirectory(dir, 0700);
  writeFile(profiles / "profiles.ini", "[Profile0]\nName=default-esr\nIsRelative=1\nPath=f.default-esr\n"
                                       "[Install3B6073811A6ABF12]\nDefault=f.default-esr\n");
  writeFile(profiles / "f.default-esr" / "handlers.json",
            R"({"schemes":{"mailto":{"action":2,"ask":false,"handlers":[{"name":"Mail","uriTemplate":"https://mail.example.org/compose?to=%s"}]}}})");
  expectQuietExit(runWithDefaultClient());
  EXPECT_EQ(outcome(), opened());
  ASSERT_EQ(startedWith().size(), 1u);
  expectArgument(startedWith()[0].at(0), "<uri>", subject("x"), "b");

  clearCalls();
  expectNothingStarted(true);
}

// Whether someone opens the file `name` in the directory `watch` watches
// (inotify, IN_OPEN) before the safety bound.
bool seesOpened(const platform::UniqueFd& watch, std::string_view name) {
  alignas(inotify_event) char buffer[4096];
  while (true) {
    pollfd entry{watch.get(), POLLIN, 0};
    if (::poll(&entry, 1, testing_support::GraceGate::kSafetyBoundMs) != 1) return false;
    const ssize_t n = ::read(watch.get(), buffer, sizeof buffer);
    if (n <= 0) return false;
    for (ssize_t at = 0; at < n;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      if ((event->mask & IN_OPEN) != 0 && event->len > 0 && std::string_view(event->name) == name) return true;
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
}

// Two jobs at once never race into one client: a job starts its client
// only in the user's turn, and holds the turn while its client starts.
// Here the test holds the turn as another job would, and lets it go only
// once the job has opened the turn's lock file to wait for it; the client
// notes whether the turn had been let go when it started, and whether it
// could take the turn itself (it cannot: its job holds it).
TEST_F(DefaultClient, JobWaitsForTheTurnAnotherJobHolds) {
  const fs::path letGo = root() / "let-go";
  const fs::path note = root() / "note";
  const fs::path lock = runtimeDirectory() / mail::kClientTurnFileName;
  // An idle Claws Mail answers the query before a start at once.
  useClientNamed("claws-mail", "[ \"$1\" = --status ] && exit 0\nif [ -e '" + letGo.string() + "' ]; then echo after; else echo before; fi > '" +
                                   note.string() + "'\nif flock -n '" + lock.string() +
                                   "' true; then echo free; else echo held; fi >> '" + note.string() + "'\n");
  makeDefault("claws-mail.desktop", "%u");
  prepare(jobJson(subject("x"), "b", false));

  platform::UniqueFd turn(::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
  ASSERT_TRUE(turn);
  ASSERT_EQ(::flock(turn.get(), LOCK_EX | LOCK_NB), 0);
  const platform::UniqueFd watch(::inotify_init1(IN_CLOEXEC));
  ASSERT_TRUE(watch);
  ASSERT_GE(::inotify_add_watch(watch.get(), runtimeDirectory().c_str(), IN_OPEN), 0);
  RunResult result;
  std::thread job([&] { result = runWithDefaultClient(); });
  const bool waited = seesOpened(watch, mail::kClientTurnFileName);
  writeFile(letGo, "");
  turn.reset();
  job.join();

  EXPECT_TRUE(waited) << "the job did not go for the turn";
  expectQuietExit(result);
  EXPECT_EQ(outcome(), opened());
  EXPECT_EQ(readFile(note), "after\nheld\n") << "before: the client started in another's turn; free: its job did "
                                                  "not hold the turn";
}

// A running Claws Mail held by a dialog of an earlier request answers no
// query: the job fails without handing it the draft, which would wait
// unseen behind that dialog.
TEST_F(DefaultClient, ClawsMailHeldByADialogIsNotHandedTheDraft) {
  useClientNamed("claws-mail", "[ \"$1\" = --status ] && exec sleep 600\nexit 0\n");
  makeDefault("claws-mail.desktop", "%u");
  prepare(jobJson(subject("x"), "b", true), std::string_view("log line\n"));
  expectQuietExit(runWithDefaultClient());
  EXPECT_EQ(outcome(), failed());
  EXPECT_EQ(startedWith(), (std::vector<std::vector<std::string>>{{"--status"}})) << "the draft was handed on";

  clearCalls();
  useClientNamed("claws-mail", "exit 0\n");
  expectQuietExit(runWithDefaultClient());
  EXPECT_EQ(outcome(), opened());
  ASSERT_EQ(startedWith().size(), 2u);
  EXPECT_EQ(startedWith()[0], std::vector<std::string>{"--status"});
}

// No route asks a helper program anything: finding the client reads files,
// and the entry or MAILER's command is started by the program itself. So in
// an X session of a desktop no helper knows, with a display and no session
// bus address, nothing can autolaunch a bus (the decoys would record any
// helper), and the home is as it was but for the job's result: no ~/.dbus.
TEST_F(DefaultClient, NoRouteStartsABusOrWritesToTheHome) {
  const fs::path decoyRan = root() / "decoy-ran";
  for (const char* decoy : {"xdg-email", "xdg-open", "xdg-mime", "gio", "gdbus", "dbus-send", "dbus-launch",
                            "dbus-daemon", "kde-open", "exo-open"}) {
    writeFile(bin() / decoy, "#!/bin/sh\necho \"$0\" >> '" + decoyRan.string() + "'\n", 0755);
  }
  useClientNamed("thunderbird");
  SnapshotOptions options;
  options.skipped = {(fs::path(kDevToolDir) / "support-drafts" / kJobId).string()};
  const Environment session = {{"XDG_CURRENT_DESKTOP", "i3"}, {"DBUS_SESSION_BUS_ADDRESS", ""}};
  struct Case {
    std::string name;
    std::string desktopId;
    bool log;
    Environment overrides;
  };
  Environment mailer = session;
  mailer["MAILER"] = client().string() + " --new";
  for (const Case& c : std::vector<Case>{{"known client", "thunderbird.desktop", true, session},
                                         {"unknown handler", "my-mail-program.desktop", false, session},
                                         {"MAILER", "thunderbird.desktop", true, mailer}}) {
    SCOPED_TRACE(c.name);
    clearCalls();
    makeDefault(c.desktopId, "%u");
    prepare(jobJson(subject("x"), "b", c.log), std::string_view("log line\n"));
    const Snapshot before = takeSnapshot(home(), options);
    expectQuietExit(runWithDefaultClient(c.overrides));
    EXPECT_EQ(outcome(), opened());
    EXPECT_EQ(startedWith().size(), 1u);
    EXPECT_FALSE(fs::exists(decoyRan)) << readFile(decoyRan);
    EXPECT_FALSE(fs::exists(home() / ".dbus"));
    EXPECT_EQ(formatChanges(compareSnapshots(before, takeSnapshot(home(), options))), "");
  }
}

// An entry whose Exec wraps the client starts the wrapper with every word
// of the line, and the client gets its own start inside it: through env
// with its assignment, and through a terminal, where the client's own end,
// not the terminal's, is the outcome.
TEST_F(DefaultClient, WrappedExecRunsTheClientItWraps) {
  const fs::path variable = root() / "variable";
  useClientNamed("thunderbird", "printf '%s' \"$WRAPPED\" > '" + variable.string() + "'\n");
  makeDefaultExec("thunderbird.desktop", "env \"WRAPPED=yes it is\" \"" + client().string() + "\" -P work %u");
  prepare(jobJson(kTrickySubject, kTrickyBody, true), std::string_view("log line\n"));
  expectQuietExit(runWithDefaultClient());
  EXPECT_EQ(outcome(), opened());
  auto started = startedWith();
  ASSERT_EQ(started.size(), 1u);
  ASSERT_EQ(started[0].size(), 4u);
  EXPECT_EQ(started[0][0], "-P");
  EXPECT_EQ(started[0][1], "work");
  EXPECT_EQ(started[0][2], "-compose");
  expectArgument(started[0][3], "<fields+log>", kTrickySubject, kTrickyBody);
  EXPECT_EQ(readFile(variable), "yes it is");

  // xterm -e neomutt %u, without Terminal=true: the terminal in the line.
  useTerminal(kForegroundTerminal, "xterm");
  for (const auto& [tail, expected] : std::vector<std::pair<std::string, nlohmann::json>>{
           {"exit 1\n", failed()}, {"exit 0\n", opened()}}) {
    SCOPED_TRACE(tail);
    clearCalls();
    useClientNamed("neomutt", tail);
    makeDefaultExec("neomutt.desktop", "xterm -e neomutt %u");
    prepare(jobJson(subject("x"), "b", true), std::string_view("log line\n"));
    expectQuietExit(runWithDefaultClient());
    EXPECT_EQ(outcome(), expected);
    started = startedWith();
    ASSERT_EQ(started.size(), 2u) << "the terminal, then the client";
    EXPECT_EQ(started[0][0], "-e");
    EXPECT_EQ(fs::path(started[0][1]).filename(), kTerminalHelper);
    // The client's command goes to the helper through the channel.
    EXPECT_EQ(started[0].size(), 3u);
    expectNeoMuttArguments(started[1], subject("x"), "b");
  }
}

// A Flatpak client, named by MAILER as Flatpak exports it, cannot read the
// job's log: nothing starts for a job with one; without one it gets its own
// start.
TEST_F(DefaultClient, FlatpakMailerOpensOnlyWithoutALog) {
  writeFile(bin() / "flatpak", recordingScript("exit 0\n"), 0755);
  writeFile(bin() / "org.mozilla.Thunderbird", recordingScript("exit 0\n"), 0755);
  for (const std::string& mailer : {std::string("flatpak run --branch stable org.mozilla.Thunderbird"),
                                    std::string("org.mozilla.Thunderbird")}) {
    SCOPED_TRACE(mailer);
    clearCalls();
    expectNothingStarted(true, {{"MAILER", mailer}});

    prepare(jobJson(subject("x"), "b", false));
    expectQuietExit(runWithDefaultClient({{"MAILER", mailer}}));
    EXPECT_EQ(outcome(), opened());
    const auto started = startedWith();
    ASSERT_EQ(started.size(), 1u);
    ASSERT_GE(started[0].size(), 2u);
    const std::vector<std::string> before(started[0].begin(), started[0].end() - 2);
    EXPECT_EQ(before, mailer.starts_with("flatpak")
                          ? (std::vector<std::string>{"run", "--branch", "stable", "org.mozilla.Thunderbird"})
                          : std::vector<std::string>{});
    EXPECT_EQ(started[0][started[0].size() - 2], "-compose");
    expectArgument(started[0].back(), "<fields>", subject("x"), "b");
  }
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

// A subject that is more than one header line never reaches a client, on
// any route: the text after a line break would be read as headers of its
// own (recipients of the log among them). The job is still answered.
TEST_F(DefaultClient, SubjectThatIsNotOneLineStartsNothingOnAnyRoute) {
  const std::string injected = "Bcc: evil@example.org";
  struct Route {
    std::string name;
    std::string desktopId;
    bool terminal;
    bool mailer;
  };
  const Route routes[] = {{"MAILER", "thunderbird.desktop", false, true},
                          {"default client", "thunderbird.desktop", false, false},
                          {"unknown default client", "firefox-esr.desktop", false, false},
                          {"client in a terminal", "neomutt.desktop", true, false}};
  for (const Route& route : routes) {
    for (const std::string separator : {"\n", "\r", "\r\n", "\v", "\xC2\x85", "\xE2\x80\xA8", "\xE2\x80\xA9"}) {
      SCOPED_TRACE(route.name + ", separator " + testing::PrintToString(separator));
      clearCalls();
      makeDefault(route.desktopId, "%u", route.terminal);
      prepare(jobJson(subject("x" + separator + injected), "b", false));
      Environment overrides;
      if (route.mailer) overrides["MAILER"] = composerPath().string();
      expectQuietExit(runWithDefaultClient(overrides));
      EXPECT_EQ(outcome(), failed());
      EXPECT_TRUE(startedWith().empty()) << "a client or terminal was started";
      EXPECT_TRUE(received().empty()) << "the composer was started";
    }
  }
}

// ---------------------------------------------------------------------------
// A client in a terminal: the terminal's exit says nothing about it, the
// helper's report of the client's own end does.

class TerminalClient : public DefaultClient {
 protected:
  void SetUp() override {
    DefaultClient::SetUp();
    useClientNamed("neomutt");
    makeDefault("neomutt.desktop", "%u", true);
    prepare(jobJson(subject("x"), "b", true), std::string_view("log line\n"));
  }

  // A client left running by a test is ended here, by its own recorded
  // pid, so that it does not outlive the test.
  void TearDown() override {
    std::error_code error;
    if (fs::exists(pidFile(), error)) {
      const pid_t pid = static_cast<pid_t>(std::stol(readFile(pidFile())));
      if (pid > 1) ::kill(pid, SIGTERM);
    }
  }

  fs::path pidFile() const { return root() / "client.pid"; }
  // Empty but for the lock file through which jobs take turns.
  bool runtimeDirectoryIsEmpty() const {
    for (const auto& entry : fs::directory_iterator(runtimeDirectory())) {
      if (entry.path().filename() != mail::kClientTurnFileName) return false;
    }
    return true;
  }
};

TEST_F(TerminalClient, ClientsEndIsTheOutcomeWhateverTheTerminalDoes) {
  struct Case {
    std::string client;
    nlohmann::json outcome;
  };
  const std::vector<Case> clients = {
      {"exit 1\n", failed()}, {"kill -SEGV $$\n", failed()}, {"exit 0\n", opened()}};
  for (const std::string_view terminal : {kForegroundTerminal, kAtOnceTerminal}) {
    useTerminal(terminal);
    for (const Case& c : clients) {
      SCOPED_TRACE((terminal == kAtOnceTerminal ? "terminal returning at once, client: " : "terminal, client: ") +
                   c.client);
      clearCalls();
      useClient(c.client);
      expectQuietExit(runWithDefaultClient());
      EXPECT_EQ(outcome(), c.outcome);
      const auto started = startedWith();
      ASSERT_EQ(started.size(), 2u) << "the terminal, then the client";
      // -e, the helper and the channel's address, and nothing of the
      // draft: the client's start goes through the channel.
      ASSERT_EQ(started[0].size(), 3u);
      EXPECT_EQ(started[0][0], "-e");
      EXPECT_EQ(fs::path(started[0][1]).filename(), kTerminalHelper);
      EXPECT_EQ(fs::path(started[0][2]).parent_path().parent_path(), runtimeDirectory());
      expectNeoMuttArguments(started[1], subject("x"), "b");
      EXPECT_TRUE(runtimeDirectoryIsEmpty()) << "the channel is removed";
    }
  }
}

// Stands between the client helper and the program's channel, passing on
// everything both ways, and ends the client's grace once it has passed the
// helper's "started" to the program: the grace then ends on what the
// helper said, never on a clock.
class StartedRelay {
 public:
  StartedRelay(fs::path address, const testing_support::GraceGate& grace)
      : address_(std::move(address)), grace_(grace), listener_(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    const sockaddr_un name = socketName(address_.string());
    EXPECT_EQ(::bind(listener_.get(), reinterpret_cast<const sockaddr*>(&name), sizeof name), 0) << std::strerror(errno);
    EXPECT_EQ(::listen(listener_.get(), 1), 0);
  }
  StartedRelay(const StartedRelay&) = delete;
  StartedRelay& operator=(const StartedRelay&) = delete;
  ~StartedRelay() {
    if (thread_.joinable()) thread_.join();
  }

  const fs::path& address() const { return address_; }

  // Passes on what goes between the helper that connects here and the
  // program's channel at `channel`, from a thread of its own.
  void relayTo(std::string channel) {
    thread_ = std::thread([this, channel = std::move(channel)] {
      relay(channel);
      // Whatever happened, the program's wait ends: the test fails on it
      // rather than hangs.
      if (!toldStarted_) grace_.open();
    });
  }

 private:
  static sockaddr_un socketName(const std::string& path) {
    sockaddr_un name{};
    name.sun_family = AF_UNIX;
    EXPECT_LT(path.size(), sizeof name.sun_path);
    std::strncpy(name.sun_path, path.c_str(), sizeof name.sun_path - 1);
    return name;
  }

  void relay(const std::string& channel) {
    pollfd pending{listener_.get(), POLLIN, 0};
    if (::poll(&pending, 1, testing_support::GraceGate::kSafetyBoundMs) != 1) return;
    const platform::UniqueFd helper(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
    const platform::UniqueFd program(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const sockaddr_un name = socketName(channel);
    if (!helper || ::connect(program.get(), reinterpret_cast<const sockaddr*>(&name), sizeof name) != 0) return;
    std::string fromHelper;
    char buffer[4096];
    while (true) {
      pollfd ends[] = {{helper.get(), POLLIN, 0}, {program.get(), POLLIN, 0}};
      if (::poll(ends, 2, -1) < 0) {
        if (errno == EINTR) continue;
        return;
      }
      if (ends[1].revents != 0) {
        const ssize_t n = ::recv(program.get(), buffer, sizeof buffer, 0);
        if (n <= 0) return;  // the program has stopped listening
        if (::send(helper.get(), buffer, static_cast<std::size_t>(n), MSG_NOSIGNAL) != n) return;
      }
      if (ends[0].revents != 0) {
        const ssize_t n = ::recv(helper.get(), buffer, sizeof buffer, 0);
        if (n <= 0) {
          ::shutdown(program.get(), SHUT_WR);  // the program hears the helper go
          return;
        }
        if (::send(program.get(), buffer, static_cast<std::size_t>(n), MSG_NOSIGNAL) != n) return;
        fromHelper.append(buffer, static_cast<std::size_t>(n));
        if (!toldStarted_ && fromHelper.find("started\n") != std::string::npos) {
          toldStarted_ = true;
          grace_.open();
        }
      }
    }
  }

  fs::path address_;
  const testing_support::GraceGate& grace_;
  platform::UniqueFd listener_;
  std::thread thread_;
  bool toldStarted_ = false;
};

// A client still running with the draft at the end of the grace time is an
// open draft, though its terminal returned at once; it is left running.
// The route is carried out here with a grace that ends once the helper has
// told the program that the client started.
TEST_F(TerminalClient, ClientStillRunningIsAnOpenDraft) {
  useTerminal(kAtOnceTerminal);
  // The client says its id to the test through a pipe as well, so that the
  // test waits for it rather than for a file to appear.
  const fs::path pidPipe = root() / "client.pid.pipe";
  testing_support::makeFifo(pidPipe);
  useClient("echo $$ > '" + pidFile().string() + "'\necho $$ > '" + pidPipe.string() + "'\nexec sleep 30\n");
  mail::DraftRoute route;
  route.kind = mail::DraftRoute::Kind::Watched;
  route.launcher = {(bin() / "x-terminal-emulator").string(), "-e"};
  route.argv = {client().string()};
  mail::MailContext context = mail::mailContext(platform::processEnvironment(), "",
                                                (fs::path(SUPPORT_DRAFT_BUNDLE) / "Contents" / "MacOS").string());
  context.runtimeDirectory = runtimeDirectory();
  testing_support::GraceGate grace;
  StartedRelay relay(root() / "relay", grace);
  const mail::Launcher system = context.launch;
  context.launch.timer = [&grace](std::chrono::milliseconds) { return grace.copy(); };
  context.launch.start = [&](std::vector<std::string> command) {
    // The helper is handed the relay's address instead of the channel's.
    relay.relayTo(command.back());
    command.back() = relay.address().string();
    return system.start(command);
  };
  const mail::ServiceAnswer outcome = mail::carryOut(context, route, {});
  EXPECT_EQ(outcome.errorNumber, 0) << outcome.message;
  const pid_t pid = static_cast<pid_t>(std::atol(testing_support::readFifo(pidPipe).c_str()));
  ASSERT_GT(pid, 0) << "the client did not start";
  EXPECT_EQ(::kill(pid, 0), 0) << "the client was ended";
}

// Without a private runtime directory the client's end cannot be heard:
// nothing is started, with or without a log.
TEST_F(TerminalClient, NothingStartsWithoutAPrivateRuntimeDirectory) {
  fs::permissions(runtimeDirectory(), fs::perms::group_read | fs::perms::group_exec, fs::perm_options::add);
  for (const Environment& overrides : {Environment{{"XDG_RUNTIME_DIR", ""}}, Environment{}}) {
    for (const bool log : {true, false}) expectNothingStarted(log, overrides);
  }
}

// MAILER naming a known client, alone or as the command of a terminal
// whose other options name it too, gets the client's own start, watched
// through the helper placed right before the client.
TEST_F(TerminalClient, MailerNamingTheClientTakesItsRoute) {
  useTerminal("while [ $# -gt 0 ] && [ \"$1\" != -e ]; do shift; done\nshift\nexec \"$@\"\n", "xterm");
  for (const std::string& mailer : {client().string(), std::string("xterm -T neomutt -e neomutt")}) {
    SCOPED_TRACE(mailer);
    clearCalls();
    useClient("exit 0\n");
    expectQuietExit(runWithDefaultClient({{"MAILER", mailer}}));
    EXPECT_EQ(outcome(), opened());
    auto started = startedWith();
    ASSERT_EQ(started.size(), 2u) << "the terminal, then the client";
    // The user's terminal keeps its own words before the helper; the
    // desktop's takes it after -e.
    const std::vector<std::string> before =
        mailer.starts_with("xterm") ? std::vector<std::string>{"-T", "neomutt", "-e"} : std::vector<std::string>{"-e"};
    // The helper and the channel's address, and nothing of the draft.
    ASSERT_EQ(started[0].size(), before.size() + 2);
    EXPECT_EQ(std::vector<std::string>(started[0].begin(), started[0].begin() + static_cast<std::ptrdiff_t>(before.size())), before);
    EXPECT_EQ(fs::path(started[0][before.size()]).filename(), kTerminalHelper);
    expectNeoMuttArguments(started[1], subject("x"), "b");

    // The client's own end is the outcome, whatever the terminal says.
    clearCalls();
    useClient("exit 1\n");
    expectQuietExit(runWithDefaultClient({{"MAILER", mailer}}));
    EXPECT_EQ(outcome(), failed());
    EXPECT_EQ(startedWith().size(), 2u);
  }
}

}  // namespace
