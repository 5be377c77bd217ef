#include "mail/route_answer.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "mail/route_plan.h"
#include "testing/tree_client_files.h"

namespace mail {
namespace {

using testing_support::kClawsSetUp;
using testing_support::TreeFiles;
using Way = RouteAnswer::Way;
using Log = RouteAnswer::Log;
using Proof = RouteAnswer::Proof;

const JobSession kJob{"/home/u", {"unix:path=/run/user/1000/bus", ":0", ""}, false};
const Draft kDraft{"Support Request - Quorvel help", "It broke.",
                   "/home/u/.vantrel-devtool/support-drafts/00000000-0000-0000-0000-000000000000/log.txt", ""};

MailFacts defaultHandler(const std::string& desktopId, const std::string& program, bool terminal = false) {
  MailFacts facts;
  facts.handlerId = desktopId;
  facts.exec = {ExecWord{program, false}, ExecWord{"%u", true}};
  facts.terminal = terminal;
  facts.privateChannel = true;
  return facts;
}

MailFacts sandbox(PortalBackend backend, std::string userHandler = "", std::string hostHelper = "") {
  MailFacts facts;
  facts.sandboxed = true;
  facts.portalBackend = backend;
  facts.userMailtoHandler = std::move(userHandler);
  facts.hostDesktopHelper = std::move(hostHelper);
  return facts;
}

MailFacts mailer(std::string commands, bool privateChannel = true) {
  MailFacts facts;
  facts.mailer = std::move(commands);
  facts.privateChannel = privateChannel;
  return facts;
}

struct Case {
  const char* name;
  MailFacts facts;
  std::map<std::string, std::string> files;
  bool logAsked;
  Way way;
  Log log;
  Proof proof;
  Client client;
  std::string handler;
  PortalBackend backend;
};

// The answer a host gets for each kind of session, decided and admitted by
// the job's own code on made-up facts.
TEST(RouteAnswerTest, EachSessionIsAnsweredAsTheJobWouldGo) {
  const std::string claws = "claws-mail.desktop";
  const std::string web = "org.example.WebMail.desktop";
  const Case cases[] = {
      {"GNOME, a Claws Mail that is set up", defaultHandler(claws, "/usr/bin/claws-mail"), kClawsSetUp, true,
       Way::DefaultClient, Log::Carried, Proof::Checked, Client::ClawsMail, claws, PortalBackend::Unknown},
      {"GNOME, a Claws Mail never set up", defaultHandler(claws, "/usr/bin/claws-mail"), {}, true, Way::None,
       Log::NoRoute, Proof::None, Client::Unknown, "", PortalBackend::Unknown},
      {"a handler not known to take the log, with one", defaultHandler(web, "/usr/bin/webmail"), {}, true, Way::None,
       Log::NotCarried, Proof::None, Client::Unknown, "", PortalBackend::Unknown},
      {"a handler not known to take the log, without one", defaultHandler(web, "/usr/bin/webmail"), {}, false,
       Way::DefaultClient, Log::NotCarried, Proof::StartOnly, Client::Unknown, web, PortalBackend::Unknown},
      {"a terminal client", defaultHandler("neomutt.desktop", "neomutt", true), {}, true, Way::Terminal,
       Log::Carried, Proof::StartOnly, Client::NeoMutt, "neomutt.desktop", PortalBackend::Unknown},
      {"KDE's portal", sandbox(PortalBackend::Kde), {}, true, Way::Portal, Log::Carried, Proof::StartOnly,
       Client::Unknown, "", PortalBackend::Kde},
      {"GTK's portal, with a log", sandbox(PortalBackend::Gtk), {}, true, Way::None, Log::NotCarried, Proof::None,
       Client::Unknown, "", PortalBackend::Unknown},
      {"GTK's portal, without one", sandbox(PortalBackend::Gtk), {}, false, Way::Portal, Log::NotCarried,
       Proof::StartOnly, Client::Unknown, "", PortalBackend::Gtk},
      {"GTK's portal to Evolution", sandbox(PortalBackend::Gtk, "org.gnome.Evolution.desktop"), {}, true, Way::Portal,
       Log::Carried, Proof::StartOnly, Client::Unknown, "", PortalBackend::Gtk},
      {"a sandbox granted the Flatpak service", sandbox(PortalBackend::Gtk, "", "/var/lib/flatpak/app/x/files/bin/h"),
       {}, true, Way::Host, Log::DecidedOnHost, Proof::DecidedOnHost, Client::Unknown, "", PortalBackend::Unknown},
      {"MAILER, the user's composer", mailer("/usr/local/bin/compose"), {}, true, Way::Mailer, Log::Carried,
       Proof::StartOnly, Client::Unknown, "", PortalBackend::Unknown},
      {"MAILER, a set-up client by name", mailer("claws-mail"), kClawsSetUp, true, Way::Mailer, Log::Carried,
       Proof::Checked, Client::ClawsMail, "", PortalBackend::Unknown},
      // The first command needs a terminal it could not be watched in; the
      // job goes on to the next.
      {"MAILER, its first command refused", mailer("xterm -e neomutt:/usr/local/bin/compose", false), {}, true,
       Way::Mailer, Log::Carried, Proof::StartOnly, Client::Unknown, "", PortalBackend::Unknown},
      {"no mail client at all", MailFacts{}, {}, true, Way::None, Log::NoRoute, Proof::None, Client::Unknown, "",
       PortalBackend::Unknown},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const LogRoutes routes = decideLogRoutes(c.facts, kDraft, TreeFiles(c.files), kJob);
    const RouteAnswer answer = answerRoute(routes.facts, routes.withLog, routes.withoutLog, c.logAsked);
    EXPECT_EQ(wayName(answer.way), wayName(c.way));
    EXPECT_EQ(logName(answer.log), logName(c.log));
    EXPECT_EQ(proofName(answer.proof), proofName(c.proof));
    EXPECT_EQ(clientName(answer.client), clientName(c.client));
    EXPECT_EQ(answer.handler, c.handler);
    if (answer.way == Way::Portal) {
      EXPECT_EQ(portalBackendName(answer.portalBackend), portalBackendName(c.backend));
    }
    // No route is never left unexplained; a route has nothing to explain.
    EXPECT_EQ(answer.why.empty(), answer.way != Way::None) << answer.why;
  }
}

// The texts and the log's path take part: a path the GTK portal cannot put
// into its URI as it stands, and a subject the KDE portal would alter, end
// in no route, as the job would.
TEST(RouteAnswerTest, TheDraftsOwnTextsAndPathsAreJudged) {
  Draft spaced = kDraft;
  spaced.attachment = "/home/u s/.vantrel-devtool/support-drafts/00000000-0000-0000-0000-000000000000/log.txt";
  const MailFacts evolution = sandbox(PortalBackend::Gtk, "org.gnome.Evolution.desktop");
  LogRoutes routes = decideLogRoutes(evolution, spaced, TreeFiles({}), kJob);
  EXPECT_EQ(answerRoute(routes.facts, routes.withLog, routes.withoutLog, true).way, Way::None);
  EXPECT_EQ(answerRoute(routes.facts, routes.withLog, routes.withoutLog, true).log, Log::NotCarried);

  Draft escaped = kDraft;
  escaped.subject += " 100%41";
  routes = decideLogRoutes(sandbox(PortalBackend::Kde), escaped, TreeFiles({}), kJob);
  const RouteAnswer answer = answerRoute(routes.facts, routes.withLog, routes.withoutLog, false);
  EXPECT_EQ(answer.way, Way::None);
  EXPECT_EQ(answer.log, Log::NoRoute);
}

// Hosts read these names (the command's JSON, the C API's names, which cast
// a host's number to the enumeration): each value keeps its name, and a
// number outside the enumeration reads as none or unknown.
TEST(RouteAnswerTest, EveryValueKeepsTheNameHostsRead) {
  const std::vector<std::string_view> ways = {"none", "defaultClient", "terminal", "mailer", "portal", "flatpakHost"};
  for (std::size_t i = 0; i < ways.size(); ++i) EXPECT_EQ(wayName(static_cast<Way>(i)), ways[i]);
  const std::vector<std::string_view> logs = {"carried", "notCarried", "noRoute", "decidedOnHost"};
  for (std::size_t i = 0; i < logs.size(); ++i) EXPECT_EQ(logName(static_cast<Log>(i)), logs[i]);
  const std::vector<std::string_view> proofs = {"", "checked", "startOnly", "decidedOnHost"};
  for (std::size_t i = 0; i < proofs.size(); ++i) EXPECT_EQ(proofName(static_cast<Proof>(i)), proofs[i]);
  EXPECT_EQ(clientName(Client::Unknown), "");
  EXPECT_EQ(clientName(Client::ClawsMail), "claws-mail");
  EXPECT_EQ(clientName(Client::KMail), "kmail");
  EXPECT_EQ(portalBackendName(PortalBackend::Gtk), "gtk");
  EXPECT_EQ(portalBackendName(PortalBackend::Kde), "kde");

  EXPECT_EQ(wayName(static_cast<Way>(ways.size())), "none");
  EXPECT_EQ(wayName(static_cast<Way>(-1)), "none");
  EXPECT_EQ(logName(static_cast<Log>(logs.size())), "noRoute");
  EXPECT_EQ(proofName(static_cast<Proof>(-1)), "");
  EXPECT_EQ(clientName(static_cast<Client>(99)), "");
  EXPECT_EQ(portalBackendName(static_cast<PortalBackend>(3)), "unknown");
}

}  // namespace
}  // namespace mail
