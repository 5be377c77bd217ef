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

MailFacts mailer(const std::string& commands) {
  MailFacts facts;
  facts.mailer = commands;
  return facts;
}

// A known client starts only where its files say it shows its composer
// (Checked, unless a running one may drop the request); a browser only with a web mailer chosen, and never with a log;
// KMail, which decodes its mailto: URI twice, never with a '%' and two
// hexadecimal digits, which other clients take as written. What cannot be
// known (an unknown handler, MAILER naming no client, the sandbox's portal)
// is carried out as decided, a start only. A start admitted is the start
// decided; a refusal says why.
TEST(RouteAdmissionTest, EachRouteIsAdmittedOnWhatItsClientsFilesSay) {
  const MailFacts claws = handler("claws-mail.desktop", "/usr/bin/claws-mail");
  const MailFacts evolution = handler("org.gnome.Evolution.desktop", "/usr/bin/evolution");
  const MailFacts kmail = handler("org.kde.kmail2.desktop", "/usr/bin/kmail");
  const MailFacts sylpheed = handler("sylpheed.desktop", "/usr/bin/sylpheed");
  const MailFacts firefox = handler("firefox-esr.desktop", "/usr/lib/firefox-esr/firefox-esr");
  MailFacts sandbox;
  sandbox.sandboxed = true;
  sandbox.portalBackend = PortalBackend::Gtk;
  const std::map<std::string, std::string> none;
  const std::map<std::string, std::string> identity = {
      {"config/emailidentities", "[Identity #0]\nEmail Address=a@example.org\n"}};
  const std::map<std::string, std::string> webMailer = {
      {"config/mozilla/firefox/profiles.ini", "[Profile0]\nPath=p\n[InstallX]\nDefault=p\n"},
      {"config/mozilla/firefox/p/handlers.json",
       R"({"schemes":{"mailto":{"action":2,"ask":false,"handlers":[{"name":"M","uriTemplate":"https://m.example/?u=%s"}]}}})"}};
  std::map<std::string, std::string> sylpheedSetUp;
  for (const auto& [path, text] : kClawsSetUp) {
    sylpheedSetUp["home/.sylpheed-2.0" + path.substr(path.find('/', 5))] = text;
  }
  const Draft withLog = draft("b", "/home/u/log.txt");
  struct Case {
    const char* name;
    MailFacts facts;
    Draft draft;
    const std::map<std::string, std::string>& files;
    Kind kind;
    Assurance assurance = Assurance::StartOnly;
  };
  const Case cases[] = {
      {"Claws Mail never set up", claws, withLog, none, Kind::Refuse},
      {"Claws Mail set up", claws, withLog, kClawsSetUp, Kind::Start, Assurance::Checked},
      {"Claws Mail, an escape", claws, draft("%20"), kClawsSetUp, Kind::Start, Assurance::Checked},
      {"MAILER naming a Claws Mail never set up", mailer("claws-mail"), draft("b"), none, Kind::Refuse},
      {"MAILER naming a Claws Mail set up", mailer("claws-mail"), draft("b"), kClawsSetUp, Kind::Start,
       Assurance::Checked},
      // Evolution composes without an account.
      {"Evolution", evolution, draft("b"), none, Kind::Start, Assurance::Checked},
      {"Evolution, an escape", evolution, draft("%20"), none, Kind::Start, Assurance::Checked},
      {"browser without a web mailer", firefox, draft("b"), none, Kind::Refuse},
      // A web mailer's page is out of sight.
      {"browser with a web mailer", firefox, draft("b"), webMailer, Kind::Start},
      {"browser with a web mailer, and a log", firefox, withLog, webMailer, Kind::Refuse},
      {"KMail, an escape", kmail, draft("y=z %20 done"), identity, Kind::Refuse},
      {"KMail, an escape in small letters", kmail, draft("%4a"), identity, Kind::Refuse},
      {"KMail, an escape of letters", kmail, draft("caf%e9"), identity, Kind::Refuse},
      {"KMail, an escape in the subject", kmail, {"Support Request 100%41", "b", "", ""}, identity, Kind::Refuse},
      {"KMail, '%' that escapes nothing", kmail, draft("it's 100% done, %zz, %2 and %"), identity, Kind::Start},
      {"KMail with a log", kmail, withLog, identity, Kind::Start},
      // Set up, but a running one drops a request behind a modal window.
      {"Sylpheed set up", sylpheed, withLog, sylpheedSetUp, Kind::Start},
      {"unknown handler", handler("my-mailer.desktop", "/opt/my-mailer"), draft("b"), none, Kind::Start},
      {"MAILER naming no client", mailer("/opt/compose-it"), draft("b"), none, Kind::Start},
      {"sandbox", sandbox, draft("b"), none, Kind::Portal},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const DraftRoute decided = decideRoute(c.facts, c.draft);
    const DraftRoute admitted = admitRoute(decided, c.facts, TreeFiles(c.files), kJob);
    EXPECT_EQ(admitted.kind, c.kind);
    if (admitted.kind == Kind::Refuse) {
      EXPECT_FALSE(admitted.why.empty());
    } else {
      EXPECT_EQ(admitted.argv, decided.argv);
      EXPECT_EQ(admitted.assurance, c.assurance);
    }
  }
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

}  // namespace
}  // namespace mail
