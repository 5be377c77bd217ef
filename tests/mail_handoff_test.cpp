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
    makeDirectory(calls(), 0755);
    useComposer("");
  }

  // The composer records its arguments like every stand-in, then runs tail.
  // MAILER is a ':'-separated list of commands: its path is kept plain.
  void useComposer(std::string_view tail) { writeFile(composerPath(), recordingScript(tail), 0755); }

  fs::path composerPath() const { return world() / "composer"; }

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

  // A stand-in that writes its arguments, NUL-terminated, to a file of its
  // own per call, then runs `tail`.
  std::string recordingScript(std::string_view tail) const {
    return "#!/bin/sh\nn=$(ls '" + calls().string() + "' | wc -l)\n" +
           "if [ $# -gt 0 ]; then printf '%s\\0' \"$@\"; fi > '" + calls().string() + "'/$n\n" + std::string(tail);
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

  // Forgets the calls recorded so far.
  void clearCalls() const {
    removeTree(calls());
    makeDirectory(calls(), 0755);
  }

  const fs::path& world() const { return world_.path(); }
  fs::path calls() const { return world() / "calls"; }

 private:
  TempDir world_;
};

// ---------------------------------------------------------------------------
// Texts that survive the trip unchanged

struct TextCase {
  std::string name;
  std::string subject;
  std::string body;
  // The bundle names the tests' support address, which must reach the
  // draft encoded so that none of its characters ends the address or adds
  // a field.
  bool recipient = false;
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
      {"UriDelimiters", subject("50% off & more=less?#+"), "100% & a=b ? c # d + e / f ; g @ h %20 %zz mailto:x", true},
      {"LargestBody", subject("big"), largestBody()},
  };
}

class TextTrip : public MailHandoff, public ::testing::WithParamInterface<std::tuple<TextCase, bool>> {};

TEST_P(TextTrip, ReachesComposerUnchanged) {
  const auto& [text, attachLogs] = GetParam();
  if (text.recipient) useTestRecipient();
  prepare(jobJson(text.subject, text.body, attachLogs), std::string_view("log line\n"));
  expectQuietExit(runHandOff());
  EXPECT_EQ(outcome(), opened());

  const auto started = startedWith();
  ASSERT_EQ(started.size(), 1u) << "composer calls";
  ASSERT_EQ(started[0].size(), 1u);
  const std::string& uri = started[0][0];
  const DecodedUri decoded = decodeMailto(uri);
  ASSERT_EQ(decoded.error, "") << uri;
  std::map<std::string, std::string> expected = {{"subject", text.subject}, {"body", text.body}};
  if (attachLogs) expected["attach"] = (jobDir() / "log.txt").string();
  if (text.recipient) expected["to"] = SUPPORT_DRAFT_TEST_RECIPIENT;
  // An empty body may also be left out of the URI altogether.
  std::map<std::string, std::string> actual = decoded.fields;
  if (text.body.empty() && !actual.contains("body")) actual["body"] = "";
  EXPECT_EQ(actual, expected) << uri;
}

std::string textTripName(const ::testing::TestParamInfo<std::tuple<TextCase, bool>>& info) {
  return std::get<0>(info.param).name + (std::get<1>(info.param) ? "WithLog" : "WithoutLog");
}

INSTANTIATE_TEST_SUITE_P(Texts, TextTrip, ::testing::Combine(::testing::ValuesIn(textCases()), ::testing::Bool()),
                         textTripName);

// ---------------------------------------------------------------------------
// How the composer ends

