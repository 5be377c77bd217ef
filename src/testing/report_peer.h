// A stand-in for the client helper's end of the report channel, for the
// unit tests of the channel and of the Watched route.
#pragma once

#include <sys/socket.h>
#include <sys/un.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>

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

}  // namespace testing_support
