#include "host_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "platform/unique_fd.h"

namespace support_draft::host_side {

std::size_t logTailStart(std::string_view log, std::size_t limit) {
  if (log.size() <= limit) return 0;
  std::size_t start = log.size() - limit;
  if (log[start - 1] == '\n') return start;
  const std::size_t lineFeed = log.find('\n', start);
  if (lineFeed != std::string_view::npos && lineFeed + 1 < log.size()) return lineFeed + 1;
  // Continuation bytes of UTF-8 are 10xxxxxx; a character begins elsewhere.
  while (start < log.size() && (static_cast<unsigned char>(log[start]) & 0xC0) == 0x80) ++start;
  return start;
}

LogReading readLog(const std::string& path, std::size_t limit, bool tail) {
  LogReading reading;
  const auto refuse = [&](support_draft_reason reason, const std::string& why) {
    reading.refusal = {reason, "the log " + path + " " + why};
    return std::move(reading);
  };
  // Not blocking: a FIFO in the log's place must not hang the host.
  platform::UniqueFd file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!file) {
    return refuse(SUPPORT_DRAFT_REASON_LOG_UNREADABLE,
                  "cannot be read: " + std::error_code(errno, std::generic_category()).message());
  }
  struct stat facts {};
  if (::fstat(file.get(), &facts) != 0) {
    return refuse(SUPPORT_DRAFT_REASON_LOG_UNREADABLE,
                  "cannot be examined: " + std::error_code(errno, std::generic_category()).message());
  }
  if (S_ISDIR(facts.st_mode)) return refuse(SUPPORT_DRAFT_REASON_LOG_NOT_REGULAR_FILE, "is a directory");
  if (!S_ISREG(facts.st_mode)) return refuse(SUPPORT_DRAFT_REASON_LOG_NOT_REGULAR_FILE, "is not a regular file");
  const auto size = static_cast<std::size_t>(facts.st_size);
  if (size > limit && !tail) {
    return refuse(SUPPORT_DRAFT_REASON_LOG_TOO_LARGE,
                  "is too large: " + std::to_string(size) + " bytes, at most " + std::to_string(limit));
  }
  // One byte before the newest `limit` tells whether they begin a line.
  const std::size_t from = size > limit ? size - limit - 1 : 0;
  reading.bytes.resize(size - from);
  std::size_t got = 0;
  while (got < reading.bytes.size()) {
    const ssize_t n = ::pread(file.get(), reading.bytes.data() + got, reading.bytes.size() - got,
                              static_cast<off_t>(from + got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      return refuse(SUPPORT_DRAFT_REASON_LOG_UNREADABLE,
                    "cannot be read: " + std::error_code(errno, std::generic_category()).message());
    }
    if (n == 0) break;  // the log shrank meanwhile: what is there is kept
    got += static_cast<std::size_t>(n);
  }
  reading.bytes.resize(got);
  reading.bytes.erase(0, logTailStart(reading.bytes, limit));
  return reading;
}

}  // namespace support_draft::host_side
