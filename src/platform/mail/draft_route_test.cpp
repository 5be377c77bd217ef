#include "platform/mail/draft_route.h"

#include <gtest/gtest.h>

#include <map>

namespace platform::mail {
namespace {

using Words = std::vector<std::string>;

const Draft kWithLog{"Support Request - Quorvel x", "a b", "/home/u/log.txt"};
const Draft kWithoutLog{"Support Request - Quorvel x", "a b", ""};
const std::string kUri = "mailto:?subject=Support%20Request%20-%20Quorvel%20x&body=a%20b";
const std::string kUriWithLog = kUri + "&attach=%2Fhome%2Fu%2Flog.txt";

MailFacts facts(std::string id, Words exec, bool terminal = false) {
  MailFacts f;
  f.handlerId = std::move(id);
  f.exec = std::move(exec);
  f.terminal = terminal;
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
                   {"x-terminal-emulator", "-e", "neomutt", "-a", "/home/u/log.txt", "--", kUri},
                   {"x-terminal-emulator", "-e", "neomutt", kUri}}},
      {"geary", {facts("org.gnome.Geary.desktop", {"geary", "%U"}), {"geary", kUriWithLog}, {"geary", kUri}}},
      {"kmail", {facts("org.kde.kmail2.desktop", {"kmail", "-qwindowtitle", "%c", "%u"}), {"kmail", kUriWithLog},
                 {"kmail", kUri}}},
  };
  for (const auto& [name, c] : cases) {
    const DraftRoute withLog = decideRoute(c.facts, kWithLog);
    EXPECT_EQ(withLog.kind, DraftRoute::Kind::Start) << name;
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
  browser.gnomeLike = true;
  EXPECT_EQ(decideRoute(browser, kWithoutLog).verdict, Verdict::LaunchOnly);
}

// MAILER is the user's own composer and goes before the default client;
// the sandbox goes before both, and refuses a log without asking.
TEST(DraftRouteTest, MailerAndSandboxComeFirst) {
  MailFacts f = facts("sylpheed.desktop", {"sylpheed", "%u"});
  f.mailerSet = true;
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
  EXPECT_EQ(decideRoute(f, Draft{"Support Request - Quorvel 100%", "b", ""}).kind, DraftRoute::Kind::Refuse);
  EXPECT_EQ(decideRoute(f, Draft{"Support Request - Quorvel x", "it's", ""}).kind, DraftRoute::Kind::Refuse);
  EXPECT_EQ(decideRoute(f, Draft{"Support Request - Quorvel x", "b", "/home/Neil, J/log.txt"}).kind,
            DraftRoute::Kind::Refuse);
  EXPECT_EQ(decideRoute(f, Draft{"Support Request - Quorvel a,b", "c, d", "/home/Neil J/log.txt"}).kind,
            DraftRoute::Kind::Portal);
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
  const Draft draft{"Support Request - Quorvel a,b='c'", "x',to='evil@example.org", "/home/J\xC3\xB6rg O'Neil, Jr/l og.txt"};
  const DraftRoute route = decideRoute(facts("thunderbird.desktop", {"thunderbird"}), draft);
  ASSERT_EQ(route.argv.size(), 3u);
  const std::string& fields = route.argv[2];
  EXPECT_EQ(std::count(fields.begin(), fields.end(), ','), 2) << fields;
  EXPECT_EQ(std::count(fields.begin(), fields.end(), '\''), 2) << fields;
  EXPECT_TRUE(fields.ends_with(",attachment='file:///home/J%C3%B6rg%20O%27Neil%2C%20Jr/l%20og.txt'")) << fields;
}

TEST(DraftRouteTest, FileUrlEncodesAllButPlainCharacters) {
  EXPECT_EQ(fileUrl("/a-b_c.d~e/F9"), "file:///a-b_c.d~e/F9");
  EXPECT_EQ(fileUrl("/x y/%'\",\n#?"), "file:///x%20y/%25%27%22%2C%0A%23%3F");
}

}  // namespace
}  // namespace platform::mail
