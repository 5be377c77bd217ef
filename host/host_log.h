// A host's log, taken as the program can attach it: whole when it is
// within the limit, otherwise refused or, when the host asks, cut to its
// newest lines.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "host_job.h"

namespace support_draft::host_side {

// Where the kept part of `log` begins when at most `limit` bytes may be
// kept: 0 when it fits, else just after the first line feed within its
// newest `limit` bytes; when those hold no line's beginning (one line
// longer than the limit), at the first character boundary in them.
std::size_t logTailStart(std::string_view log, std::size_t limit);

struct LogReading {
  std::string bytes;
  Refusal refusal;
};

// Reads the log file at `path` (a link to it is followed), refusing one
// over `limit` bytes unless `tail` is set: then only its newest bytes are
// read and cut at a line boundary as above.
LogReading readLog(const std::string& path, std::size_t limit, bool tail);

}  // namespace support_draft::host_side
