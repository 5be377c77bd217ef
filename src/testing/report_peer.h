// A stand-in for the client helper's end of the report channel, and a
// client's grace that ends when the test has seen what it waits for, for
// the unit tests of the channel and of the Watched route and the process
// tests of the terminal route.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>

#include "platform/unique_fd.h"

namespace testing_support {

// A helper's end of the channel at `address`, connected and with its
// `lines` sent before the program looks: the wait then depends on no timing.
inline platform::UniqueFd connectedHelper(const std::string& address, std::string_view lines) {
  platform::UniqueFd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_un name{};
  name.sun_family = AF_UNIX;
  std::strncpy(name.sun_path, address.c_str(), sizeof name.sun_path - 1);
  EXPECT_EQ(connect(socket.get(), reinterpret_cast<const sockaddr*>(&name), sizeof name), 0) << std::strerror(errno);
  EXPECT_EQ(send(socket.get(), lines.data(), lines.size(), MSG_NOSIGNAL), static_cast<ssize_t>(lines.size()));
  return socket;
}

// A client's grace as a gate: its descriptor (what Launcher::timer hands
// the route, or what the channel's wait polls) becomes readable only when
// the test opens it, so that the wait ends on a condition, not on a clock.
class GraceGate {
 public:
  GraceGate() {
    int ends[2];
    EXPECT_EQ(pipe2(ends, O_CLOEXEC), 0) << std::strerror(errno);
    read_.reset(ends[0]);
    write_.reset(ends[1]);
  }
  GraceGate(const GraceGate&) = delete;
  GraceGate& operator=(const GraceGate&) = delete;
  ~GraceGate() { join(); }

  int descriptor() const { return read_.get(); }
  // A descriptor of its own for a Launcher::timer to hand out.
  platform::UniqueFd copy() const { return platform::UniqueFd(fcntl(read_.get(), F_DUPFD_CLOEXEC, 0)); }

  void open() const { EXPECT_EQ(write(write_.get(), "x", 1), 1) << std::strerror(errno); }

  // Opens the gate from a thread of its own once `watched` is readable (a
  // helper's end that hears the go-ahead: the channel has accepted it).
  // The bound only keeps a broken wait from hanging the test.
  void openOnceReadable(int watched) {
    join();
    opener_ = std::thread([this, watched] {
      pollfd entry{watched, POLLIN, 0};
      static_cast<void>(poll(&entry, 1, kSafetyBoundMs));
      open();
    });
  }

  void join() {
    if (opener_.joinable()) opener_.join();
  }

  static constexpr int kSafetyBoundMs = 60'000;

 private:
  platform::UniqueFd read_;
  platform::UniqueFd write_;
  std::thread opener_;
};

}  // namespace testing_support
