// The desktop portal helper against a stand-in portal on a private session
// bus (dbus-run-session): what ComposeEmail receives, how each answer of
// the portal becomes the helper's exit status, what the deadline does to a
// portal that answers late or not at all, and what the mail service hands
// the KDE backend.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <tuple>

#include "harness.h"
#include "mail/draft_route.h"
#include "mail/helper_words.h"
#include "mail/mail_service.h"
#include "platform/child_process.h"

namespace {

using namespace harness;
using namespace mail;

const fs::path kHelper = fs::path(SUPPORT_DRAFT_BUNDLE) / "Contents" / "MacOS" / "support-draft-portal";
const fs::path kStandIn = fs::path(SUPPORT_DRAFT_SOURCE_DIR) / "tests" / "stand-ins" / "portal.py";

// Deadlines that no machine misses and no test waits for: the stand-in's
// quick answers come well inside kInTime, and its late ones never come
// inside kSoon.
constexpr std::chrono::milliseconds kInTime{20000};
constexpr std::chrono::milliseconds kSoon{300};

class PortalHelper : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* tool : {"/usr/bin/dbus-run-session", "/usr/bin/gdbus", "/usr/bin/python3"}) {
      ASSERT_EQ(::access(tool, X_OK), 0) << tool << " is missing (scripts/deps.sh test)";
    }
    // One bus and one stand-in for all the calls of a test: the driver
    // puts the stand-in on the bus, says the bus's address and ends the
    // stand-in once its standard input closes.
    writeFile(driver(),
              "#!/bin/sh\n/usr/bin/python3 '" + kStandIn.string() + "' '" + record().string() + "' &\nportal=$!\n"
              "/usr/bin/gdbus wait --session --timeout 10 org.freedesktop.portal.Desktop || exit 99\n"
              "echo \"$DBUS_SESSION_BUS_ADDRESS\"\nread -r _\nkill $portal\n",
              0755);
    writeFile(log(), "2026-12-07 export started\n", 0600);
    bus_.emplace("/usr/bin/dbus-run-session", std::vector<std::string>{"--", driver().string()},
                 minimalEnvironment(dir_.path()));
    ASSERT_TRUE(bus_->readyLine()) << "the stand-in portal never came on its bus";
  }

  // The helper's environment: on the stand-in's bus.
  Environment onBus() const {
    Environment env = minimalEnvironment(dir_.path());
    env["DBUS_SESSION_BUS_ADDRESS"] = *bus_->readyLine();
    return env;
  }
  // How the stand-in answers the calls from now on.
  void answer(const std::string& answer, const std::string& delay = "0") const {
    writeFile(record().string() + ".answer", answer + " " + delay, 0600);
  }

  // Runs the helper with `deadline` and `response` (the time the Response
  // is awaited, counted from the call: responseDeadline) against a portal
  // that answers `answer` after `delay` seconds, with `words` (subject, body and the
  // log's path if any) and `address` on its standard input; gives its exit
  // status, or -1 when the run itself failed.
  int runHelper(const std::string& answer, std::vector<std::string> words,
                std::chrono::milliseconds deadline = kInTime, const std::string& delay = "0",
                const std::string& address = "", std::chrono::milliseconds response = kInTime) const {
    if (words.size() == 2) words.push_back("");
    words.insert(words.begin(), address);
    writeFile(input(), packWords(words).value_or(""), 0600);
    this->answer(answer, delay);
    // The shell gives the helper its standard input and becomes it.
    const RunResult result = run("/bin/sh",
                                 {"-c", "exec \"$0\" \"$@\" < '" + input().string() + "'", kHelper.string(),
                                  std::to_string(deadline.count()), std::to_string(response.count())},
                                 onBus());
    if (!result.exitStatus) {
      ADD_FAILURE() << describe(result);
      return -1;
    }
    return *result.exitStatus;
  }

  // A program for the mail service to start as its portal helper: the
  // real helper, on the stand-in's bus, which answers `answer`.
  std::string helperBehind(const std::string& answer) const {
    this->answer(answer);
    const fs::path wrapper = dir_.path() / ("helper-" + answer);
    writeFile(wrapper,
              "#!/bin/sh\nDBUS_SESSION_BUS_ADDRESS='" + *bus_->readyLine() + "' exec '" + kHelper.string() +
                  "' \"$@\"\n",
              0755);
    return wrapper.string();
  }

  // What ComposeEmail received; null when it was not called.
  nlohmann::json recorded() const {
    if (!fs::exists(record())) return nullptr;
    return nlohmann::json::parse(readFile(record()));
  }
  bool closed() const { return fs::exists(record().string() + ".closed"); }
  void forget() const {
    fs::remove(record());
    fs::remove(record().string() + ".closed");
  }

  fs::path driver() const { return dir_.path() / "driver"; }
  fs::path record() const { return dir_.path() / "record.json"; }
  fs::path log() const { return dir_.path() / "log.txt"; }
  fs::path input() const { return dir_.path() / "input"; }

 private:
  TempDir dir_;
  std::optional<Companion> bus_;
};

