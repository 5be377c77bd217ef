// A sandboxed job whose sandbox may talk to the Flatpak session service:
// the job runs in a Flatpak-like root (tests/stand-ins/flatpak-sandbox.sh)
// beside a stand-in service (tests/stand-ins/flatpak.py) and a stand-in
// portal on a private session bus. The service runs the bundle's desktop
// helper on the "host" (outside the root), whose MAILER is a recording
// composer; the sandbox's desktop names the GTK portal backend, which never
// carries a log. Also the Flatpak helper alone against the stand-in: what
// the service is asked, and how the command's end becomes its status.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <memory>

#include "job_fixture.h"
#include "mail/host_route.h"

namespace {

using namespace jobfixture;
using namespace mail;

const fs::path kSource = fs::path(SUPPORT_DRAFT_SOURCE_DIR) / "tests" / "stand-ins";
const fs::path kBuiltHelpers = fs::path(SUPPORT_DRAFT_BUNDLE) / "Contents" / "MacOS";

constexpr std::string_view kGrant =
    "[Application]\nname=com.quorvel.SupportDraftTest\n\n[Instance]\ninstance-id=1\napp-path=@APP@\n\n"
    "[Session Bus Policy]\norg.freedesktop.Flatpak=talk\n";
constexpr std::string_view kNoGrant =
    "[Application]\nname=com.quorvel.SupportDraftTest\n\n[Instance]\ninstance-id=1\napp-path=@APP@\n\n"
    "[Session Bus Policy]\norg.freedesktop.Flatpak=see\n";

// What the job asks for: texts the portal and a shell would both mangle.
constexpr std::string_view kJobWithLog =
    R"json({"subject":"Support Request - Quorvel it's 100% \"q\" $(id)","body":"line 1\n\tline 2 %20","attachLogs":true})json";
constexpr std::string_view kJobWithoutLog =
    R"({"subject":"Support Request - Quorvel x","body":"b","attachLogs":false})";

// Deadlines for the helper alone: the stand-in's quick ends come well
// inside kInTime, and a command that sleeps never ends inside kSoon.
constexpr std::chrono::milliseconds kInTime{20000};
constexpr std::chrono::milliseconds kSoon{300};

class HostCommand : public JobFixture {
 protected:
  void SetUp() override {
    JobFixture::SetUp();
    for (const char* tool : {"/usr/bin/dbus-run-session", "/usr/bin/gdbus", "/usr/bin/python3", "/usr/bin/unshare"}) {
      ASSERT_EQ(::access(tool, X_OK), 0) << tool << " is missing (scripts/deps.sh test)";
    }
    copyBuiltResource(bundle(), kScriptResource);
    for (const std::string_view helper : {kFlatpakHelperName, kDesktopHelperName, std::string_view("support-draft-portal"),
                                          std::string_view("support-draft-watcher")}) {
      linkBuiltHelper(bundle(), helper);
    }
    makeDirectory(root() / "bin", 0755);
    useComposer("");
    // A session bus that starts no service of its own: whether the real
    // Flatpak service is installed must not matter.
    writeFile(busConfig(),
              "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
              " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
              "<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen><auth>EXTERNAL</auth>"
              "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
              "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n",
              0644);
    // driver SERVICE PORTAL: the stand-ins that are not "none" take their
    // places on the bus (starting side by side), the service with the
    // host's MAILER; then the driver says the bus's address and ends them
    // once its standard input closes.
    writeFile(driver(),
              "#!/bin/sh\nservice=$1 portal=$2\n"
              "if [ \"$service\" != none ]; then\n"
              "  MAILER='" + composer().string() + "' /usr/bin/python3 '" + (kSource / "flatpak.py").string() +
                  "' '" + record().string() + "' \"$service\" &\nfi\n"
              "if [ \"$portal\" != none ]; then\n"
              "  printf '%s' \"$portal\" > '" + portalRecord().string() + ".answer'\n"
              "  /usr/bin/python3 '" + (kSource / "portal.py").string() + "' '" + portalRecord().string() + "' &\n"
              "  /usr/bin/gdbus wait --session --timeout 10 org.freedesktop.portal.Desktop || exit 99\nfi\n"
              "if [ \"$service\" != none ]; then\n"
              "  /usr/bin/gdbus wait --session --timeout 10 org.freedesktop.Flatpak || exit 99\nfi\n"
              "echo \"$DBUS_SESSION_BUS_ADDRESS\"\nread -r _\nkill $(jobs -p) 2>/dev/null\n",
              0755);
  }

  // The host's composer records its first argument, then runs `tail`.
  void useComposer(std::string_view tail) const {
    writeFile(composer(), "#!/bin/sh\nprintf '%s' \"$1\" > '" + (root() / "composed").string() + "'\n" +
                              std::string(tail), 0755);
  }

