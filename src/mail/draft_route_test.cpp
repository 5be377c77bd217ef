#include "mail/draft_route.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <tuple>

#include "testing/mailto.h"

namespace mail {
namespace {

using Words = std::vector<std::string>;

const Draft kWithLog{"Support Request - Quorvel x", "a b", "/home/u/log.txt", ""};
const Draft kWithoutLog{"Support Request - Quorvel x", "a b", "", ""};
const std::string kUri = "mailto:?subject=Support%20Request%20-%20Quorvel%20x&body=a%20b";
const std::string kUriWithLog = kUri + "&attach=%2Fhome%2Fu%2Flog.txt";
const std::string kFields = "subject=Support%20Request%20-%20Quorvel%20x,body=a%20b";
const std::string kFieldsWithLog = kFields + ",attachment='file:///home/u/log.txt'";

// An Exec line's words as the entry reader gives them: %u %U %f %F mark
// the target.
std::vector<ExecWord> execOf(const Words& words) {
  std::vector<ExecWord> exec;
  for (const std::string& word : words) {
    exec.push_back({word, word.size() == 2 && word[0] == '%' && std::string_view("uUfF").find(word[1]) != std::string_view::npos});
  }
  return exec;
}

MailFacts facts(std::string id, Words exec, bool terminal = false) {
  MailFacts f;
  f.handlerId = std::move(id);
  f.exec = execOf(exec);
  f.terminal = terminal;
  f.privateChannel = true;
  return f;
}

// A client's start in patterns (see testing_support::argumentMismatch),
// and the same with the texts of kWithLog in their place.
Words render(const Words& patterns) {
  const std::map<std::string, std::string> texts = {
      {"<uri>", kUri},       {"<uri+log>", kUriWithLog}, {"<fields>", kFields}, {"<fields+log>", kFieldsWithLog},
      {"<log>", "/home/u/log.txt"}, {"<logurl>", "file:///home/u/log.txt"}};
  Words words;
  for (const std::string& pattern : patterns) {
    const auto open = pattern.find('<');
    words.push_back(open == std::string::npos ? pattern : pattern.substr(0, open) + texts.at(pattern.substr(open)));
  }
  return words;
}

// Texts built to break a URI, a comma-separated field list or a quoted
// value, a home path with a blank, a comma, an apostrophe and a non-ASCII
// letter, and a recipient whose characters would end the address or add a
// field unless encoded: every route must carry each of them whole.
const Draft kTricky{"Support Request - Quorvel a,b='c' \"q\" ,to='x@example.org' 50% & more=less?#+",
                    "x',attachment='/etc/passwd\n\t100% & a=b ? c # d \\n T\xC3\xBCrk\xC3\xA7" "e\r\n",
                    "/home/O'Neil, J\xC3\xB6rg/.vantrel-devtool-dev/support-drafts/j/log.txt",
                    "help+desk&to=x@support.example.org"};
const testing_support::ExpectedDraft kTrickyExpected{kTricky.subject, kTricky.body, kTricky.recipient,
                                                     kTricky.attachment, ""};

// Each known client gets its own start, with the program its desktop entry
// names (or, under an id no client has, its program alone); clients that
// drop attach= get their own attachment options.
TEST(DraftRouteTest, EachKnownClientGetsItsOwnStart) {
  struct Case {
    MailFacts facts;
    Words withLog;
    Words withoutLog;
  };
  const std::map<std::string, Case> cases = {
      {"thunderbird", {facts("thunderbird.desktop", {"/usr/bin/thunderbird", "%u"}),
                       {"/usr/bin/thunderbird", "-compose", "<fields+log>"}, {"/usr/bin/thunderbird", "-compose", "<fields>"}}},
      {"icedove", {facts("icedove.desktop", {"icedove", "%u"}), {"icedove", "-compose", "<fields+log>"},
                   {"icedove", "-compose", "<fields>"}}},
      {"evolution", {facts("org.gnome.Evolution.desktop", {"evolution", "%U"}), {"evolution", "<uri+log>"},
                     {"evolution", "<uri>"}}},
      {"claws", {facts("claws-mail.desktop", {"claws-mail", "%u"}), {"claws-mail", "<uri+log>"}, {"claws-mail", "<uri>"}}},
      {"sylpheed", {facts("sylpheed.desktop", {"sylpheed", "%u"}), {"sylpheed", "--compose", "<uri>", "--attach", "<log>"},
                    {"sylpheed", "--compose", "<uri>"}}},
      {"balsa", {facts("balsa-mailto-handler.desktop", {"balsa", "-m", "%U"}),
                 {"balsa", "--compose=<uri>", "--attach=<logurl>"}, {"balsa", "--compose=<uri>"}}},
      {"neomutt", {facts("neomutt.desktop", {"neomutt", "%u"}, true), {"neomutt", "-a", "<log>", "--", "<uri>"},
                   {"neomutt", "<uri>"}}},
      {"geary", {facts("org.gnome.Geary.desktop", {"geary", "%U"}), {"geary", "<uri+log>"}, {"geary", "<uri>"}}},
      {"kmail", {facts("org.kde.kmail2.desktop", {"kmail", "-qwindowtitle", "KMail", "%u"}),
                 {"kmail", "-qwindowtitle", "KMail", "<uri+log>"}, {"kmail", "-qwindowtitle", "KMail", "<uri>"}}},
  };
  for (const auto& [name, c] : cases) {
    SCOPED_TRACE(name);
    const DraftRoute withLog = decideRoute(c.facts, kWithLog);
    // A terminal client is watched through the helper: the terminal's own
    // exit says nothing about it.
    EXPECT_EQ(withLog.kind, name == "neomutt" ? DraftRoute::Kind::Watched : DraftRoute::Kind::Start);
    const Words launcher = name == "neomutt" ? Words{"x-terminal-emulator", "-e"} : Words{};
    EXPECT_EQ(withLog.launcher, launcher);
    EXPECT_EQ(withLog.argv, render(c.withLog));
    EXPECT_EQ(decideRoute(c.facts, kWithoutLog).argv, render(c.withoutLog));
    EXPECT_EQ(withLog.verdict, name == "geary" ? Verdict::ForwarderMayExit255 : Verdict::ExitStatus);
    EXPECT_EQ(withLog.startAloneFirst, name == "balsa" ? Words{"balsa"} : Words{});
    EXPECT_EQ(withLog.busyProbe, name == "claws" ? (Words{"claws-mail", "--status"}) : Words{});
    MailFacts byProgram = c.facts;
    byProgram.handlerId = "x";
    EXPECT_EQ(testing_support::argumentsMismatch(decideRoute(byProgram, kTricky).argv, c.withLog, kTrickyExpected), "");
  }
}

// With a private texts file, Thunderbird takes the body and NeoMutt the
// whole draft from it: no text of the body is in their arguments, and the
// file's bytes are exactly what each reads. Where the file cannot serve (a
// Flatpak client, a path Thunderbird's field cannot hold, another client,
// an empty body) the texts go in the arguments as without a file.
TEST(DraftRouteTest, TextsFileTakesTheBodyOutOfTheArguments) {
  const std::string file = "/home/O'Neil, J\xC3\xB6rg/job/draft.txt";
  const Draft draft{"Support Request - Quorvel x", "body, it's \xE6\x97\xA5\r\nline two", "/home/u/log.txt",
                    "support@example.org"};
  const auto withFile = [&](MailFacts f, std::string path = "") {
    f.textsFile = path.empty() ? file : path;
    return f;
  };
  const DraftRoute tb = decideRoute(withFile(facts("thunderbird.desktop", {"thunderbird", "%u"})), draft);
  EXPECT_EQ(tb.argv, (Words{"thunderbird", "-compose",
                            "to=support@example.org,subject=Support%20Request%20-%20Quorvel%20x,message=\"" + file +
                                "\",attachment='file:///home/u/log.txt'"}));
  EXPECT_EQ(tb.textsFileBytes, draft.body);

  const DraftRoute mutt = decideRoute(withFile(facts("neomutt.desktop", {"neomutt", "%u"}, true)), draft);
  EXPECT_EQ(mutt.kind, DraftRoute::Kind::Watched);
  EXPECT_EQ(mutt.argv, (Words{"neomutt", "-H", file, "-a", "/home/u/log.txt", "--"}));
  EXPECT_EQ(mutt.textsFileBytes, "To: support@example.org\nSubject: =?UTF-8?B?U3VwcG9ydCBSZXF1ZXN0IC0gUXVvcnZlbCB4?=\n\n" +
                                     draft.body);
  Draft noLog = draft;
  noLog.attachment.clear();
  noLog.recipient.clear();
  const DraftRoute muttNoLog = decideRoute(withFile(facts("neomutt.desktop", {"neomutt", "%u"}, true)), noLog);
  EXPECT_EQ(muttNoLog.argv, (Words{"neomutt", "-H", file}));
  EXPECT_EQ(muttNoLog.textsFileBytes, "Subject: =?UTF-8?B?U3VwcG9ydCBSZXF1ZXN0IC0gUXVvcnZlbCB4?=\n\n" + draft.body);
  MailFacts mailer = withFile(facts("", {}));
  mailer.mailer = "xterm -e neomutt";
  EXPECT_EQ(decideRoute(mailer, noLog).argv, (Words{"neomutt", "-H", file}));

  const std::string encodedBody = "body%2C%20it%27s%20%E6%97%A5%0D%0Aline%20two";
  const MailFacts flatpakTb = withFile(facts("org.mozilla.Thunderbird.desktop",
                                             {"flatpak", "run", "org.mozilla.Thunderbird", "%u"}));
  struct Case {
    std::string name;
    MailFacts facts;
    Draft draft;
  };
  Draft empty = noLog;
  empty.body.clear();
  const std::vector<Case> inArguments = {
      {"flatpak", flatpakTb, noLog},
      {"double quote", withFile(facts("thunderbird.desktop", {"thunderbird", "%u"}), "/home/a\"b/draft.txt"), noLog},
      {"percent", withFile(facts("thunderbird.desktop", {"thunderbird", "%u"}), "/home/a%41/draft.txt"), noLog},
      {"backslash", withFile(facts("thunderbird.desktop", {"thunderbird", "%u"}), "/home/a\\b/draft.txt"), noLog},
      {"no file", facts("thunderbird.desktop", {"thunderbird", "%u"}), noLog},
      {"sylpheed", withFile(facts("sylpheed.desktop", {"sylpheed", "%u"})), noLog},
      {"empty body", withFile(facts("thunderbird.desktop", {"thunderbird", "%u"})), empty},
  };
  for (const Case& c : inArguments) {
    const DraftRoute route = decideRoute(c.facts, c.draft);
    EXPECT_FALSE(route.textsFileBytes) << c.name;
    const bool bodyInArguments = std::any_of(route.argv.begin(), route.argv.end(), [&](const std::string& word) {
      return word.find(c.draft.body.empty() ? "body=" : encodedBody) != std::string::npos;
    });
    EXPECT_TRUE(bodyInArguments) << c.name;
  }
}

// Claws Mail is asked whether its running instance is free with the words
// that would start it, wrappers and a Flatpak's own options kept, its
// target and file-forwarding marks not.
TEST(DraftRouteTest, ClawsMailIsQueriedThroughTheWordsThatStartIt) {
  EXPECT_EQ(decideRoute(facts("claws-mail.desktop", {"env", "GTK_THEME=x", "claws-mail", "--alternate-config-dir", "/c", "%u"}),
                        kWithLog).busyProbe,
            (Words{"env", "GTK_THEME=x", "claws-mail", "--alternate-config-dir", "/c", "--status"}));
  EXPECT_EQ(decideRoute(facts("org.claws_mail.Claws-Mail.desktop",
                              {"flatpak", "run", "--command=claws-mail", "--file-forwarding",
                               "org.claws_mail.Claws-Mail", "@@u", "%u", "@@"}),
                        kWithoutLog).busyProbe,
            (Words{"flatpak", "run", "--command=claws-mail", "--file-forwarding", "org.claws_mail.Claws-Mail", "--status"}));
  MailFacts mailer = facts("", {});
  mailer.mailer = "claws-mail --compose";
  EXPECT_EQ(decideRoute(mailer, kWithLog).busyProbe, (Words{"claws-mail", "--status"}));
  // A program that is not Claws Mail itself is never queried.
  EXPECT_TRUE(decideRoute(facts("claws-mail.desktop", {"sh", "-c", "claws-mail \"$1\"", "sh", "%u"}), kWithLog)
                  .busyProbe.empty());
}

TEST(DraftRouteTest, DesktopIdsAreRecognisedWithoutCaseOrSuffix) {
  EXPECT_EQ(clientForDesktopId("org.mozilla.Thunderbird.desktop"), Client::Thunderbird);
  EXPECT_EQ(clientForDesktopId("eu.betterbird.Betterbird"), Client::Thunderbird);
  EXPECT_EQ(clientForDesktopId("ORG.KDE.KMAIL2.DESKTOP"), Client::KMail);
  EXPECT_EQ(clientForDesktopId("firefox-esr.desktop"), Client::Unknown);
  EXPECT_EQ(clientForDesktopId("thunderbird.desktop.evil"), Client::Unknown);
  EXPECT_EQ(clientForDesktopId(""), Client::Unknown);
}

// Inside the sandbox a log goes only to a backend known to carry it; the
// route names the backend, whose answer is read its own way.
TEST(DraftRouteTest, SandboxAdmitsTheLogWhereTheBackendCarriesIt) {
  MailFacts f;
  f.sandboxed = true;
  for (const PortalBackend backend : {PortalBackend::Gtk, PortalBackend::Kde, PortalBackend::Unknown}) {
    f.portalBackend = backend;
    const DraftRoute withLog = decideRoute(f, kWithLog);
    EXPECT_EQ(withLog.kind, backend == PortalBackend::Kde ? DraftRoute::Kind::Portal : DraftRoute::Kind::Refuse);
    const DraftRoute withoutLog = decideRoute(f, kWithoutLog);
    EXPECT_EQ(withoutLog.kind, DraftRoute::Kind::Portal);
    EXPECT_EQ(withoutLog.portalBackend, backend);
  }
  // Texts the KDE backend would alter are not asked for; those it carries
  // are. The portal takes the address as it is: only one that no client
  // reads differently goes.
  using K = DraftRoute::Kind;
  for (const auto& [backend, draft, kind] : std::vector<std::tuple<PortalBackend, Draft, K>>{
           {PortalBackend::Kde, {"Support Request - Quorvel 100%20", "b", "", ""}, K::Refuse},
           {PortalBackend::Kde, {"Support Request - Quorvel x", "it's', b", "", ""}, K::Refuse},
           {PortalBackend::Kde, {"Support Request - Quorvel x", "a%20b", "", ""}, K::Refuse},
           {PortalBackend::Kde, {"Support Request - Quorvel x', y", "b", "", ""}, K::Refuse},
           {PortalBackend::Kde, {"Support Request - Quorvel 100%", "it's", "/home/Neil J/log.txt", ""}, K::Portal},
           {PortalBackend::Kde, {"Support Request - Quorvel x", "b", "/home/Neil, J/log.txt", ""}, K::Refuse},
           {PortalBackend::Kde, {"Support Request - Quorvel a,b", "c, d", "/home/Neil J/log.txt", ""}, K::Portal},
           {PortalBackend::Kde, {"Support Request - Quorvel x", "b", "", "help+desk@example.org"}, K::Portal},
           {PortalBackend::Gtk, {"Support Request - Quorvel x", "b", "", "a&b=c@example.org"}, K::Refuse}}) {
    f.portalBackend = backend;
    EXPECT_EQ(decideRoute(f, draft).kind, kind) << draft.subject << " | " << draft.body << " | " << draft.attachment;
  }
}

// The GTK backend's attachment= reaches Evolution: a log goes when the
// user's own list, read at its place outside the sandbox, names it as the
// mailto handler, and only on that backend.
TEST(DraftRouteTest, SandboxAdmitsTheLogForEvolutionOnTheGtkBackend) {
  MailFacts f;
  f.sandboxed = true;
  struct Case {
    PortalBackend backend;
    std::string handler;
    DraftRoute::Kind withLog;
  };
  const Case cases[] = {
      {PortalBackend::Gtk, "org.gnome.Evolution.desktop", DraftRoute::Kind::Portal},
      {PortalBackend::Gtk, "evolution.desktop", DraftRoute::Kind::Portal},
      {PortalBackend::Gtk, "thunderbird.desktop", DraftRoute::Kind::Refuse},
      {PortalBackend::Gtk, "", DraftRoute::Kind::Refuse},
      {PortalBackend::Unknown, "org.gnome.Evolution.desktop", DraftRoute::Kind::Refuse},
  };
  for (const Case& c : cases) {
    f.portalBackend = c.backend;
    f.userMailtoHandler = c.handler;
    const DraftRoute route = decideRoute(f, kWithLog);
    EXPECT_EQ(route.kind, c.withLog) << c.handler;
    if (route.kind == DraftRoute::Kind::Portal) {
      EXPECT_EQ(route.portalBackend, PortalBackend::Gtk);
    }
  }
}

// A sandbox that may run the desktop helper on the host sends every draft
// there, log and texts included, whatever the portal would carry: the host
// decides with its own facts.
TEST(DraftRouteTest, SandboxWithTheHostsHelperSendsTheDraftToTheHost) {
  MailFacts f;
  f.sandboxed = true;
  f.portalBackend = PortalBackend::Gtk;
  f.hostDesktopHelper = "/var/lib/flatpak/app/x/files/SupportDraft.app/Contents/MacOS/support-draft-desktop";
  for (const Draft& draft : {kWithLog, kWithoutLog, Draft{"Support Request - Quorvel 100%", "it's", "", ""}}) {
    const DraftRoute route = decideRoute(f, draft);
    EXPECT_EQ(route.kind, DraftRoute::Kind::Host) << draft.subject;
    EXPECT_EQ(route.argv, Words{f.hostDesktopHelper});
  }
  // Outside a sandbox the helper's path means nothing.
  f.sandboxed = false;
  EXPECT_NE(decideRoute(f, kWithoutLog).kind, DraftRoute::Kind::Host);
}

struct RouteCase {
  std::string name;
  MailFacts facts;
  const Draft* draft;
  DraftRoute::Kind kind;
  Words launcher;
  Words argv;
  Verdict verdict = Verdict::ExitStatus;
};

// A refused route starts nothing.
void expectRoutes(const std::vector<RouteCase>& cases) {
  for (const RouteCase& c : cases) {
    const DraftRoute route = decideRoute(c.facts, *c.draft);
    EXPECT_EQ(route.kind, c.kind) << c.name;
    EXPECT_EQ(route.launcher, c.launcher) << c.name;
    EXPECT_EQ(route.argv, render(c.argv)) << c.name;
    EXPECT_EQ(route.verdict, c.verdict) << c.name;
  }
}

MailFacts mailerFacts(std::string mailer, MailFacts f = facts("thunderbird.desktop", {"thunderbird", "%u"})) {
  f.mailer = std::move(mailer);
  return f;
}

// Facts of a session where a client's end cannot be heard: no private
// channel for the terminal helper.
MailFacts withoutChannel(MailFacts f) {
  f.privateChannel = false;
  return f;
}

MailFacts inSandbox(MailFacts f) {
  f.sandboxed = true;
  return f;
}

// The default handler's entry starts with every word of its Exec line. The
// client's own arguments go in place of its target only where the program
// the line finally runs is that client; otherwise the entry gets the URI,
// and a log only where the entry's client is known to take attach=.
TEST(DraftRouteTest, DefaultHandlerStartsWithItsWholeExecLine) {
  using K = DraftRoute::Kind;
  const Draft* log = &kWithLog;
  const Draft* none = &kWithoutLog;
  const Words shNeoMutt = {"sh", "-c", "neomutt \"$1\"", "sh", "%u"};
  const Words shClaws = {"sh", "-c", "claws-mail \"$1\"", "sh", "%u"};
  const Words flatpakTb = {"/usr/bin/flatpak", "run", "--branch=stable", "--command=thunderbird",
                           "--file-forwarding", "org.mozilla.Thunderbird", "@@u", "%u", "@@"};
  expectRoutes({
      {"terminal in the line", facts("neomutt.desktop", {"xterm", "-e", "neomutt", "%u"}), log, K::Watched,
       {"xterm", "-e"}, {"neomutt", "-a", "<log>", "--", "<uri>"}},
      {"terminal in the line and Terminal=true", facts("neomutt.desktop", {"xterm", "-e", "neomutt", "%u"}, true), log,
       K::Watched, {"x-terminal-emulator", "-e", "xterm", "-e"}, {"neomutt", "-a", "<log>", "--", "<uri>"}},
      {"env wrapper", facts("thunderbird.desktop", {"env", "GTK_THEME=x", "thunderbird", "%u"}), log, K::Start, {},
       {"env", "GTK_THEME=x", "thunderbird", "-compose", "<fields+log>"}},
      {"profile option kept", facts("thunderbird.desktop", {"thunderbird", "-P", "work", "%u", "-x"}), log,
       K::Start, {}, {"thunderbird", "-P", "work", "-compose", "<fields+log>", "-x"}},
      {"shell running a client that drops attach=", facts("neomutt.desktop", shNeoMutt), log, K::Refuse, {}, {}},
      {"shell running it without a log", facts("neomutt.desktop", shNeoMutt), none, K::Start, {},
       {"sh", "-c", "neomutt \"$1\"", "sh", "<uri>"}},
      {"shell running a client that takes attach=", facts("claws-mail.desktop", shClaws), log, K::Start, {},
       {"sh", "-c", "claws-mail \"$1\"", "sh", "<uri+log>"}},
      {"another program named by a client's id",
       facts("thunderbird.desktop", {"/usr/lib/thunderbird/thunderbird-bin", "%u"}), log, K::Refuse, {}, {}},
      {"unknown terminal client without a log", facts("mutt.desktop", {"mutt", "%u"}, true), none, K::Watched,
       {"x-terminal-emulator", "-e"}, {"mutt", "<uri>"}},
      {"unknown terminal client with a log", facts("mutt.desktop", {"mutt", "%u"}, true), log, K::Refuse, {}, {}},
      {"client's own compose option gives way", facts("sylpheed.desktop", {"sylpheed", "--compose", "%u"}), log,
       K::Start, {}, {"sylpheed", "--compose", "<uri>", "--attach", "/home/u/log.txt"}},
      {"no field code", facts("sylpheed.desktop", {"sylpheed"}), none, K::Start, {}, {"sylpheed", "--compose", "<uri>"}},
      {"Flatpak through env", facts("x.desktop", {"env", "A=b", "flatpak", "run", "org.gnome.Evolution", "%U"}), none,
       K::Start, {}, {"env", "A=b", "flatpak", "run", "org.gnome.Evolution", "<uri>"}},
      {"unknown Flatpak application without a log",
       facts("org.example.Mail.desktop", {"flatpak", "run", "org.example.Mail", "@@u", "%u", "@@"}), none, K::Start,
       {}, {"flatpak", "run", "org.example.Mail", "@@u", "<uri>", "@@"}},
      {"no entry", facts("thunderbird.desktop", {}), none, K::Refuse, {}, {}},
      {"no entry, with a log", facts("thunderbird.desktop", {}), log, K::Refuse, {}, {}},
      {"no handler at all", facts("", {}), log, K::Refuse, {}, {}},
      // Without a log every mailto: handler will do: its entry gets the URI.
      {"browser", facts("firefox-esr.desktop", {"firefox-esr", "--new-tab", "%u", "--x"}), none, K::Start, {},
       {"firefox-esr", "--new-tab", "<uri>", "--x"}},
      {"browser with a log", facts("firefox-esr.desktop", {"firefox-esr", "%u"}), log, K::Refuse, {}, {}},
      // A Flatpak client starts as its entry says, up to the field codes; a
      // log is refused, since the sandboxed client may not see it.
      {"Flatpak client", facts("org.mozilla.Thunderbird.desktop", flatpakTb), none, K::Start, {},
       {"/usr/bin/flatpak", "run", "--branch=stable", "--command=thunderbird", "--file-forwarding",
        "org.mozilla.Thunderbird", "-compose", "<fields>"}},
      {"Flatpak client with a log", facts("org.mozilla.Thunderbird.desktop", flatpakTb), log, K::Refuse, {}, {}},
      // A client in a terminal is only started where its end can be heard.
      {"terminal client without a channel", withoutChannel(facts("neomutt.desktop", {"neomutt", "%u"}, true)), log,
       K::Refuse, {}, {}},
      {"terminal client without a channel or a log",
       withoutChannel(facts("neomutt.desktop", {"neomutt", "%u"}, true)), none, K::Refuse, {}, {}},
      // An entry that takes files, or nothing, cannot be handed a URI.
      {"files only", facts("x.desktop", {"mail", "%F"}), none, K::Refuse, {}, {}},
      {"no field code", facts("x.desktop", {"mail"}), none, K::Refuse, {}, {}},
  });
}

// MAILER is a list of commands; each is looked through env, flatpak run and
// a terminal's command option to the program it finally runs. A known
// client gets its own start with the user's words kept; a Flatpak client
// cannot read the log; anything else is the user's own composer, run as
// written with the URI and attach=, by the shell only where the command
// needs one.
TEST(DraftRouteTest, MailerIsRunAsTheUserWroteIt) {
  using K = DraftRoute::Kind;
  const Draft* log = &kWithLog;
  const Draft* none = &kWithoutLog;
  const Words xterm = {"x-terminal-emulator", "-e"};
  expectRoutes({
      {"client alone", mailerFacts("neomutt"), log, K::Watched, xterm, {"neomutt", "-a", "<log>", "--", "<uri>"}},
      {"terminal option", mailerFacts("xterm -e neomutt"), log, K::Watched, {"xterm", "-e"},
       {"neomutt", "-a", "<log>", "--", "<uri>"}},
      {"terminal title naming the client", mailerFacts("xterm -T neomutt -e neomutt -F /home/u/rc"), log, K::Watched,
       {"xterm", "-T", "neomutt", "-e"}, {"neomutt", "-F", "/home/u/rc", "-a", "<log>", "--", "<uri>"}},
      {"quoted words", mailerFacts("gnome-terminal '--title=My mail' -- \"neomutt\""), log, K::Watched,
       {"gnome-terminal", "--title=My mail", "--"}, {"neomutt", "-a", "<log>", "--", "<uri>"}},
      {"assignment before a terminal client", mailerFacts("LANG=C.UTF-8 neomutt"), log, K::Watched,
       {"x-terminal-emulator", "-e", "env", "LANG=C.UTF-8"}, {"neomutt", "-a", "<log>", "--", "<uri>"}},
      {"env wrapper", mailerFacts("::env LC_ALL=C.UTF-8 evolution"), log, K::Start, {},
       {"env", "LC_ALL=C.UTF-8", "evolution", "<uri+log>"}},
      {"profile option kept", mailerFacts("/usr/bin/thunderbird -P work"), log, K::Start, {},
       {"/usr/bin/thunderbird", "-P", "work", "-compose", "<fields+log>"}},
      {"client's own compose option gives way", mailerFacts("thunderbird -compose"), none, K::Start, {},
       {"thunderbird", "-compose", "<fields>"}},
      {"exported Flatpak wrapper with a log", mailerFacts("org.mozilla.Thunderbird"), log, K::Refuse, {}, {}},
      {"exported Flatpak wrapper", mailerFacts("/var/lib/flatpak/exports/bin/org.mozilla.Thunderbird"), none,
       K::Start, {}, {"/var/lib/flatpak/exports/bin/org.mozilla.Thunderbird", "-compose", "<fields>"}},
      {"flatpak run with a log", mailerFacts("flatpak run --branch stable org.gnome.Evolution"), log, K::Refuse, {},
       {}},
      {"flatpak run", mailerFacts("flatpak run --branch stable org.mozilla.Thunderbird"), none, K::Start, {},
       {"flatpak", "run", "--branch", "stable", "org.mozilla.Thunderbird", "-compose", "<fields>"}},
      {"own composer", mailerFacts("/home/u/bin/composer"), log, K::Start, {}, {"/home/u/bin/composer", "<uri+log>"}},
      {"own composer before a client's name", mailerFacts("my-terminal neomutt"), log, K::Start, {},
       {"my-terminal", "neomutt", "<uri+log>"}},
      {"unknown program in a terminal", mailerFacts("xterm -e mutt"), log, K::Watched, {"xterm", "-e"},
       {"mutt", "<uri+log>"}},
      {"expansion", mailerFacts("neomutt $OPTS"), log, K::Start, {},
       {"/bin/sh", "-c", "neomutt $OPTS \"$1\"", "sh", "<uri+log>"}},
      {"operators", mailerFacts("neomutt; rm -rf ~"), log, K::Start, {},
       {"/bin/sh", "-c", "neomutt; rm -rf ~ \"$1\"", "sh", "<uri+log>"}},
      {"shell keyword", mailerFacts("exec neomutt"), log, K::Start, {},
       {"/bin/sh", "-c", "exec neomutt \"$1\"", "sh", "<uri+log>"}},
      {"only blanks and colons", mailerFacts(" : \t:"), log, K::Refuse, {}, {}},
      {"before the default client", mailerFacts("/home/u/bin/composer --new", facts("sylpheed.desktop", {"sylpheed", "%u"})),
       log, K::Start, {}, {"/home/u/bin/composer", "--new", "<uri+log>"}},
      {"forwarding Geary", mailerFacts("geary"), log, K::Start, {}, {"geary", "<uri+log>"},
       Verdict::ForwarderMayExit255},
      // The sandbox goes before it, and refuses a log without asking.
      {"in the sandbox", inSandbox(mailerFacts("/home/u/bin/composer")), none, K::Portal, {}, {}},
      {"in the sandbox with a log", inSandbox(mailerFacts("/home/u/bin/composer")), log, K::Refuse, {}, {}},
      // A client in a terminal is only started where its end can be heard;
      // one named alone is started directly and needs no channel.
      {"terminal client without a channel", withoutChannel(mailerFacts("xterm -e neomutt")), log, K::Refuse, {}, {}},
      {"terminal client without a channel or a log", withoutChannel(mailerFacts("xterm -e neomutt")), none,
       K::Refuse, {}, {}},
      {"client alone without a channel", withoutChannel(mailerFacts("thunderbird")), log, K::Start, {},
       {"thunderbird", "-compose", "<fields+log>"}},
  });
  // Later commands are kept, in order, for when the first does not open
  // the draft; each plain or shell command after the first is handed the
  // same URI with the log.
  const DraftRoute list =
      decideRoute(mailerFacts("composer:xterm -e neomutt::sylpheed:composer $OPTS:other-composer"), kWithLog);
  EXPECT_EQ(list.argv, render({"composer", "<uri+log>"}));
  ASSERT_EQ(list.fallbacks.size(), 4u);
  EXPECT_EQ(list.fallbacks[0].kind, DraftRoute::Kind::Watched);
  EXPECT_EQ(list.fallbacks[1].argv, render({"sylpheed", "--compose", "<uri>", "--attach", "<log>"}));
  EXPECT_EQ(list.fallbacks[2].argv, render({"/bin/sh", "-c", "composer $OPTS \"$1\"", "sh", "<uri+log>"}));
  EXPECT_EQ(list.fallbacks[3].argv, render({"other-composer", "<uri+log>"}));
  // A list of more commands than anyone writes is refused whole, not held
  // as a copy of the draft per command.
  std::string many;
  for (int i = 0; i < 64; ++i) many += "composer:";
  EXPECT_EQ(decideRoute(mailerFacts(many), kWithLog).fallbacks.size(), 63u);
  EXPECT_EQ(decideRoute(mailerFacts(many + "composer"), kWithLog).kind, DraftRoute::Kind::Refuse);
  // The client's own rules go with it: a Balsa that crashes cold.
  EXPECT_EQ(decideRoute(mailerFacts("/usr/bin/balsa"), kWithLog).startAloneFirst, Words{"/usr/bin/balsa"});
}

// What the helper reported at the end of the wait decides: only a client
// still running, or one that ended as its verdict reads as opened.
TEST(DraftRouteTest, WatchedClientCountsByItsOwnEnd) {
  using State = ClientReport::State;
  const auto opened = [](State state, ClientEnd end, Verdict verdict = Verdict::ExitStatus) {
    return watchedClientOpened(ClientReport{state, end}, verdict);
  };
  EXPECT_TRUE(opened(State::Started, {}));
  EXPECT_TRUE(opened(State::Ended, {false, 0}));
  EXPECT_FALSE(opened(State::Ended, {false, 1}));
  EXPECT_FALSE(opened(State::Ended, {true, 11}));
  EXPECT_FALSE(opened(State::Ended, {false, 255}));
  EXPECT_TRUE(opened(State::Ended, {false, 255}, Verdict::ForwarderMayExit255));
  EXPECT_FALSE(opened(State::Ended, {true, 0}, Verdict::ForwarderMayExit255));
  for (const State never : {State::Silent, State::Unstartable, State::Malformed, State::Lost}) {
    EXPECT_FALSE(opened(never, {false, 0}));
  }
}

TEST(DraftRouteTest, FileUrlEncodesAllButPlainCharacters) {
  EXPECT_EQ(fileUrl("/a-b_c.d~e/F9"), "file:///a-b_c.d~e/F9");
  EXPECT_EQ(fileUrl("/x y/%'\",\n#?"), "file:///x%20y/%25%27%22%2C%0A%23%3F");
}

// Starts that are no client's own carry the texts and the recipient whole
// too: an entry known by its id alone, and MAILER's commands.
TEST(DraftRouteTest, OtherStartsGetTheTextsAndTheRecipientWhole) {
  MailFacts mailer = facts("", {});
  mailer.mailer = "/home/u/bin/composer";
  MailFacts mailerClient = mailer;
  mailerClient.mailer = "xterm -e /usr/bin/neomutt";
  for (const auto& [f, expected] : std::vector<std::pair<MailFacts, Words>>{
           {facts("claws-mail.desktop", {"sh", "-c", "x", "%u"}), {"sh", "-c", "x", "<uri+log>"}},
           {mailer, {"/home/u/bin/composer", "<uri+log>"}},
           {mailerClient, {"/usr/bin/neomutt", "-a", "<log>", "--", "<uri>"}}}) {
    EXPECT_EQ(testing_support::argumentsMismatch(decideRoute(f, kTricky).argv, expected, kTrickyExpected), "")
        << f.handlerId << f.mailer;
  }
  // Without a log every mailto: handler gets the recipient too.
  Draft withoutLog = kTricky;
  withoutLog.attachment.clear();
  EXPECT_EQ(testing_support::argumentsMismatch(decideRoute(facts("firefox-esr.desktop", {"firefox-esr", "%u"}), withoutLog).argv,
                                               {"firefox-esr", "<uri>"}, kTrickyExpected),
            "");
}

// Texts nothing on the way may change: blanks at either end, decomposed
// letters (no normalising), an empty body, every byte value but NUL, and
// the largest body a job may hold.
TEST(DraftRouteTest, MailtoUriCarriesAnyTextUnchanged) {
  std::string everyByte;
  for (int c = 1; c < 256; ++c) everyByte += static_cast<char>(c);
  std::string largest;
  while (largest.size() + 8 <= 8192) largest += "\xC3\xBC\"$\\\n%&";
  for (const auto& [subject, body] : std::vector<std::pair<std::string, std::string>>{
           {"Support Request - Quorvel   spaced  ", "  padded body  "},
           {"Support Request - Quorvel Jo\x65\xCC\x88l", "cafe\xCC\x81"},
           {"Support Request - Quorvel ", ""},
           {"Support Request - Quorvel " + everyByte, everyByte},
           {"Support Request - Quorvel big", largest},
       }) {
    const Draft draft{subject, body, "/home/u/log.txt", ""};
    const testing_support::DecodedUri decoded = testing_support::decodeMailto(mailtoUri(draft, true));
    EXPECT_EQ(decoded.fields, (std::map<std::string, std::string>{
                                  {"subject", subject}, {"body", body}, {"attach", draft.attachment}}))
        << decoded.error;
  }
}

}  // namespace
}  // namespace mail
