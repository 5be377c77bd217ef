#include "mail/report_channel.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <vector>

namespace mail {

using platform::ChildWait;
using platform::UniqueFd;
namespace {

constexpr std::string_view kDirectoryTemplate = "/support-draft-XXXXXX";
constexpr std::string_view kSocketName = "/report";
// Only the helper connects; a few more pending peers are refused one by one.
constexpr int kBacklog = 4;

std::size_t maxRuntimeDirectoryLength() {
  return sizeof(sockaddr_un{}.sun_path) - 1 - kDirectoryTemplate.size() - kSocketName.size();
}

bool isPeerThisUser(int connection) {
  ucred peer{};
  socklen_t size = sizeof peer;
  if (getsockopt(connection, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || size != sizeof peer) return false;
  return peer.uid == geteuid();
}

bool sendByte(int connection, char byte) {
  while (true) {
    const ssize_t sent = send(connection, &byte, 1, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent == 1) return true;
    if (sent < 0 && errno == EINTR) continue;
    return false;
  }
}

// Sends all of `bytes` before the grace is over (`graceOver` readable),
// waiting for room as needed.
bool sendAll(int connection, std::string_view bytes, int graceOver) {
  while (!bytes.empty()) {
    const ssize_t sent = send(connection, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(sent));
      continue;
    }
    if (sent < 0 && errno == EINTR) continue;
    if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
    pollfd entries[] = {{connection, POLLOUT, 0}, {graceOver, POLLIN, 0}};
    if (poll(entries, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (entries[1].revents != 0) return false;
  }
  return true;
}

bool launcherFailed(const ChildWait& wait) {
  if (wait.state == ChildWait::State::Unknown) return false;
  return wait.state == ChildWait::State::Ended &&
         (WIFSIGNALED(wait.waitStatus) || (WIFEXITED(wait.waitStatus) && WEXITSTATUS(wait.waitStatus) != 0));
}

// One side of the wait: the helper's connection and what it sent.
struct Helper {
  UniqueFd connection;
  std::string received;
  ClientReport report;
  bool gone = false;

  bool final() const {
    using State = ClientReport::State;
    return report.state == State::Ended || report.state == State::Unstartable ||
           report.state == State::Malformed || gone;
  }

  // Reads what is there without waiting; the helper never sends more than
  // kMaxReportSize bytes, so one byte more is enough to see a breach.
  void read() {
    char buffer[kMaxReportSize + 1];
    while (!final()) {
      const std::size_t room = kMaxReportSize + 1 - std::min(received.size(), kMaxReportSize);
      const ssize_t n = recv(connection.get(), buffer, room, MSG_DONTWAIT);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
      if (n <= 0) {
        gone = true;
        return;
      }
      received.append(buffer, static_cast<std::size_t>(n));
      report = readClientReport(received);
    }
  }
};

}  // namespace

bool isPrivateRuntimeDirectory(const char* path) {
  if (path == nullptr || path[0] != '/' || std::string_view(path).size() > maxRuntimeDirectoryLength()) return false;
  struct stat facts {};
  if (lstat(path, &facts) != 0) return false;
  return S_ISDIR(facts.st_mode) && facts.st_uid == geteuid() && (facts.st_mode & (S_IRWXG | S_IRWXO)) == 0;
}

std::optional<ReportChannel> ReportChannel::open(const char* runtimeDirectory,
                                                 const std::vector<std::string>& clientCommand) {
  if (!isPrivateRuntimeDirectory(runtimeDirectory)) return std::nullopt;
  std::optional<std::string> goAhead = goAheadMessage(clientCommand);
  if (!goAhead) return std::nullopt;
  // mkdtemp makes the directory with mode 0700 under a name no one else
  // can guess or take first.
  std::string directory = std::string(runtimeDirectory) + std::string(kDirectoryTemplate);
  if (mkdtemp(directory.data()) == nullptr) return std::nullopt;
  std::string address = directory + std::string(kSocketName);
  platform::UniqueFd listener(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  sockaddr_un name{};
  name.sun_family = AF_UNIX;
  std::copy(address.begin(), address.end(), name.sun_path);
  if (!listener || bind(listener.get(), reinterpret_cast<const sockaddr*>(&name), sizeof name) != 0) {
    // An empty private directory left behind is harmless; nothing else can
    // be done about a failure to remove it.
    static_cast<void>(rmdir(directory.c_str()));
    return std::nullopt;
  }
  ReportChannel channel(std::move(directory), std::move(address), std::move(listener), std::move(*goAhead));
  if (listen(channel.listener_.get(), kBacklog) != 0) return std::nullopt;
  return channel;
}

ReportChannel::ReportChannel(ReportChannel&& other) noexcept
    : directory_(std::move(other.directory_)), address_(std::move(other.address_)),
      listener_(std::move(other.listener_)), goAhead_(std::move(other.goAhead_)) {
  other.directory_.clear();
  other.address_.clear();
}

ReportChannel::~ReportChannel() {
  if (directory_.empty()) return;
  // A helper that connects after this is refused: the socket is gone.
  listener_.reset();
  // What cannot be removed stays, private, in the user's own runtime
  // directory; nothing else can be done about it here.
  static_cast<void>(unlink(address_.c_str()));
  static_cast<void>(rmdir(directory_.c_str()));
}

ReportChannel::Heard ReportChannel::await(int launcherEnded, int graceOver) {
  Helper helper;
  std::optional<platform::ChildWait> launcherEnd;
  while (true) {
    std::vector<pollfd> entries;
    entries.push_back({helper.connection ? helper.connection.get() : listener_.get(), POLLIN, 0});
    entries.push_back({graceOver, POLLIN, 0});
    const bool watchLauncher = !launcherEnd && !helper.connection;
    if (watchLauncher) entries.push_back({launcherEnded, POLLIN, 0});
    const int ready = poll(entries.data(), entries.size(), -1);
    if (ready < 0) {
      if (errno == EINTR) continue;
      helper.gone = true;
      break;
    }
    if (watchLauncher) {
      // A terminal may return at once (its server runs the command), so
      // only a failure of it tells anything.
      const ChildWait wait = platform::awaitDetached(launcherEnded, std::chrono::milliseconds(0));
      if (wait.state != ChildWait::State::StillRunning) launcherEnd = wait;
      if (launcherEnd && launcherFailed(*launcherEnd)) return {helper.report, launcherEnd};
    }
    // The grace is over: no helper is accepted any more, and what the one
    // accepted has sent is read below.
    if (entries[1].revents != 0) break;
    if ((entries[0].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
    if (!helper.connection) {
      platform::UniqueFd peer(accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
      if (!peer || !isPeerThisUser(peer.get()) || !sendAll(peer.get(), goAhead_, graceOver)) continue;
      helper.connection = std::move(peer);
      // No second helper is heard: the socket goes now.
      listener_.reset();
      continue;
    }
    helper.read();
    if (helper.final()) break;
  }
  // What arrived by the end of the grace still counts.
  if (helper.connection) helper.read();
  using State = ClientReport::State;
  const bool open = helper.report.state == State::Silent || helper.report.state == State::Started;
  if (helper.gone && open) helper.report.state = State::Lost;
  // A client counted as opened is left running; without this word the
  // helper ends it, so that a draft never opens after a reported failure.
  if (helper.report.state == State::Started && !sendByte(helper.connection.get(), kKeep)) {
    helper.report.state = State::Lost;
  }
  return {helper.report, std::nullopt};
}

}  // namespace mail
