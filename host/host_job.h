// Preparing a job on disk exactly as the program demands: its texts and log
// checked with the program's own rules before anything is written, its
// directory made in the chain from the home directory down, its files
// written atomically. A refused job leaves nothing behind.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "job_chain.h"

namespace support_draft::host_side {

struct JobText {
  std::string_view subject;
  std::string_view body;
  std::optional<std::string_view> log;
};

Prepared prepareJob(const JobIdentity& identity, const std::string& home, const JobText& text);

}  // namespace support_draft::host_side