const std::string kSubject = "Support Request - Quorvel \"q\" $(id) T\xC3\xBCrk\xC3\xA7" "e";
const std::string kBody = "line 1\n\tline 2 \\n 'x' & y\n";

// The recipient goes in `address` as the caller gave it, never in
// `addresses`, and only when there is one.
TEST_F(PortalHelper, ComposeEmailGetsTheTextsTheRecipientAndTheLogAsDescriptor) {
  const std::string address = "help+desk@support.example.org";
  EXPECT_EQ(runHelper("0", {kSubject, kBody}, kInTime, "0", address), kPortalResponse0);
  nlohmann::json options = recorded();
  ASSERT_TRUE(options.is_object());
  EXPECT_EQ(options.value("subject", ""), kSubject);
  EXPECT_EQ(options.value("body", ""), kBody);
  EXPECT_EQ(options.value("parent_window", "?"), "");
  EXPECT_FALSE(options.contains("attachment_fds"));
  EXPECT_EQ(options.value("address", ""), address);
  EXPECT_FALSE(options.contains("addresses"));
  // The draft came on standard input: the command line that every user can
  // read holds the times alone.
  EXPECT_EQ(options["caller_cmdline"],
            nlohmann::json::array({kHelper.string(), std::to_string(kInTime.count()), std::to_string(kInTime.count())}));

  EXPECT_EQ(runHelper("0", {kSubject, kBody, log().string()}), kPortalResponse0);
  options = recorded();
  EXPECT_EQ(options["attachment_fds"], nlohmann::json::array({"2026-12-07 export started\n"}));
  EXPECT_FALSE(options.contains("address"));
}

// The helper reports what the portal said; an answered request is not closed.
TEST_F(PortalHelper, EachAnswerHasItsStatus) {
  EXPECT_EQ(runHelper("1", {kSubject, kBody}), kPortalResponse1);
  EXPECT_EQ(runHelper("2", {kSubject, kBody}), kPortalResponseOther);
  EXPECT_EQ(runHelper("deny", {kSubject, kBody}), kPortalAccessDenied);
  EXPECT_EQ(runHelper("0", {kSubject, kBody}, kInTime, "0.3"), kPortalResponse0);
  EXPECT_FALSE(closed());
  EXPECT_EQ(runHelper("0", {kSubject, "x"}, std::chrono::milliseconds(-1)), kPortalUsage);
  EXPECT_EQ(runHelper("0", {kSubject, "x"}, std::chrono::milliseconds(0)), kPortalNoAnswer);
  // Standard input that is not the four words of a draft.
  forget();
  EXPECT_EQ(runHelper("0", {kSubject}), kPortalUsage);
  EXPECT_EQ(runHelper("0", {kSubject, kBody, log().string(), "more"}), kPortalUsage);
  EXPECT_TRUE(recorded().is_null()) << "the portal was called";
}

