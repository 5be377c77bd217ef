// Removing a job directory and its files, never following a link.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "job_chain.h"

namespace support_draft::host_side {

// The names in an open directory but "." and "..", or nothing when it
// cannot be listed.
std::optional<std::vector<std::string>> namesIn(int directory);

// Removes the files of a job directory and the directory itself, never
// following a link (a link is removed, not what it points to). Only this
// user's directory, closed to others, is taken, and only when it holds no
// directory: false for anything else, which is left as it was.
bool removeJobDirectory(int drafts, const std::string& id);

bool removeJob(const JobOnDisk& job);

}  // namespace support_draft::host_side
