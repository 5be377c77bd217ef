// Naming an existing job: by its parts, or by its directory's path.
#pragma once

#include <string>

#include "job_chain.h"

namespace support_draft::host_side {

// A job named by its parts or by its directory's path
// (<home>/<tool directory>/support-drafts/<job id>). Checks the form only;
// nothing on disk is touched.
Prepared namedJob(JobChannel channel, const std::string& home, const std::string& id);
Prepared jobAtDirectory(const std::string& directory);

}  // namespace support_draft::host_side