  // A private session bus with the given stand-ins, which the stand-ins
  // and whatever they start share `env`; the runs of a test made with the
  // same stand-ins share one. It ends with the Companion.
  std::unique_ptr<Companion> startBus(const std::string& service, const std::string& portal,
                                      const Environment& env) const {
    auto bus = std::make_unique<Companion>(
        "/usr/bin/dbus-run-session",
        std::vector<std::string>{"--config-file=" + busConfig().string(), "--", driver().string(), service, portal},
        env);
    EXPECT_TRUE(bus->readyLine()) << "the stand-ins never came on their bus";
    return bus;
  }
  // `env` with `bus` as its session bus.
  static Environment on(const Companion& bus, Environment env) {
    env["DBUS_SESSION_BUS_ADDRESS"] = bus.readyLine().value_or("");
    return env;
  }

  // The environment of a sandboxed job and of its stand-ins.
  Environment sandboxEnvironment() const {
    Environment env = minimalEnvironment(home());
    env["XDG_CURRENT_DESKTOP"] = "GNOME";
    return env;
  }
  std::unique_ptr<Companion> sandboxBus(const std::string& service, const std::string& portal) const {
    return startBus(service, portal, sandboxEnvironment());
  }

  // Runs the job in the Flatpak-like root with `info` as its
  // /.flatpak-info, on `bus`; the bundle's directory is its /app.
  RunResult runSandboxed(std::string_view info, const Companion& bus) const {
    std::string text(info);
    text.replace(text.find("@APP@"), 5, root().string());
    writeFile(root() / "flatpak-info", text, 0644);
    return run(kSource / "flatpak-sandbox.sh",
               {root().string(), (root() / "flatpak-info").string(),
                "/app/SupportDraft.app/Contents/MacOS/support-draft", "--job", std::string(kJobId)},
               on(bus, sandboxEnvironment()));
  }

  bool sandboxCanBeMade() const {
    const RunResult probe = run(kSource / "flatpak-sandbox.sh", {"--probe"}, minimalEnvironment(home()));
    return probe.exitStatus == 0;
  }

  nlohmann::json recorded(const fs::path& path) const {
    const auto text = readFileIfPresent(path);
    return text ? nlohmann::json::parse(*text) : nullptr;
  }
  std::optional<std::string> composed() const { return readFileIfPresent(root() / "composed"); }

  fs::path driver() const { return root() / "driver"; }
  fs::path busConfig() const { return root() / "session.conf"; }
  fs::path composer() const { return root() / "bin" / "composer"; }
  fs::path record() const { return root() / "host-command.json"; }
  fs::path portalRecord() const { return root() / "portal.json"; }
  fs::path hostHelper() const { return bundle().root / "Contents" / "MacOS" / std::string(kDesktopHelperName); }
};

// The job's process side: status 0 and nothing on standard output (the
// bus daemon may warn on standard error).
void expectJobRan(const RunResult& result) {
  EXPECT_EQ(result.exitStatus, 0) << describe(result);
  EXPECT_EQ(result.out, "");
}

#define SKIP_WITHOUT_SANDBOX()                                                                         \
  if (!sandboxCanBeMade()) GTEST_SKIP() << "no Flatpak-like root can be made here: an ordinary user " \
                                           "needs user namespaces (kernel.unprivileged_userns_clone)"

// Granted the service, the job's draft is made on the host by the route a
// job outside the sandbox takes: the host's MAILER gets the texts and the
// log, although the portal's backend could carry no log; the texts reach
// the host through a descriptor, never the command's arguments.
TEST_F(HostCommand, GrantedSandboxMakesTheDraftOnTheHostWithTheLog) {
  SKIP_WITHOUT_SANDBOX();
  prepare(kJobWithLog, "2026-12-07 export started\n");
  expectJobRan(runSandboxed(kGrant, *sandboxBus("run", "0")));
  EXPECT_EQ(outcome(), opened());
  const auto uri = composed();
  ASSERT_TRUE(uri.has_value()) << "the host's composer was not started";
  EXPECT_NE(uri->find("attach=" ), std::string::npos) << *uri;
  EXPECT_NE(uri->find("log.txt"), std::string::npos) << *uri;
  EXPECT_NE(uri->find("100%25"), std::string::npos) << *uri;
  const nlohmann::json asked = recorded(record());
  ASSERT_TRUE(asked.is_object());
  EXPECT_EQ(asked["argv"], nlohmann::json::array({hostHelper().string()}));
  EXPECT_EQ(asked["fds"], nlohmann::json::array({0, 1, 2, 3}));
  EXPECT_EQ(asked["envs"], nlohmann::json::object());
  EXPECT_EQ(asked["cwd"], "/");
  EXPECT_TRUE(recorded(portalRecord()).is_null()) << "the portal was asked too";
}

// Without the grant, or when nothing ran on the host (no service, or one
// that refuses the command), the portal route is taken as before: no log
// on the GTK backend, the portal's own answer without one.
TEST_F(HostCommand, WithoutTheHostThePortalRouteIsTaken) {
  SKIP_WITHOUT_SANDBOX();
  for (const auto& [info, service] : {std::pair{kNoGrant, "run"}, {kGrant, "none"}, {kGrant, "refuse"}}) {
    SCOPED_TRACE(std::string(service) + (info == kGrant ? " granted" : " not granted"));
    fs::remove_all(home());
    fs::remove(record());
    fs::remove(portalRecord());
    const auto bus = sandboxBus(service, "0");
    prepare(kJobWithLog, "2026-12-07 export started\n");
    expectJobRan(runSandboxed(info, *bus));
    EXPECT_EQ(outcome(), failed());
    EXPECT_TRUE(recorded(portalRecord()).is_null()) << "the GTK portal was asked for a log";

    fs::remove_all(home());
    prepare(kJobWithoutLog);
    expectJobRan(runSandboxed(info, *bus));
    EXPECT_EQ(outcome(), opened());
    EXPECT_EQ(recorded(portalRecord()).value("body", ""), "b");
    EXPECT_FALSE(composed().has_value()) << "the host's composer was started";
    EXPECT_EQ(recorded(record()).is_object(), std::string(service) == "refuse")
        << "the service was asked without the grant";
  }
}

// What ran on the host is the job's answer, and the portal is never tried
// after a command that may have opened a draft: a host client that fails
// is the job's failure, and so is a service that leaves the bus once it
// started the command, since it never tells the command's end.
TEST_F(HostCommand, HostSideFailureIsDraftFailedWithoutThePortal) {
  SKIP_WITHOUT_SANDBOX();
  for (const auto& [tail, service] : {std::pair{"exit 1\n", "run"}, {"sleep 1\n", "die"}}) {
    SCOPED_TRACE(service);
    fs::remove_all(home());
    fs::remove(root() / "composed");
    useComposer(tail);
    prepare(kJobWithoutLog);
    expectJobRan(runSandboxed(kGrant, *sandboxBus(service, "0")));
    EXPECT_EQ(outcome(), failed());
    EXPECT_TRUE(recorded(portalRecord()).is_null()) << "the portal was asked after the host command started";
    if (std::string_view(service) == "run") {
      EXPECT_TRUE(composed().has_value()) << "the host's composer was not started";
    }
  }
}

// The Flatpak helper alone: the request goes to the host program as its
// descriptor 3, and the program's end becomes the helper's status.
class FlatpakHelper : public HostCommand {
 protected:
  std::unique_ptr<Companion> serviceBus(const std::string& service) const {
    return startBus(service, "none", minimalEnvironment(home()));
  }

