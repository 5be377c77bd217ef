#include "mail/draft_route.h"

#include <gtest/gtest.h>

#include <map>

#include "testing/mailto.h"

namespace mail {
namespace {

using Words = std::vector<std::string>;

const Draft kWithLog{"Support Request - Quorvel x", "a b", "/home/u/log.txt", ""};
const Draft kWithoutLog{"Support Request - Quorvel x", "a b", "", ""};
const std::string kUri = "mailto:?subject=Support%20Request%20-%20Quorvel%20x&body=a%20b";
const std::string kUriWithLog = kUri + "&attach=%2Fhome%2Fu%2Flog.txt";

MailFacts facts(std::string id, Words exec, bool terminal = false) {
  MailFacts f;
  f.handlerId = std::move(id);
  f.exec = std::move(exec);
  f.terminal = terminal;
  f.privateChannel = true;
  return f;
}

// Each known client gets its own start, with the program its desktop entry
// names; clients that drop attach= get their own attachment options.
TEST(DraftRouteTest, EachKnownClientGetsItsOwnStart) {
  const std::string tbFields = "subject=Support%20Request%20-%20Quorvel%20x,body=a%20b";
  struct Case {
    MailFacts facts;
    Words withLog;
    Words withoutLog;
  };
  const std::map<std::string, Case> cases = {
      {"thunderbird", {facts("thunderbird.desktop", {"/usr/bin/thunderbird", "%u"}),
                       {"/usr/bin/thunderbird", "-compose", tbFields + ",attachment='file:///home/u/log.txt'"},
                       {"/usr/bin/thunderbird", "-compose", tbFields}}},
      {"icedove", {facts("icedove.desktop", {"icedove", "%u"}),
                   {"icedove", "-compose", tbFields + ",attachment='file:///home/u/log.txt'"},
                   {"icedove", "-compose", tbFields}}},
      {"evolution", {facts("org.gnome.Evolution.desktop", {"evolution", "%U"}),
                     {"evolution", kUriWithLog}, {"evolution", kUri}}},
      {"claws", {facts("claws-mail.desktop", {"claws-mail", "%u"}), {"claws-mail", kUriWithLog},
                 {"claws-mail", kUri}}},
      {"sylpheed", {facts("sylpheed.desktop", {"sylpheed", "%u"}),
                    {"sylpheed", "--compose", kUri, "--attach", "/home/u/log.txt"},
                    {"sylpheed", "--compose", kUri}}},
      {"balsa", {facts("balsa-mailto-handler.desktop", {"balsa", "-m", "%U"}),
                 {"balsa", "--compose=" + kUri, "--attach=file:///home/u/log.txt"}, {"balsa", "--compose=" + kUri}}},
      {"neomutt", {facts("neomutt.desktop", {"neomutt", "%u"}, true),
                   {"neomutt", "-a", "/home/u/log.txt", "--", kUri},
                   {"neomutt", kUri}}},
      {"geary", {facts("org.gnome.Geary.desktop", {"geary", "%U"}), {"geary", kUriWithLog}, {"geary", kUri}}},
      {"kmail", {facts("org.kde.kmail2.desktop", {"kmail", "-qwindowtitle", "%c", "%u"}), {"kmail", kUriWithLog},
                 {"kmail", kUri}}},
  };
  for (const auto& [name, c] : cases) {
    const DraftRoute withLog = decideRoute(c.facts, kWithLog);
    // A terminal client is watched through the helper: the terminal's own
    // exit says nothing about it.
    EXPECT_EQ(withLog.kind, name == "neomutt" ? DraftRoute::Kind::Watched : DraftRoute::Kind::Start) << name;
    const Words launcher = name == "neomutt" ? Words{"x-terminal-emulator", "-e"} : Words{};
    EXPECT_EQ(withLog.launcher, launcher) << name;
    EXPECT_EQ(withLog.argv, c.withLog) << name;
    EXPECT_EQ(decideRoute(c.facts, kWithoutLog).argv, c.withoutLog) << name;
    EXPECT_EQ(withLog.verdict, name == "geary" ? Verdict::ForwarderMayExit255 : Verdict::ExitStatus) << name;
    EXPECT_EQ(withLog.startAloneAfterCrash, name == "balsa" ? Words{"balsa"} : Words{}) << name;
  }
}

TEST(DraftRouteTest, DesktopIdsAreRecognisedWithoutCaseOrSuffix) {
  EXPECT_EQ(clientForDesktopId("org.mozilla.Thunderbird.desktop"), Client::Thunderbird);
  EXPECT_EQ(clientForDesktopId("eu.betterbird.Betterbird"), Client::Thunderbird);
  EXPECT_EQ(clientForDesktopId("ORG.KDE.KMAIL2.DESKTOP"), Client::KMail);
  EXPECT_EQ(clientForDesktopId("firefox-esr.desktop"), Client::Unknown);
  EXPECT_EQ(clientForDesktopId("thunderbird.desktop.evil"), Client::Unknown);
  EXPECT_EQ(clientForDesktopId(""), Client::Unknown);
}

// With a log asked for, only a route known to carry it is taken.
TEST(DraftRouteTest, AttachmentWithoutAKnownRouteStartsNothing) {
  for (const MailFacts& f : {facts("firefox-esr.desktop", {"firefox-esr", "%u"}), facts("", {}),
                             facts("thunderbird.desktop", {})}) {
    const DraftRoute route = decideRoute(f, kWithLog);
    EXPECT_EQ(route.kind, DraftRoute::Kind::Refuse) << f.handlerId;
    EXPECT_TRUE(route.argv.empty());
  }
  // Without a log every mailto: handler will do, through xdg-email.
  MailFacts browser = facts("firefox-esr.desktop", {"firefox-esr", "%u"});
  EXPECT_EQ(decideRoute(browser, kWithoutLog).argv, (Words{"xdg-email", "--utf8", kUri}));
  EXPECT_EQ(decideRoute(browser, kWithoutLog).verdict, Verdict::ExitStatus);
}

// MAILER is the user's own composer and goes before the default client;
// the sandbox goes before both, and refuses a log without asking.
TEST(DraftRouteTest, MailerAndSandboxComeFirst) {
  MailFacts f = facts("sylpheed.desktop", {"sylpheed", "%u"});
  f.mailer = "/home/u/bin/composer --new";
  EXPECT_EQ(decideRoute(f, kWithLog).argv, (Words{"xdg-email", "--utf8", kUriWithLog}));
  EXPECT_EQ(decideRoute(f, kWithLog).verdict, Verdict::ExitStatus);
  f.sandboxed = true;
  EXPECT_EQ(decideRoute(f, kWithLog).kind, DraftRoute::Kind::Refuse);
  EXPECT_EQ(decideRoute(f, kWithoutLog).kind, DraftRoute::Kind::Portal);
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
  // Texts the KDE backend would alter are not asked for.
  f.portalBackend = PortalBackend::Kde;
  EXPECT_EQ(decideRoute(f, Draft{"Support Request - Quorvel 100%", "b", "", ""}).kind, DraftRoute::Kind::Refuse);
  EXPECT_EQ(decideRoute(f, Draft{"Support Request - Quorvel x", "it's", "", ""}).kind, DraftRoute::Kind::Refuse);
  EXPECT_EQ(decideRoute(f, Draft{"Support Request - Quorvel x", "b", "/home/Neil, J/log.txt", ""}).kind,
            DraftRoute::Kind::Refuse);
  EXPECT_EQ(decideRoute(f, Draft{"Support Request - Quorvel a,b", "c, d", "/home/Neil J/log.txt", ""}).kind,
            DraftRoute::Kind::Portal);
  // The portal takes the address as it is: only one that no client reads
  // differently goes.
  EXPECT_EQ(decideRoute(f, Draft{"Support Request - Quorvel x", "b", "", "help+desk@example.org"}).kind,
            DraftRoute::Kind::Portal);
  f.portalBackend = PortalBackend::Gtk;
  EXPECT_EQ(decideRoute(f, Draft{"Support Request - Quorvel x", "b", "", "a&b=c@example.org"}).kind,
            DraftRoute::Kind::Refuse);
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

// A Flatpak client starts as its entry says, up to the field codes; a log
// is refused, since the sandboxed client may not see it.
TEST(DraftRouteTest, FlatpakClientsStartThroughTheirEntry) {
  const MailFacts f = facts("org.mozilla.Thunderbird.desktop",
                            {"/usr/bin/flatpak", "run", "--branch=stable", "--command=thunderbird",
                             "--file-forwarding", "org.mozilla.Thunderbird", "@@u", "%u", "@@"});
  EXPECT_EQ(decideRoute(f, kWithoutLog).argv,
            (Words{"/usr/bin/flatpak", "run", "--branch=stable", "--command=thunderbird", "--file-forwarding",
                   "org.mozilla.Thunderbird", "-compose", "subject=Support%20Request%20-%20Quorvel%20x,body=a%20b"}));
  EXPECT_EQ(decideRoute(f, kWithLog).kind, DraftRoute::Kind::Refuse);
}

// Thunderbird's -compose value is comma-separated fields with quoted values:
// no path may end its value or add a field of its own.
TEST(DraftRouteTest, ThunderbirdFieldsHoldAnyPath) {
  const Draft draft{"Support Request - Quorvel a,b='c'", "x',to='evil@example.org", "/home/J\xC3\xB6rg O'Neil, Jr/l og.txt",
                    ""};
  const DraftRoute route = decideRoute(facts("thunderbird.desktop", {"thunderbird"}), draft);
  ASSERT_EQ(route.argv.size(), 3u);
  const std::string& fields = route.argv[2];
  EXPECT_EQ(std::count(fields.begin(), fields.end(), ','), 2) << fields;
  EXPECT_EQ(std::count(fields.begin(), fields.end(), '\''), 2) << fields;
  EXPECT_TRUE(fields.ends_with(",attachment='file:///home/J%C3%B6rg%20O%27Neil%2C%20Jr/l%20og.txt'")) << fields;
}

// MAILER naming a known client, as its program or after the words of the
// user's terminal, gets that client's own start; the words before it start
// it, with the helper watching the client. Anything else is the user's own
// composer, handed the URI by xdg-email.
TEST(DraftRouteTest, MailerNamingAKnownClientTakesItsRoute) {
  struct Case {
    std::string mailer;
    DraftRoute::Kind kind;
    Words launcher;
    Words argv;
  };
  const std::vector<Case> cases = {
      {"neomutt", DraftRoute::Kind::Watched, {"x-terminal-emulator", "-e"}, {"neomutt", "-a", "/home/u/log.txt", "--", kUri}},
      {"xterm -e neomutt", DraftRoute::Kind::Watched, {"xterm", "-e"}, {"neomutt", "-a", "/home/u/log.txt", "--", kUri}},
      {"  my-terminal\tneomutt -F /home/u/rc ", DraftRoute::Kind::Watched, {"my-terminal"},
       {"neomutt", "-F", "/home/u/rc", "-a", "/home/u/log.txt", "--", kUri}},
      {"/usr/bin/thunderbird", DraftRoute::Kind::Start, {},
       {"/usr/bin/thunderbird", "-compose",
        "subject=Support%20Request%20-%20Quorvel%20x,body=a%20b,attachment='file:///home/u/log.txt'"}},
      {"sylpheed:xterm -e neomutt", DraftRoute::Kind::Start, {},
       {"sylpheed", "--compose", kUri, "--attach", "/home/u/log.txt"}},
      {"::env LC_ALL=C.UTF-8 evolution", DraftRoute::Kind::Watched, {"env", "LC_ALL=C.UTF-8"}, {"evolution", kUriWithLog}},
      // Not a known client, or not plain words: the user's own composer.
      {"/home/u/bin/composer", DraftRoute::Kind::Start, {}, {"xdg-email", "--utf8", kUriWithLog}},
      {"mutt", DraftRoute::Kind::Start, {}, {"xdg-email", "--utf8", kUriWithLog}},
      {"neomutt-wrapper", DraftRoute::Kind::Start, {}, {"xdg-email", "--utf8", kUriWithLog}},
      {"xterm -e 'neomutt'", DraftRoute::Kind::Start, {}, {"xdg-email", "--utf8", kUriWithLog}},
      {"neomutt $OPTS", DraftRoute::Kind::Start, {}, {"xdg-email", "--utf8", kUriWithLog}},
      {"neomutt; rm -rf ~", DraftRoute::Kind::Start, {}, {"xdg-email", "--utf8", kUriWithLog}},
      {"LANG=C neomutt", DraftRoute::Kind::Start, {}, {"xdg-email", "--utf8", kUriWithLog}},
      {"composer:neomutt", DraftRoute::Kind::Start, {}, {"xdg-email", "--utf8", kUriWithLog}},
  };
  for (const Case& c : cases) {
    MailFacts f = facts("thunderbird.desktop", {"thunderbird", "%u"});
    f.mailer = c.mailer;
    const DraftRoute route = decideRoute(f, kWithLog);
    EXPECT_EQ(route.kind, c.kind) << c.mailer;
    EXPECT_EQ(route.launcher, c.launcher) << c.mailer;
    EXPECT_EQ(route.argv, c.argv) << c.mailer;
  }
  // The client's own rules go with it: a forwarding Geary, a Balsa that
  // crashes cold.
  MailFacts f = facts("", {});
  f.mailer = "geary";
  EXPECT_EQ(decideRoute(f, kWithLog).verdict, Verdict::ForwarderMayExit255);
  f.mailer = "/usr/bin/balsa";
  EXPECT_EQ(decideRoute(f, kWithLog).startAloneAfterCrash, Words{"/usr/bin/balsa"});
}

// A client in a terminal is only started where its end can be heard.
TEST(DraftRouteTest, TerminalClientNeedsAPrivateChannel) {
  MailFacts entry = facts("neomutt.desktop", {"neomutt", "%u"}, true);
  MailFacts mailer = facts("", {});
  mailer.mailer = "xterm -e neomutt";
  for (MailFacts* f : {&entry, &mailer}) {
    f->privateChannel = false;
    for (const Draft& draft : {kWithLog, kWithoutLog}) {
      const DraftRoute route = decideRoute(*f, draft);
      EXPECT_EQ(route.kind, DraftRoute::Kind::Refuse);
      EXPECT_TRUE(route.argv.empty());
    }
  }
  // A client named alone is started directly and needs none.
  mailer.mailer = "thunderbird";
  EXPECT_EQ(decideRoute(mailer, kWithLog).kind, DraftRoute::Kind::Start);
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

// What each client's start must hold, by pattern: "<uri>" a mailto: URI
// with recipient, subject and body, "<uri+log>" the same with attach=,
// "<fields+log>" Thunderbird's -compose value with the attachment, "<log>"
// the log's path, "<logurl>" its file: URL; a prefix before '<' is kept
// literally, and any other word stands for itself.
struct ClientCase {
  std::string name;
  MailFacts facts;
  Words expected;
};

// Texts built to break a URI, a comma-separated field list or a quoted
// value, a home path with a blank, a comma, an apostrophe and a non-ASCII
// letter, and a recipient whose characters would end the address or add a
// field unless encoded: every route must carry each of them whole.
TEST(DraftRouteTest, EveryClientGetsTheTextsAndTheRecipientWhole) {
  const Draft draft{"Support Request - Quorvel a,b='c' \"q\" ,to='x@example.org' 50% & more=less?#+",
                    "x',attachment='/etc/passwd\n\t100% & a=b ? c # d \\n T\xC3\xBCrk\xC3\xA7" "e\r\n",
                    "/home/O'Neil, J\xC3\xB6rg/.vantrel-devtool-dev/support-drafts/j/log.txt",
                    "help+desk&to=x@support.example.org"};
  const std::vector<ClientCase> cases = {
      {"thunderbird", facts("thunderbird.desktop", {"tb", "%u"}), {"tb", "-compose", "<fields+log>"}},
      {"evolution", facts("org.gnome.Evolution.desktop", {"ev", "%U"}), {"ev", "<uri+log>"}},
      {"claws", facts("claws-mail.desktop", {"cm", "%u"}), {"cm", "<uri+log>"}},
      {"sylpheed", facts("sylpheed.desktop", {"sy", "%u"}), {"sy", "--compose", "<uri>", "--attach", "<log>"}},
      {"balsa", facts("balsa-mailto-handler.desktop", {"ba", "-m", "%U"}),
       {"ba", "--compose=<uri>", "--attach=<logurl>"}},
      {"neomutt", facts("neomutt.desktop", {"nm", "%u"}, true), {"nm", "-a", "<log>", "--", "<uri>"}},
      {"geary", facts("org.gnome.Geary.desktop", {"ge", "%U"}), {"ge", "<uri+log>"}},
      {"kmail", facts("org.kde.kmail2.desktop", {"km", "-qwindowtitle", "%c", "%u"}), {"km", "<uri+log>"}},
  };
  MailFacts mailer = facts("", {});
  mailer.mailer = "/home/u/bin/composer";
  MailFacts mailerClient = mailer;
  mailerClient.mailer = "xterm -e /usr/bin/neomutt";
  std::vector<ClientCase> all = cases;
  all.push_back({"mailer", mailer, {"xdg-email", "--utf8", "<uri+log>"}});
  all.push_back({"mailer naming a client", mailerClient, {"/usr/bin/neomutt", "-a", "<log>", "--", "<uri>"}});
  Draft withoutLog = draft;
  withoutLog.attachment.clear();

  for (const ClientCase& c : all) {
    const DraftRoute route = decideRoute(c.facts, draft);
    ASSERT_EQ(route.argv.size(), c.expected.size()) << c.name;
    for (std::size_t i = 0; i < c.expected.size(); ++i) {
      const std::string& pattern = c.expected[i];
      const std::string& actual = route.argv[i];
      const auto open = pattern.find('<');
      if (open == std::string::npos) {
        EXPECT_EQ(actual, pattern) << c.name;
        continue;
      }
      ASSERT_EQ(actual.substr(0, open), pattern.substr(0, open)) << c.name;
      const std::string rest = actual.substr(open);
      const std::string kind = pattern.substr(open);
      if (kind == "<log>") {
        EXPECT_EQ(rest, draft.attachment) << c.name;
        continue;
      }
      if (kind == "<logurl>") {
        ASSERT_TRUE(rest.starts_with("file://")) << rest;
        const testing_support::DecodedUri path = testing_support::decodeMailto("mailto:?v=" + rest.substr(7));
        ASSERT_EQ(path.error, "") << rest;
        EXPECT_EQ(path.fields.at("v"), draft.attachment) << c.name;
        continue;
      }
      const bool fields = kind.starts_with("<fields");
      const testing_support::DecodedUri decoded =
          fields ? testing_support::decodeComposeFields(rest) : testing_support::decodeMailto(rest);
      ASSERT_EQ(decoded.error, "") << c.name << ": " << rest;
      std::map<std::string, std::string> expected = {
          {"subject", draft.subject}, {"body", draft.body}, {"to", draft.recipient}};
      if (kind.find("+log") != std::string::npos) expected[fields ? "attachment" : "attach"] = draft.attachment;
      EXPECT_EQ(decoded.fields, expected) << c.name << ": " << rest;
    }
  }
  // Without a log every mailto: handler gets the recipient too.
  const DraftRoute generic = decideRoute(facts("firefox-esr.desktop", {"firefox-esr", "%u"}), withoutLog);
  ASSERT_EQ(generic.argv.size(), 3u);
  const testing_support::DecodedUri decoded = testing_support::decodeMailto(generic.argv[2]);
  EXPECT_EQ(decoded.fields, (std::map<std::string, std::string>{
                                {"subject", draft.subject}, {"body", draft.body}, {"to", draft.recipient}}))
      << decoded.error;
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
