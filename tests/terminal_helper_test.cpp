// The client helper on its own, with the test playing the program: it
// starts the client only when told to go ahead, and only the client the
// go-ahead names, reports the client's end in the protocol's words, and
// ends a client the program stopped waiting for.
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include <gtest/gtest.h>

#include "harness.h"
#include "platform/child_process.h"
#include "mail/client_report.h"

namespace {

using namespace harness;
using platform::Child;
using platform::ChildWait;

const fs::path kHelper = fs::path(SUPPORT_DRAFT_BUNDLE) / "Contents" / "MacOS" / "support-draft-terminal";
constexpr std::chrono::seconds kBound{30};

class TerminalHelper : public ::testing::Test {
 protected:
  void SetUp() override {
    address_ = dir_.path() / "report";
    listener_ = UniqueFd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_un name{};
    name.sun_family = AF_UNIX;
    std::strncpy(name.sun_path, address_.c_str(), sizeof name.sun_path - 1);
    ASSERT_EQ(::bind(listener_.get(), reinterpret_cast<const sockaddr*>(&name), sizeof name), 0);
    ASSERT_EQ(::listen(listener_.get(), 1), 0);
  }

  // The helper, reporting to `address`.
  Child startHelper(const fs::path& address) {
    platform::ChildSpec spec;
    spec.paths = {kHelper.string()};
    spec.arguments = {kHelper.string(), address.string()};
    platform::ChildStart start = platform::startChild(spec);
    EXPECT_EQ(start.error, 0);
    return std::move(start.child);
  }
  Child startHelper() { return startHelper(address_); }

