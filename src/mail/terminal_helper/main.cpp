// support-draft-terminal ADDRESS
//
// Runs inside the terminal (or the user's own wrapper) that the program
// starts for a mail client, and tells the program what the terminal's exit
// status cannot: whether the client itself started and how it ended. It
// connects to the program's private socket at ADDRESS and starts the
// client only once the program answers that it still waits, with the
// client's command in its answer (client_report.h): the command holds the
// draft, which no other user may read in this process's arguments. It
// reports "started", and
// stays with the client (a terminal closes when its command ends), then
// reports the client's exit status or signal and exits with the same
// status. When the program stops listening without having counted the
// running client as an open draft, the client is ended: the program has
// reported a failure, and a draft must not appear after that.
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "mail/client_report.h"
#include "mail/helper_words.h"
#include "mail/program_search.h"
#include "platform/child_process.h"
#include "platform/unique_fd.h"
#include "platform/write_all.h"

namespace {

using platform::UniqueFd;

constexpr int kUsage = 64;
constexpr int kNotWaitedFor = 69;     // no program waits for this draft
constexpr int kCannotStart = 127;     // as a shell says of a command it cannot run
constexpr int kSignalBase = 128;      // as a shell reports a command ended by a signal
// How long the program may take to answer a connection: it answers at
// once while it waits, so a longer silence means it no longer does.
constexpr std::chrono::milliseconds kAnswerTime{10'000};
// How long a client told to end (SIGTERM) gets before it is killed.
constexpr std::chrono::milliseconds kEndTime{3'000};

void say(std::string_view text) {
  const std::string line = "support-draft-terminal: " + std::string(text) + "\n";
  static_cast<void>(platform::writeAll(STDERR_FILENO, line));
}

UniqueFd connectTo(const char* address) {
  sockaddr_un name{};
  if (std::strlen(address) >= sizeof name.sun_path) return UniqueFd();
  name.sun_family = AF_UNIX;
  std::strcpy(name.sun_path, address);
  UniqueFd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!socket) return socket;
  while (connect(socket.get(), reinterpret_cast<const sockaddr*>(&name), sizeof name) != 0) {
    if (errno != EINTR) return UniqueFd();
  }
  return socket;
}

// One byte from the program, waiting at most `limit` (negative: without
// bound). Nothing when the program closed the connection, sent nothing in
// time, or the read failed.
std::optional<char> readByte(int socket, int limitMs) {
  pollfd entry{socket, POLLIN, 0};
  while (true) {
    const int ready = poll(&entry, 1, limitMs);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return std::nullopt;
    char byte = 0;
    const ssize_t n = recv(socket, &byte, 1, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n != 1) return std::nullopt;
    return byte;
  }
}

// The client's command from the go-ahead, once its first byte has come:
// the length line, then that many bytes of words, all within `limitMs`.
std::optional<std::vector<std::string>> readCommand(int socket, int limitMs) {
  std::string line;
  while (line.empty() || line.back() != '\n') {
    if (line.size() == mail::kMaxCommandLengthLine) return std::nullopt;
    const auto byte = readByte(socket, limitMs);
    if (!byte) return std::nullopt;
    line += *byte;
  }
  const auto length = mail::commandLength(line);
  if (!length) return std::nullopt;
  std::string words;
  while (words.size() < *length) {
    pollfd entry{socket, POLLIN, 0};
    const int ready = poll(&entry, 1, limitMs);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return std::nullopt;
    char buffer[4096];
    const ssize_t n = recv(socket, buffer, std::min(sizeof buffer, *length - words.size()), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return std::nullopt;
    words.append(buffer, static_cast<std::size_t>(n));
  }
  auto command = mail::unpackWords(words, mail::kMaxHelperWordsSize);
  if (!command || command->empty() || command->front().empty()) return std::nullopt;
  return command;
}

void report(int socket, const std::string& line) {
  // A program that has gone is noticed by the next read; a lost report
  // then changes nothing here.
  static_cast<void>(send(socket, line.data(), line.size(), MSG_NOSIGNAL));
}

int statusOf(int waitStatus) {
  if (WIFSIGNALED(waitStatus)) return kSignalBase + WTERMSIG(waitStatus);
  return WEXITSTATUS(waitStatus);
}

mail::ClientEnd endOf(int waitStatus) {
  if (WIFSIGNALED(waitStatus)) return {true, WTERMSIG(waitStatus)};
  return {false, WEXITSTATUS(waitStatus)};
}

// Ends a client the program no longer counts on, and waits for it: asked
// first, killed when it has not ended in time.
int endClient(platform::Child& client) {
  if (kill(client.pid(), SIGTERM) != 0 && errno != ESRCH) say(std::string("kill failed: ") + std::strerror(errno));
  const platform::ChildWait wait = client.wait(kEndTime, platform::AtDeadline::End);
  return wait.state == platform::ChildWait::State::Unknown ? 1 : statusOf(wait.waitStatus);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    say("usage: support-draft-terminal ADDRESS");
    return kUsage;
  }
  const UniqueFd socket = connectTo(argv[1]);
  const int answerTime = static_cast<int>(kAnswerTime.count());
  if (!socket || readByte(socket.get(), answerTime) != mail::kGoAhead) {
    say("the program that asked for this mail draft no longer waits for it; nothing was started");
    return kNotWaitedFor;
  }
  const auto command = readCommand(socket.get(), answerTime);
  if (!command) {
    say("the program that asked for this mail draft sent no client to start; nothing was started");
    return kNotWaitedFor;
  }

  // The client shares this terminal: its standard streams, its session and
  // its process group, so that it can read the keyboard.
  platform::ChildSpec spec;
  spec.paths = mail::programCandidates(command->front(), mail::searchPathOf(platform::processEnvironment()));
  spec.arguments = *command;
  spec.input = STDIN_FILENO;
  spec.output = STDOUT_FILENO;
  spec.errors = STDERR_FILENO;
  spec.grouping = platform::ChildSpec::Grouping::Callers;
  platform::ChildStart start = platform::startChild(spec);
  if (start.error != 0) {
    report(socket.get(), mail::unstartableLine());
    say("cannot start " + command->front() + ": " + std::strerror(start.error));
    return kCannotStart;
  }
  platform::Child& client = start.child;
  report(socket.get(), mail::startedLine());

  bool kept = false;
  while (true) {
    std::vector<pollfd> entries;
    if (client.processDescriptor() >= 0) entries.push_back({client.processDescriptor(), POLLIN, 0});
    if (!kept) entries.push_back({socket.get(), POLLIN, 0});
    // Without a process descriptor the client is looked at now and then.
    const int limit = client.processDescriptor() >= 0 ? -1 : 100;
    const int ready = entries.empty() ? 0 : poll(entries.data(), entries.size(), limit);
    if (ready < 0 && errno != EINTR) {
      say(std::string("poll failed: ") + std::strerror(errno));
      return endClient(client);
    }
    if (!kept && ready > 0 && entries.back().revents != 0) {
      if (readByte(socket.get(), 0) != mail::kKeep) {
        // The program stopped waiting without counting this client.
        return endClient(client);
      }
      kept = true;
    }
    const platform::ChildWait wait = client.wait(std::chrono::milliseconds(0), platform::AtDeadline::LeaveRunning);
    if (wait.state == platform::ChildWait::State::StillRunning) continue;
    if (wait.state == platform::ChildWait::State::Unknown) return 1;
    if (!kept) report(socket.get(), mail::endLine(endOf(wait.waitStatus)));
    return statusOf(wait.waitStatus);
  }
}
