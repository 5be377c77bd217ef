// A named pipe through which a process a test started tells it something
// (its id), read as soon as it is written: the test waits on the pipe, not
// on a clock.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/unique_fd.h"

namespace testing_support {

// Makes the named pipe `path` (mode 0600).
inline void makeFifo(const std::string& path) { ASSERT_EQ(mkfifo(path.c_str(), 0600), 0) << std::strerror(errno); }

// What the first writer of the named pipe at `path` writes, once it has
// closed it. A writer opening it waits until this reader is there. The
// bound only keeps a writer that never comes from hanging the test: then
// the text is empty.
inline std::string readFifo(const std::string& path) {
  constexpr int kSafetyBoundMs = 60'000;
  const platform::UniqueFd fifo(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  EXPECT_TRUE(fifo) << path << ": " << std::strerror(errno);
  std::string text;
  while (fifo) {
    // Before any writer has opened it, a pipe opened this way reports
    // neither data nor a hang-up: poll waits for the writer.
    pollfd entry{fifo.get(), POLLIN, 0};
    const int ready = poll(&entry, 1, kSafetyBoundMs);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) break;
    char buffer[256];
    const ssize_t n = read(fifo.get(), buffer, sizeof buffer);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (n <= 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
  }
  return text;
}

}  // namespace testing_support
