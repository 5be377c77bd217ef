// The first stage of a job: the command line and its job id. The channel
// (job/bundle_identity.h), the home (job/job_home.h) and the job directory
// (job/job_directory.h) follow.
#pragma once

#include <optional>
#include <string>
#include <vector>

// The job id from a job command line (`--job <id>`, program path dropped),
// still unchecked; nothing for any other command line.
std::optional<std::string> jobIdArgument(const std::vector<std::string>& arguments);
