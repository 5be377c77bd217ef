#include "mail/report_channel.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>

#include <cstring>
#include <filesystem>

#include "testing/report_peer.h"
#include "testing/scratch_directory.h"

namespace mail {
namespace {

namespace fs = std::filesystem;
using State = ClientReport::State;
using platform::ChildSpec;
using platform::UniqueFd;
using testing_support::connectedHelper;
using testing_support::GraceGate;

// What the program sent the helper, up to its closing.
std::string heardByHelper(const UniqueFd& socket) {
  std::string heard;
  char byte = 0;
  while (recv(socket.get(), &byte, 1, MSG_DONTWAIT) == 1) heard += byte;
  return heard;
}

// A launcher's descriptor that becomes readable when it ends.
UniqueFd startLauncher(const std::string& script) {
  ChildSpec spec;
  spec.paths = {"/bin/sh"};
  spec.arguments = {"sh", "-c", script};
  platform::DetachedStart start = platform::startDetached(spec);
  EXPECT_EQ(start.error, 0);
  return std::move(start.ended);
}

// The client's command the channel hands the helper.
const std::vector<std::string> kClient = {"neomutt", "-a", "/home/O'Neil, J/log.txt", "--", "mailto:?subject=x%0A"};

class ReportChannelTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(chmod(scratch_.path().c_str(), 0700), 0); }
  const std::string& runtime() const { return scratch_.path(); }

 private:
  testing_support::ScratchDirectory scratch_;
};

// Only a private directory of this user's is a runtime directory to use;
// the channel's own directory is private, unguessable, and goes with it.
TEST_F(ReportChannelTest, ChannelLivesPrivatelyInTheRuntimeDirectory) {
  EXPECT_TRUE(isPrivateRuntimeDirectory(runtime().c_str()));
  EXPECT_FALSE(isPrivateRuntimeDirectory(nullptr));
  EXPECT_FALSE(isPrivateRuntimeDirectory(""));
  EXPECT_FALSE(isPrivateRuntimeDirectory("relative"));
  EXPECT_FALSE(isPrivateRuntimeDirectory((runtime() + "/missing").c_str()));
  EXPECT_FALSE(isPrivateRuntimeDirectory(("/" + std::string(100, 'a')).c_str()));
  fs::create_directory_symlink(runtime(), runtime() + "/link");
  EXPECT_FALSE(isPrivateRuntimeDirectory((runtime() + "/link").c_str()));
  const std::string open = runtime() + "/open";
  fs::create_directory(open);
  ASSERT_EQ(chmod(open.c_str(), 0710), 0);
  EXPECT_FALSE(isPrivateRuntimeDirectory(open.c_str()));
  EXPECT_FALSE(ReportChannel::open(open.c_str(), kClient));

  std::string directory;
  {
    EXPECT_FALSE(ReportChannel::open(runtime().c_str(), {})) << "a channel for no command";
    const std::optional<ReportChannel> channel = ReportChannel::open(runtime().c_str(), kClient);
    ASSERT_TRUE(channel);
    directory = fs::path(channel->address()).parent_path();
    EXPECT_EQ(fs::path(directory).parent_path(), runtime());
    struct stat facts {};
    ASSERT_EQ(lstat(directory.c_str(), &facts), 0);
    EXPECT_EQ(facts.st_mode & 07777, 0700u);
    EXPECT_EQ(facts.st_uid, geteuid());
    const std::optional<ReportChannel> second = ReportChannel::open(runtime().c_str(), kClient);
    ASSERT_TRUE(second);
    EXPECT_NE(second->address(), channel->address());
  }
  EXPECT_FALSE(fs::exists(directory));
  EXPECT_EQ(std::distance(fs::directory_iterator(runtime()), fs::directory_iterator()), 2) << "link and open only";
}

// The helper's report is read as the protocol allows; a client running at
// the deadline is told it counts, and only the first helper is heard, and
// handed the client's command.
TEST_F(ReportChannelTest, HelpersReportIsReadAndAnswered) {
  const std::string goAhead = *goAheadMessage(kClient);
  struct Case {
    std::string lines;
    bool closes;
    State state;
    std::string answer;  // what the helper hears
  };
  const std::vector<Case> cases = {
      {"started\n", false, State::Started, goAhead + kKeep},
      {"started\nexit 1\n", false, State::Ended, goAhead},
      {"started\nsignal 11\n", false, State::Ended, goAhead},
      {"unstartable\n", false, State::Unstartable, goAhead},
      {"started\nexit 0\nmore\n", false, State::Malformed, goAhead},
      {"hello\n", false, State::Malformed, goAhead},
      {"started\n", true, State::Lost, goAhead},
      {"", true, State::Lost, goAhead},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lines);
    std::optional<ReportChannel> channel = ReportChannel::open(runtime().c_str(), kClient);
    ASSERT_TRUE(channel);
    UniqueFd helper = connectedHelper(channel->address(), c.lines);
    UniqueFd second = connectedHelper(channel->address(), "started\nexit 0\n");
    if (c.closes) {
      ASSERT_EQ(shutdown(helper.get(), SHUT_WR), 0);
    }
    const UniqueFd launcher = startLauncher("exit 0");
    // Everything is sent already. A final report ends the wait by itself
    // with a grace that never ends; a client left Started is heard at the
    // end of the grace, which comes once the helper was accepted (it hears
    // the go-ahead), after the lines it had sent.
    GraceGate grace;
    if (c.state == State::Started) grace.openOnceReadable(helper.get());
    const ReportChannel::Heard heard = channel->await(launcher.get(), grace.descriptor());
    grace.join();
    EXPECT_FALSE(heard.launcherFailure);
    EXPECT_EQ(heard.report.state, c.state);
    channel.reset();
    EXPECT_EQ(heardByHelper(helper), c.answer);
    EXPECT_EQ(heardByHelper(second), "") << "a second helper was answered";
  }
}

// A terminal that fails ends the wait at once; one that returns with 0 (its
// server runs the command) does not, and nobody heard is Silent.
TEST_F(ReportChannelTest, OnlyAFailingLauncherEndsTheWaitEarly) {
  std::optional<ReportChannel> channel = ReportChannel::open(runtime().c_str(), kClient);
  ASSERT_TRUE(channel);
  const UniqueFd failing = startLauncher("exit 3");
  const GraceGate endless;
  const ReportChannel::Heard failed = channel->await(failing.get(), endless.descriptor());
  ASSERT_TRUE(failed.launcherFailure);
  EXPECT_TRUE(WIFEXITED(failed.launcherFailure->waitStatus));
  EXPECT_EQ(WEXITSTATUS(failed.launcherFailure->waitStatus), 3);

  // Once the launcher has ended well, only the end of the grace ends the
  // wait: the gate opens when the launcher's end can be read.
  const UniqueFd returning = startLauncher("exit 0");
  GraceGate grace;
  grace.openOnceReadable(returning.get());
  const ReportChannel::Heard silent = channel->await(returning.get(), grace.descriptor());
  grace.join();
  EXPECT_FALSE(silent.launcherFailure);
  EXPECT_EQ(silent.report.state, State::Silent);
}

}  // namespace
}  // namespace mail
