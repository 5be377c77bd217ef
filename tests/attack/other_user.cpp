#include "other_user.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

namespace attack {
namespace {

constexpr std::string_view kLinkPrefix = ".attacker-";

bool readExactly(int fd, void* into, std::size_t size) {
  auto* bytes = static_cast<char*>(into);
  while (size > 0) {
    const ssize_t got = ::read(fd, bytes, size);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    bytes += got;
    size -= static_cast<std::size_t>(got);
  }
  return true;
}

bool writeExactly(int fd, const void* from, std::size_t size) {
  return ::write(fd, from, size) == static_cast<ssize_t>(size);
}

std::string selfExecutable() {
  char path[PATH_MAX];
  const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path);
  if (length <= 0 || static_cast<std::size_t>(length) >= sizeof path) fail("readlink /proc/self/exe failed");
  return std::string(path, static_cast<std::size_t>(length));
}

}  // namespace

// The attacker's side. Its command line: the mode, uid, gid, good and bad
// rounds, then name, target and label of each lure, whose directory is
// descriptor 3, 4, ... in turn; the one after the last lure's is the stop
// pipe, closed to tell it to stop. It reports on standard output.
int runOtherUserAttacker(int argc, char** argv) {
  if (argc < 6 || (argc - 6) % 3 != 0) return 2;
  const auto number = [&](int index) { return static_cast<unsigned>(std::stoul(argv[index])); };
  const uid_t uid = number(2);
  const gid_t gid = number(3);
  const Timing timing{number(4), number(5)};
  const int lures = (argc - 6) / 3;
  const int stop = STDERR_FILENO + 1 + lures;
  const int report = STDOUT_FILENO;
  if (::setgroups(0, nullptr) != 0 || ::setresgid(gid, gid, gid) != 0 || ::setresuid(uid, uid, uid) != 0) return 2;
  std::vector<Swap> plan;
  for (int i = 0; i < lures; ++i) {
    const int parent = STDERR_FILENO + 1 + i;
    const std::string name = argv[6 + 3 * i];
    const std::string link = std::string(kLinkPrefix) + name;
    // Refused unless the directory's modes let this user write to it.
    if (::symlinkat(argv[7 + 3 * i], parent, link.c_str()) != 0) continue;
    plan.push_back({parent, name, parent, link, argv[8 + 3 * i]});
  }
  const auto planted = static_cast<std::uint32_t>(plan.size());
  if (!writeExactly(report, &planted, sizeof planted)) return 2;

  std::uint64_t swaps = 0;
  bool failed = false;
  {
    Swapper swapper(plan, timing);
    char ignored = 0;
    while (::read(stop, &ignored, 1) != 0 && errno == EINTR) {
    }
    swapper.stop();
    swaps = swapper.swapsDone();
    failed = !swapper.error().empty();
  }
  for (const Swap& swap : plan) ::unlinkat(swap.stage, swap.alternative.c_str(), 0);
  if (!writeExactly(report, &swaps, sizeof swaps)) return 2;
  return failed ? 3 : 0;
}

OtherUserAttacker::OtherUserAttacker(uid_t uid, gid_t gid, const std::vector<Lure>& lures, Timing timing) {
  int stopPipe[2], reportPipe[2];
  if (::pipe2(stopPipe, O_CLOEXEC) != 0) fail(std::string("pipe2: ") + std::strerror(errno));
  Fd stopRead(stopPipe[0]);
  stop_.reset(stopPipe[1]);
  if (::pipe2(reportPipe, O_CLOEXEC) != 0) fail(std::string("pipe2: ") + std::strerror(errno));
  report_.reset(reportPipe[0]);
  Fd reportWrite(reportPipe[1]);

  platform::ChildSpec spec;
  spec.paths = {selfExecutable()};
  spec.arguments = {spec.paths.front(), std::string(kOtherUserMode), std::to_string(uid), std::to_string(gid),
                    std::to_string(timing.goodRounds), std::to_string(timing.badRounds)};
  for (const Lure& lure : lures) {
    spec.arguments.insert(spec.arguments.end(), {lure.name, lure.target, lure.label});
    spec.inherited.push_back(lure.parent);
  }
  spec.inherited.push_back(stopRead.get());
  spec.output = reportWrite.get();
  spec.errors = STDERR_FILENO;
  platform::ChildStart start = platform::startChild(spec);
  if (start.error != 0) fail(std::string("starting the other user's attacker: ") + std::strerror(start.error));
  child_ = std::move(start.child);
  running_ = true;
  stopRead.reset();
  reportWrite.reset();
  std::uint32_t planted = 0;
  if (!readExactly(report_.get(), &planted, sizeof planted)) {
    stop();
    fail("the other user's attacker did not start");
  }
  planted_ = planted;
}

OtherUserAttacker::~OtherUserAttacker() {
  try {
    stop();
  } catch (...) {
  }
}

void OtherUserAttacker::stop() {
  if (!running_) return;
  running_ = false;
  stop_.reset();
  const bool reported = readExactly(report_.get(), &swaps_, sizeof swaps_);
  const platform::ChildWait end = child_.wait(std::chrono::seconds(60), platform::AtDeadline::End);
  if (!reported || end.state != platform::ChildWait::State::Ended || !WIFEXITED(end.waitStatus) ||
      WEXITSTATUS(end.waitStatus) != 0) {
    fail("the other user's attacker failed (status " + std::to_string(end.waitStatus) + ")");
  }
}

}  // namespace attack