  int runHelper(const Companion& bus, const std::string& hostScript, std::string_view request,
                std::chrono::milliseconds deadline = kInTime) const {
    const fs::path host = root() / "host-program";
    writeFile(host, "#!/bin/sh\n" + hostScript, 0755);
    writeFile(root() / "request", request, 0600);
    const fs::path wrapper = root() / "with-request";
    writeFile(wrapper, "#!/bin/sh\nexec \"$@\" < '" + (root() / "request").string() + "'\n", 0755);
    const RunResult result = run(wrapper,
                                 {(kBuiltHelpers / std::string(kFlatpakHelperName)).string(), host.string(),
                                  std::to_string(deadline.count())},
                                 on(bus, minimalEnvironment(home())));
    if (!result.exitStatus) {
      ADD_FAILURE() << describe(result);
      return -1;
    }
    return *result.exitStatus;
  }
};

TEST_F(FlatpakHelper, RequestReachesTheHostProgramThroughItsDescriptor) {
  const std::string request = "{\"subject\":\"s \\\"q\\\" $(id)\"}\n";
  EXPECT_EQ(runHelper(*serviceBus("run"), "cat <&3 > '" + (root() / "got").string() + "'\n", request), 0);
  EXPECT_EQ(readFileIfPresent(root() / "got"), request);
  EXPECT_EQ(recorded(record()).value("flags", 0), 2) << "the service was not asked to watch the caller";
}

TEST_F(FlatpakHelper, CommandsEndIsTheStatus) {
  const auto running = serviceBus("run");
  EXPECT_EQ(runHelper(*running, "exit 0\n", "{}"), kHostOpened);
  EXPECT_EQ(runHelper(*running, "exit 12\n", "{}"), kHostNotOpened);
  EXPECT_EQ(runHelper(*running, "exit 100\n", "{}"), kFlatpakHostOther);
  EXPECT_EQ(runHelper(*running, "kill -SEGV $$\n", "{}"), kFlatpakHostSignalled);
  EXPECT_EQ(runHelper(*serviceBus("refuse"), "exit 0\n", "{}"), kFlatpakNotStarted);
  EXPECT_EQ(runHelper(*serviceBus("none"), "exit 0\n", "{}"), kFlatpakNotStarted);
  EXPECT_EQ(runHelper(*serviceBus("die"), "sleep 2\n", "{}"), kFlatpakLost);
}

// A command still running at the deadline is killed with its process
// group, so that it cannot open a draft after the job said none opened.
TEST_F(FlatpakHelper, CommandPastTheDeadlineIsKilled) {
  EXPECT_EQ(runHelper(*serviceBus("run"), "exec sleep 60\n", "{}", kSoon), kFlatpakNoAnswer);
  EXPECT_EQ(readFileIfPresent(record().string() + ".signals"), "9 1\n");
}

}  // namespace