// MAILER's commands are tried in turn until one opens the draft; a command
// holding shell syntax is run by the shell, with the URI as its last word.
// A composer that fails fails the draft when no command opens it.
TEST_F(MailHandoff, MailerListIsTriedInTurn) {
  useComposer("exit 1\n");
  prepare();
  const std::string composer = composerPath().string();
  const fs::path second = root() / "second";
  writeFile(second, recordingScript(""), 0755);
  expectQuietExit(runHandOff({}, {{"MAILER", composer + "::" + second.string() + " \"$HOME\""}}));
  EXPECT_EQ(outcome(), opened());
  const auto started = startedWith();
  ASSERT_EQ(started.size(), 2u) << "the first command was not tried";
  ASSERT_EQ(started[1].size(), 2u);
  EXPECT_EQ(started[1][0], home().string());
  EXPECT_TRUE(started[1][1].starts_with("mailto:")) << started[1][1];

  // None opens it: the draft fails.
  clearCalls();
  expectQuietExit(runHandOff({}, {{"MAILER", composer + ":" + composer}}));
  EXPECT_EQ(startedWith().size(), 2u);
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
  EXPECT_EQ(startedWith().size(), 1u) << "the composer was not reached";
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
  EXPECT_EQ(startedWith().size(), 1u) << "the composer was not reached";
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
// receive, in the patterns of testing_support::argumentMismatch (the body
// of Thunderbird's "<fields>" and NeoMutt's "<draftfile>" read from the
// job's texts file).
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
    for (const char* dir : {"config", "data", "data/applications", "dirs", "bin"}) {
      makeDirectory(world() / dir, 0755);
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
    for (const fs::path& dir : {home(), home() / ".claws-mail", home() / ".thunderbird",
                                home() / ".thunderbird" / "t.default-esr"}) {
      makeDirectory(dir, 0700);
    }
    writeFile(home() / ".thunderbird" / "profiles.ini",
              "[General]\nStartWithLastProfile=1\nVersion=2\n\n[Profile0]\nName=default-esr\nIsRelative=1\n"
              "Path=t.default-esr\n\n[InstallFDC34C9F024745EB]\nDefault=t.default-esr\nLocked=1\n");
    writeFile(home() / ".thunderbird" / "t.default-esr" / "prefs.js",
              "user_pref(\"mail.account.account1.identities\", \"id1\");\n"
              "user_pref(\"mail.accountmanager.accounts\", \"account1\");\n");
    writeFile(home() / ".claws-mail" / "accountrc", "[Account: 1]\naddress=test@example.org\n");
    writeFile(home() / ".claws-mail" / "folderlist.xml", "<folderlist>\n<folder type=\"mh\" name=\"Mailbox\" path=\"Mail\">\n");
    writeFile(world() / "config" / "emailidentities", "[Identity #0]\nEmail Address=test@example.org\n", 0644);
  }

  // The stand-in client records its arguments, then runs `tail`.
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
    writeFile(world() / "bin" / name, recordingScript(tail), 0755);
  }

  // Like xterm: runs the command after -e and ends with it.
  static constexpr std::string_view kForegroundTerminal = "[ \"$1\" = -e ] && shift\nexec \"$@\"\n";
  // Like GNOME's terminal: hands the command on and returns at once.
  static constexpr std::string_view kAtOnceTerminal =
      "[ \"$1\" = -e ] && shift\n\"$@\" </dev/null >/dev/null 2>&1 &\nexit 0\n";
  static constexpr std::string_view kTerminalHelper = "support-draft-terminal";

  void makeDefault(const std::string& desktopId, const std::string& execTail, bool terminal = false) {
    makeDefaultExec(desktopId, "\"" + client().string() + "\" " + execTail, terminal);
  }

  // The default handler's entry with the whole Exec value given.
  void makeDefaultExec(const std::string& desktopId, const std::string& exec, bool terminal = false) {
    writeFile(world() / "config" / "mimeapps.list",
              "[Default Applications]\nx-scheme-handler/mailto=" + desktopId + "\n", 0644);
    writeFile(world() / "data" / "applications" / desktopId,
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
    env["PATH"] = (world() / "bin").string() + ":/usr/bin:/bin";
    env["DISPLAY"] = ":0";  // xdg-email's generic route opens URIs only on a display
    env["XDG_CONFIG_HOME"] = (world() / "config").string();
    env["XDG_DATA_HOME"] = (world() / "data").string();
    env["XDG_DATA_DIRS"] = (world() / "dirs").string();
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

  fs::path client() const { return world() / "bin" / clientName_; }
  fs::path configHome() const { return world() / "config"; }
  fs::path runtimeDirectory() const { return world() / "runtime"; }
  fs::path bin() const { return world() / "bin"; }

  // A job with or without a log whose draft must fail with nothing started
  // (no client, terminal or browser).
  void expectNothingStarted(bool log, const Environment& overrides = {}) {
    prepare(jobJson(subject("x"), "b", log), std::string_view("log line\n"));
    expectQuietExit(runWithDefaultClient(overrides));
    EXPECT_EQ(outcome(), failed());
    EXPECT_TRUE(startedWith().empty()) << "something was started";
  }

  // The draft the job asked for, as a client's start must describe it.
  ExpectedDraft draft(const std::string& subjectText = subject("x"), const std::string& bodyText = "b") const {
    return {subjectText, bodyText, SUPPORT_DRAFT_TEST_RECIPIENT, (jobDir() / "log.txt").string(),
            (jobDir() / "draft.txt").string()};
  }

  // The terminal's start (its own words, then the helper and the channel's
  // address, and nothing of the draft) and the client's start after it.
  void expectTerminalThenClient(const std::vector<std::string>& terminalWords,
                                const std::vector<std::string>& clientWords,
                                const std::optional<ExpectedDraft>& expected = std::nullopt) const {
    const auto started = startedWith();
    ASSERT_EQ(started.size(), 2u) << "the terminal, then the client";
    const std::size_t n = terminalWords.size();
    ASSERT_EQ(started[0].size(), n + 2);
    EXPECT_EQ(std::vector<std::string>(started[0].begin(), started[0].begin() + static_cast<std::ptrdiff_t>(n)),
              terminalWords);
    EXPECT_EQ(fs::path(started[0][n]).filename(), kTerminalHelper);
    EXPECT_EQ(fs::path(started[0][n + 1]).parent_path().parent_path(), runtimeDirectory());
    EXPECT_EQ(argumentsMismatch(started[1], clientWords, expected ? *expected : draft()), "");
  }

 private:
  std::string clientName_ = "client";
};

class KnownClient : public DefaultClient, public ::testing::WithParamInterface<ClientCase> {};

// Texts built to break a comma-separated field list or a quoted value.
const std::string kTrickySubject = subject(R"(a,b='c' "q" ,to='x@example.org')");
const std::string kTrickyBody = "x',attachment='/etc/passwd\n\t50% & more";

// Thunderbird and NeoMutt read the texts from the job's own file, private
// to the user, so the body is in no word of any program started: the
// patterns allow it nowhere else, and a terminal's words are its own. A
// later run of the job, with the largest body of non-ASCII letters and
// escapes, replaces the file.
TEST_P(KnownClient, ReceivesTheArgumentsOfItsRoute) {
  const ClientCase& c = GetParam();
  useClientNamed(c.program);
  makeDefault(c.desktopId, c.execTail, c.terminal);
  for (const auto& [subjectText, body] : {std::pair{kTrickySubject, kTrickyBody}, {subject("y"), largestBody()}}) {
    clearCalls();
    prepare(jobJson(subjectText, body, true), std::string_view("log line\n"));
    expectQuietExit(runWithDefaultClient());
    EXPECT_EQ(outcome(), opened());
    // A terminal client is started by the terminal (the first call), which
    // runs the helper, which starts the client.
    if (c.terminal) {
      expectTerminalThenClient({"-e"}, c.expected, draft(subjectText, body));
    } else {
      ASSERT_EQ(startedWith().size(), 1u) << "calls of the stand-ins";
      EXPECT_EQ(argumentsMismatch(startedWith()[0], c.expected, draft(subjectText, body)), "");
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Clients, KnownClient, ::testing::ValuesIn(clientCases()),
                         [](const auto& info) { return info.param.name; });

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
  EXPECT_EQ(argumentsMismatch(startedWith()[0], {"<uri>"}, draft()), "");

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
    std::vector<std::string> expected;
  };
  Environment mailer = session;
  mailer["MAILER"] = client().string() + " --new";
  // An entry of an id no client has that starts a known client gets the
  // client's own start; MAILER goes before the default client.
  for (const Case& c : std::vector<Case>{
           {"known client", "thunderbird.desktop", true, session, {"-compose", "<fields+log>"}},
           {"unknown handler", "my-mail-program.desktop", false, session, {"-compose", "<fields>"}},
           {"MAILER", "thunderbird.desktop", true, mailer, {"--new", "-compose", "<fields+log>"}}}) {
    SCOPED_TRACE(c.name);
    clearCalls();
    makeDefault(c.desktopId, "%u");
    prepare(jobJson(subject("x"), "b", c.log), std::string_view("log line\n"));
    const Snapshot before = takeSnapshot(home(), options);
    expectQuietExit(runWithDefaultClient(c.overrides));
    EXPECT_EQ(outcome(), opened());
    ASSERT_EQ(startedWith().size(), 1u);
    EXPECT_EQ(argumentsMismatch(startedWith()[0], c.expected, draft()), "");
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
  ASSERT_EQ(startedWith().size(), 1u);
  EXPECT_EQ(argumentsMismatch(startedWith()[0], {"-P", "work", "-compose", "<fields+log>"},
                              draft(kTrickySubject, kTrickyBody)),
            "");
  EXPECT_EQ(readFile(variable), "yes it is");

  // xterm -e neomutt %u, without Terminal=true: the terminal in the line,
  // with the helper before the client.
  useTerminal(kForegroundTerminal, "xterm");
  clearCalls();
  useClientNamed("neomutt", "exit 0\n");
  makeDefaultExec("neomutt.desktop", "xterm -e neomutt %u");
  prepare(jobJson(subject("x"), "b", true), std::string_view("log line\n"));
  expectQuietExit(runWithDefaultClient());
  EXPECT_EQ(outcome(), opened());
  expectTerminalThenClient({"-e"}, {"-H", "<draftfile>", "-a", "<log>", "--"});
}

// A subject that is more than one header line never reaches a client: the
// text after a line break would be read as headers of its own (recipients
// of the log among them). The job is still answered. Which characters end
// a header line is a unit test of the header line; that the check comes
// before any route is chosen, one of the mail service.
TEST_F(DefaultClient, SubjectThatIsNotOneLineStartsNothing) {
  for (const auto& [separator, mailer] : {std::pair{"\r\n", true}, {"\xE2\x80\xA8", false}}) {
    SCOPED_TRACE(mailer ? "MAILER" : "default client");
    clearCalls();
    makeDefault("thunderbird.desktop", "%u");
    prepare(jobJson(subject(std::string("x") + separator + "Bcc: evil@example.org"), "b", false));
    Environment overrides;
    if (mailer) overrides["MAILER"] = composerPath().string();
    expectQuietExit(runWithDefaultClient(overrides));
    EXPECT_EQ(outcome(), failed());
    EXPECT_TRUE(startedWith().empty()) << "a client or composer was started";
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
      expectTerminalThenClient({"-e"}, {"-H", "<draftfile>", "-a", "<log>", "--"});
      EXPECT_TRUE(runtimeDirectoryIsEmpty()) << "the channel is removed";
    }
  }
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
// through the helper placed right before the client (whose own end is then
// the outcome, as ClientsEndIsTheOutcomeWhateverTheTerminalDoes shows).
TEST_F(TerminalClient, MailerNamingTheClientTakesItsRoute) {
  useTerminal("while [ $# -gt 0 ] && [ \"$1\" != -e ]; do shift; done\nshift\nexec \"$@\"\n", "xterm");
  for (const std::string& mailer : {client().string(), std::string("xterm -T neomutt -e neomutt")}) {
    SCOPED_TRACE(mailer);
    clearCalls();
    useClient("exit 0\n");
    expectQuietExit(runWithDefaultClient({{"MAILER", mailer}}));
    EXPECT_EQ(outcome(), opened());
    // The user's terminal keeps its own words before the helper; the
    // desktop's takes it after -e.
    expectTerminalThenClient(mailer.starts_with("xterm") ? std::vector<std::string>{"-T", "neomutt", "-e"}
                                                         : std::vector<std::string>{"-e"},
                             {"-H", "<draftfile>", "-a", "<log>", "--"});
  }
}

}  // namespace
