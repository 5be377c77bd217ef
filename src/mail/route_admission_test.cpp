#include "mail/route_admission.h"

#include <gtest/gtest.h>

#include <map>

#include "mail/client_limits.h"
#include "testing/tree_client_files.h"

namespace mail {
namespace {

using Kind = DraftRoute::Kind;

using testing_support::kClawsSetUp;
using testing_support::TreeFiles;

const JobSession kJob{"/home/u", {"unix:path=/run/user/1000/bus", ":0", ""}, false};

MailFacts handler(const std::string& desktopId, const std::string& program) {
  MailFacts facts;
  facts.handlerId = desktopId;
  facts.exec = {ExecWord{program, false}, ExecWord{"%u", true}};
  facts.privateChannel = true;
  return facts;
}

Draft draft(std::string body, std::string log = "") { return {"Support Request", std::move(body), std::move(log), ""}; }

TEST(RouteAdmissionTest, KnownClientStartsOnlyWhenSetUp) {
  const MailFacts facts = handler("claws-mail.desktop", "/usr/bin/claws-mail");
  const Draft d = draft("b", "/home/u/log.txt");
  const DraftRoute decided = decideRoute(facts, d);
  ASSERT_EQ(decided.kind, Kind::Start);

  const DraftRoute never = admitRoute(decided, facts, TreeFiles({}), kJob);
  EXPECT_EQ(never.kind, Kind::Refuse);
  EXPECT_FALSE(never.why.empty());

  const DraftRoute setUp = admitRoute(decided, facts, TreeFiles(kClawsSetUp), kJob);
  EXPECT_EQ(setUp.kind, Kind::Start);
  EXPECT_EQ(setUp.argv, decided.argv);
  EXPECT_EQ(setUp.assurance, Assurance::Checked);
}

TEST(RouteAdmissionTest, ARequestTheClientWouldCutIsNeverHandedToIt) {
  const auto limit = longestArgument(Client::ClawsMail);
  ASSERT_TRUE(limit.has_value());
  const MailFacts facts = handler("claws-mail.desktop", "/usr/bin/claws-mail");
  // Each 'é' takes six characters encoded: the URI passes the limit well
  // inside what the job allows.
  std::string body;
  while (body.size() < *limit / 3 + 100) body += "\xC3\xA9";
  const DraftRoute cut = admitRoute(decideRoute(facts, draft(body)), facts, TreeFiles(kClawsSetUp), kJob);
  EXPECT_EQ(cut.kind, Kind::Refuse);

  // Just within the limit: the whole URI of the start is at most the limit.
  std::string fitting(*limit, 'x');
  for (DraftRoute route = decideRoute(facts, draft(fitting)); route.argv.back().size() > *limit;
       route = decideRoute(facts, draft(fitting))) {
    fitting.pop_back();
  }
  const DraftRoute whole = admitRoute(decideRoute(facts, draft(fitting)), facts, TreeFiles(kClawsSetUp), kJob);
  EXPECT_EQ(whole.kind, Kind::Start);
  EXPECT_EQ(whole.argv.back().size(), *limit);
  // Clients without such a limit take the same long text.
  const MailFacts evolution = handler("org.gnome.Evolution.desktop", "/usr/bin/evolution");
  EXPECT_EQ(admitRoute(decideRoute(evolution, draft(body)), evolution, TreeFiles({}), kJob).kind, Kind::Start);
}

TEST(RouteAdmissionTest, KMailIsNeverHandedATextItWouldDecodeAgain) {
  const MailFacts facts = handler("org.kde.kmail2.desktop", "/usr/bin/kmail");
  const TreeFiles identity(std::map<std::string, std::string>{
      {"config/emailidentities", "[Identity #0]\nEmail Address=a@example.org\n"}});
  struct Case {
    Draft draft;
    Kind kind;
  };
  const Case cases[] = {
      {draft("y=z %20 done"), Kind::Refuse},
      {draft("%4a"), Kind::Refuse},
      {{"Support Request 100%41", "b", "", ""}, Kind::Refuse},
      {draft("it's 100% done, %zz, %2 and %"), Kind::Start},
      {draft("b", "/home/u/log.txt"), Kind::Start},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.draft.subject + " / " + c.draft.body);
    EXPECT_EQ(admitRoute(decideRoute(facts, c.draft), facts, identity, kJob).kind, c.kind);
  }
  // Other clients decode once: the same text reaches them as written.
  const MailFacts evolution = handler("org.gnome.Evolution.desktop", "/usr/bin/evolution");
  EXPECT_EQ(admitRoute(decideRoute(evolution, draft("%20")), evolution, TreeFiles({}), kJob).kind, Kind::Start);
}

TEST(RouteAdmissionTest, BrowserAsHandlerNeedsAWebMailer) {
  const MailFacts facts = handler("firefox-esr.desktop", "/usr/lib/firefox-esr/firefox-esr");
  const DraftRoute decided = decideRoute(facts, draft("b"));
  ASSERT_EQ(decided.kind, Kind::Start);
  EXPECT_EQ(admitRoute(decided, facts, TreeFiles({}), kJob).kind, Kind::Refuse);

  const TreeFiles webMailer({{"config/mozilla/firefox/profiles.ini", "[Profile0]\nPath=p\n[InstallX]\nDefault=p\n"},
                             {"config/mozilla/firefox/p/handlers.json",
                              R"({"schemes":{"mailto":{"action":2,"ask":false,"handlers":[{"name":"M","uriTemplate":"https://m.example/?u=%s"}]}}})"}});
  const DraftRoute admitted = admitRoute(decided, facts, webMailer, kJob);
  EXPECT_EQ(admitted.kind, Kind::Start);
  EXPECT_EQ(admitted.argv, decided.argv);
  EXPECT_EQ(admitted.assurance, Assurance::StartOnly) << "a web mailer's page is out of sight";
  // A log never goes that way.
  EXPECT_EQ(admitRoute(decideRoute(facts, draft("b", "/home/u/log.txt")), facts, webMailer, kJob).kind, Kind::Refuse);
}

TEST(RouteAdmissionTest, WhatCannotBeKnownKeepsTheStartRule) {
  // An unknown handler, MAILER naming no client, a client whose files do
  // not tell, the sandbox's portal: carried out as decided, a start only.
  MailFacts unknownHandler = handler("my-mailer.desktop", "/opt/my-mailer");
  MailFacts mailer;
  mailer.mailer = "/opt/compose-it";
  MailFacts sandbox;
  sandbox.sandboxed = true;
  sandbox.portalBackend = PortalBackend::Gtk;
  for (const MailFacts& facts : {unknownHandler, mailer, sandbox}) {
    const DraftRoute decided = decideRoute(facts, draft("b"));
    const DraftRoute admitted = admitRoute(decided, facts, TreeFiles({}), kJob);
    EXPECT_EQ(admitted.kind, decided.kind);
    EXPECT_EQ(admitted.argv, decided.argv);
    EXPECT_EQ(admitted.assurance, Assurance::StartOnly);
  }
  // Evolution composes without an account: checked with nothing to read.
  const MailFacts evolution = handler("org.gnome.Evolution.desktop", "/usr/bin/evolution");
  EXPECT_EQ(admitRoute(decideRoute(evolution, draft("b")), evolution, TreeFiles({}), kJob).assurance,
            Assurance::Checked);
  // MAILER naming a client that was never set up starts nothing.
  MailFacts namedClaws;
  namedClaws.mailer = "claws-mail";
  EXPECT_EQ(admitRoute(decideRoute(namedClaws, draft("b")), namedClaws, TreeFiles({}), kJob).kind, Kind::Refuse);
  EXPECT_EQ(admitRoute(decideRoute(namedClaws, draft("b")), namedClaws, TreeFiles(kClawsSetUp), kJob).assurance,
            Assurance::Checked);
}

}  // namespace
}  // namespace mail
