#include "other_user.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
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

// The attacker's side, in the forked child; never returns.
[[noreturn]] void attack(uid_t uid, gid_t gid, const std::vector<Lure>& lures, Timing timing, int stop,
                         int report) {
  if (::setgroups(0, nullptr) != 0 || ::setresgid(gid, gid, gid) != 0 || ::setresuid(uid, uid, uid) != 0) {
    ::_exit(2);
  }
  std::vector<Swap> plan;
  for (const Lure& lure : lures) {
    const std::string link = std::string(kLinkPrefix) + lure.name;
    // Refused unless the directory's modes let this user write to it.
    if (::symlinkat(lure.target.c_str(), lure.parent, link.c_str()) != 0) continue;
    plan.push_back({lure.parent, lure.name, lure.parent, link, lure.label});
  }
  const auto planted = static_cast<std::uint32_t>(plan.size());
  if (!writeExactly(report, &planted, sizeof planted)) ::_exit(2);

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
  if (!writeExactly(report, &swaps, sizeof swaps)) ::_exit(2);
  ::_exit(failed ? 3 : 0);
}

}  // namespace

OtherUserAttacker::OtherUserAttacker(uid_t uid, gid_t gid, const std::vector<Lure>& lures, Timing timing) {
  int stopPipe[2], reportPipe[2];
  if (::pipe2(stopPipe, O_CLOEXEC) != 0) fail(std::string("pipe2: ") + std::strerror(errno));
  Fd stopRead(stopPipe[0]);
  stop_.reset(stopPipe[1]);
  if (::pipe2(reportPipe, O_CLOEXEC) != 0) fail(std::string("pipe2: ") + std::strerror(errno));
  report_.reset(reportPipe[0]);
  Fd reportWrite(reportPipe[1]);

  pid_ = ::fork();
  if (pid_ < 0) fail(std::string("fork: ") + std::strerror(errno));
  if (pid_ == 0) {
    try {
      stop_.reset();
      report_.reset();
      attack(uid, gid, lures, timing, stopRead.get(), reportWrite.get());
    } catch (...) {
      ::_exit(4);
    }
  }
  std::uint32_t planted = 0;
  reportWrite.reset();
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
  if (pid_ < 0) return;
  stop_.reset();
  const bool reported = readExactly(report_.get(), &swaps_, sizeof swaps_);
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
  if (!reported || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    fail("the other user's attacker failed (status " + std::to_string(status) + ")");
  }
}

}  // namespace attack