// Once the portal has taken the call, its backend's Response is awaited for
// the response time, not the whole deadline: a KDE backend that is silent
// then has a client running. Before the call's reply only the deadline
// counts.
TEST_F(PortalHelper, ResponseIsAwaitedForTheResponseTimeOnceTheCallIsTaken) {
  constexpr std::chrono::milliseconds kForever{600000};
  EXPECT_EQ(runHelper("silent", {kSubject, kBody}, kForever, "0", "", kSoon), kPortalNoResponse);
  EXPECT_TRUE(closed());
  forget();
  EXPECT_EQ(runHelper("mute", {kSubject, kBody}, kSoon, "0", "", kForever), kPortalNoAnswer);
  EXPECT_TRUE(closed());
}

// One deadline covers the reply and the Response: a portal that answers
// after it, or never, or does not even reply, is no answer, and the
// request is closed so that a late answer cannot open a draft.
TEST_F(PortalHelper, PortalThatMissesTheDeadlineIsNoAnswerAndItsRequestIsClosed) {
  // A reply without a Response is told apart from no reply at all: the
  // backends read it differently.
  for (const auto& [answer, delay, status] :
       {std::tuple<std::string, std::string, int>{"0", "60", kPortalNoResponse},
        {"silent", "0", kPortalNoResponse},
        {"mute", "0", kPortalNoAnswer}}) {
    forget();
    EXPECT_EQ(runHelper(answer, {kSubject, kBody}, kSoon, delay), status) << answer;
    EXPECT_TRUE(recorded().is_object()) << answer << ": the portal was not called";
    EXPECT_TRUE(closed()) << answer << ": the request was left open";
  }
}

// A log that is a link, or readable by others, never reaches the portal.
TEST_F(PortalHelper, LogThatIsNotPrivateIsNotSent) {
  const fs::path link = log().parent_path() / "link.txt";
  makeSymlink(log(), link);
  EXPECT_EQ(runHelper("0", {kSubject, kBody, link.string()}), kPortalBadFile);
  fs::permissions(log(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_EQ(runHelper("0", {kSubject, kBody, log().string()}), kPortalBadFile);
  EXPECT_TRUE(recorded().is_null()) << "the portal was called";
}

// What the KDE backend passes on raw is asked for only where it arrives
// intact (the route decides which texts those are): an apostrophe or a '%'
// alone goes to the portal whole, and the log from a path with an
// apostrophe; the service reads the backend's answer for a started client
// as an open draft.
TEST_F(PortalHelper, KdeBackendCarriesTheTextsItIsAskedFor) {
  MailFacts facts;
  facts.sandboxed = true;
  facts.portalBackend = PortalBackend::Kde;
  for (const auto& [body, logDirectory] : std::vector<std::pair<std::string, std::string>>{
           {"It's broken, isn't it? 'x' ends'", "plain"},
           {"Stopped at 99% & 50%-60% %zz %", "plain"},
           {"b", "O'Neil J\xC3\xB6rg"}}) {
    SCOPED_TRACE(body + " " + logDirectory);
    forget();
    const fs::path directory = log().parent_path() / logDirectory;
    if (!fs::exists(directory)) makeDirectory(directory, 0700);
    writeFile(directory / "log.txt", "log\n", 0600);
    const Draft draft{"Support Request - Quorvel it's 100%", body, (directory / "log.txt").string(), ""};
    const DraftRoute route = decideRoute(facts, draft);
    ASSERT_EQ(route.kind, DraftRoute::Kind::Portal);
    MailContext context = mailContext(platform::processEnvironment(), "", "");
    context.portalHelper = helperBehind("1");
    context.portalDeadline = kInTime;
    const ServiceAnswer outcome = carryOut(context, route, draft);
    EXPECT_EQ(outcome.errorNumber, 0) << outcome.message;
    const nlohmann::json options = recorded();
    ASSERT_TRUE(options.is_object());
    EXPECT_EQ(options.value("subject", ""), draft.subject);
    EXPECT_EQ(options.value("body", ""), body);
    EXPECT_EQ(options["attachment_fds"], nlohmann::json::array({"log\n"}));
  }
}

}  // namespace