  // The go-ahead for a client that runs `script` with `arguments`.
  static void goAhead(const UniqueFd& connection, const std::string& script,
                      const std::vector<std::string>& arguments = {}) {
    std::vector<std::string> command = {"/bin/sh", "-c", script};
    command.insert(command.end(), arguments.begin(), arguments.end());
    const auto message = mail::goAheadMessage(command);
    ASSERT_TRUE(message);
    ASSERT_EQ(::send(connection.get(), message->data(), message->size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(message->size()));
  }

  UniqueFd acceptHelper() {
    pollfd entry{listener_.get(), POLLIN, 0};
    EXPECT_EQ(::poll(&entry, 1, static_cast<int>(std::chrono::milliseconds(kBound).count())), 1);
    return UniqueFd(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
  }

  // Everything the helper sends until `until` has arrived or it closes.
  static std::string readUntil(const UniqueFd& connection, std::string_view until = {}) {
    std::string heard;
    char buffer[64];
    while (until.empty() || heard.find(until) == std::string::npos) {
      pollfd entry{connection.get(), POLLIN, 0};
      if (::poll(&entry, 1, static_cast<int>(std::chrono::milliseconds(kBound).count())) != 1) break;
      const ssize_t n = ::recv(connection.get(), buffer, sizeof buffer, 0);
      if (n <= 0) break;
      heard.append(buffer, static_cast<std::size_t>(n));
    }
    return heard;
  }

  static void say(const UniqueFd& connection, char byte) {
    ASSERT_EQ(::send(connection.get(), &byte, 1, MSG_NOSIGNAL), 1);
  }

  static int exitOf(Child& helper) {
    const ChildWait wait = helper.wait(kBound, platform::AtDeadline::End);
    EXPECT_EQ(wait.state, ChildWait::State::Ended);
    return WIFEXITED(wait.waitStatus) ? WEXITSTATUS(wait.waitStatus) : -WTERMSIG(wait.waitStatus);
  }

  fs::path path(std::string_view name) const { return dir_.path() / name; }

 private:
  TempDir dir_;
  fs::path address_;
  UniqueFd listener_;
};

// No program listening, one that closes without the go-ahead, or one whose
// go-ahead names no command it can read: the client is never started.
TEST_F(TerminalHelper, StartsNothingWithoutTheGoAhead) {
  const std::string client = "touch '" + path("started").string() + "'";
  Child unheard = startHelper(path("nobody-listens"));
  EXPECT_NE(exitOf(unheard), 0);

  Child refused = startHelper();
  { const UniqueFd connection = acceptHelper(); }
  EXPECT_NE(exitOf(refused), 0);

  const std::string whole = *mail::goAheadMessage({"/bin/sh", "-c", client});
  for (const std::string& broken :
       {whole.substr(0, whole.size() - 1), std::string(1, mail::kGoAhead) + "0\n",
        std::string(1, mail::kGoAhead) + "x\n" + whole.substr(whole.find('\n') + 1),
        std::string(1, mail::kGoAhead) + "4\nabc\0"}) {
    SCOPED_TRACE(testing::PrintToString(broken));
    Child cut = startHelper();
    const UniqueFd connection = acceptHelper();
    ASSERT_EQ(::send(connection.get(), broken.data(), broken.size(), MSG_NOSIGNAL), static_cast<ssize_t>(broken.size()));
    ASSERT_EQ(::shutdown(connection.get(), SHUT_WR), 0);
    EXPECT_NE(exitOf(cut), 0);
  }
  EXPECT_FALSE(fs::exists(path("started")));
}

// The client's command, which holds the draft, reaches the client whole
// and never stands in the helper's own command line, which every user
// can read.
TEST_F(TerminalHelper, CommandComesThroughTheChannelNotTheArguments) {
  const std::string text = "Support Request - Quorvel it's \"q\" $(id)\nline 2";
  Child helper = startHelper();
  const UniqueFd connection = acceptHelper();
  const std::string cmdline = readFile(fs::path("/proc") / std::to_string(helper.pid()) / "cmdline");
  EXPECT_EQ(cmdline, kHelper.string() + std::string(1, '\0') + path("report").string() + std::string(1, '\0'));
  const std::string record = path("argument").string();
  // sh -c SCRIPT TEXT: the text is the script's $0.
  goAhead(connection, "printf '%s' \"$0\" > '" + record + "'", {text});
  EXPECT_EQ(readUntil(connection), mail::startedLine() + mail::endLine({false, 0}));
  EXPECT_EQ(exitOf(helper), 0);
  EXPECT_EQ(readFile(record), text);
}

// The client's own end, in the protocol's words, and as the helper's exit
// status for the terminal.
TEST_F(TerminalHelper, ReportsTheClientsEnd) {
  struct Case {
    std::string script;
    mail::ClientEnd end;
    int status;
  };
  for (const Case& c : {Case{"exit 7", {false, 7}, 7}, Case{"kill -SEGV $$", {true, SIGSEGV}, 128 + SIGSEGV},
                        Case{"exit 0", {false, 0}, 0}}) {
    SCOPED_TRACE(c.script);
    Child helper = startHelper();
    const UniqueFd connection = acceptHelper();
    goAhead(connection, c.script);
    const std::string heard = readUntil(connection);
    EXPECT_EQ(heard, mail::startedLine() + mail::endLine(c.end));
    EXPECT_EQ(exitOf(helper), c.status);
  }
}

// Told that the running client counts, the helper stays with it and says
// nothing more; when the program goes away without that word, the client
// is ended, so no draft appears after a reported failure.
TEST_F(TerminalHelper, KeepsOnlyAClientTheProgramCounted) {
  const std::string release = path("release").string();
  Child kept = startHelper();
  const UniqueFd keptConnection = acceptHelper();
  goAhead(keptConnection, "while [ ! -e '" + release + "' ]; do sleep 0.05; done; exit 5");
  EXPECT_EQ(readUntil(keptConnection, "\n"), mail::startedLine());
  say(keptConnection, mail::kKeep);
  // The program goes on its way once it has said the word: the client
  // outlives the end of the channel.
  ASSERT_EQ(::shutdown(keptConnection.get(), SHUT_WR), 0);
  // Written once the helper has the word: it is read before the client ends.
  writeFile(path("release"), "");
  EXPECT_EQ(exitOf(kept), 5);
  EXPECT_EQ(readUntil(keptConnection), "") << "an end reported after the keep";

  const std::string pidFile = path("pid").string();
  Child dropped = startHelper();
  {
    const UniqueFd connection = acceptHelper();
    goAhead(connection, "echo $$ > '" + pidFile + "'; exec sleep 60");
    EXPECT_EQ(readUntil(connection, "\n"), mail::startedLine());
  }
  EXPECT_EQ(exitOf(dropped), 128 + SIGTERM);
}

}  // namespace
