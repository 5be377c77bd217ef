#include "job_path.h"

#include <string_view>

#include "host_home.h"
#include "job/bundle_identity.h"
#include "job/job_contract.h"
#include "job/job_directory.h"
#include "platform/paths.h"

namespace support_draft::host_side {

Prepared namedJob(JobChannel channel, const std::string& home, const std::string& id) {
  Prepared named;
  const auto standard = homeFor(home, named.refusal);
  if (!standard) return named;
  if (!isCanonicalJobId(id)) {
    named.refusal = refusalFor({Reason::jobIdInvalid, id});
    return named;
  }
  named.job = JobOnDisk{id,      jobDirectoryPath(*standard, toolDirectoryFor(channel), id), *standard, channel,
                        toolDirectoryFor(channel), std::string(kSubjectPrefix)};
  return named;
}

Prepared jobAtDirectory(const std::string& directory) {
  Prepared named;
  const std::string path = directory.empty() || directory.front() != '/' ? directory
                                                                         : platform::standardizedPath(directory);
  // <home>/<tool directory>/support-drafts/<job id>
  std::string_view rest = path;
  std::string parts[3];
  for (std::string& part : parts) {
    const std::size_t slash = rest.rfind('/');
    if (slash == std::string_view::npos || slash == 0) break;
    part = std::string(rest.substr(slash + 1));
    rest = rest.substr(0, slash);
  }
  for (const JobChannel channel : {JobChannel::dev, JobChannel::prod}) {
    if (parts[2] == toolDirectoryFor(channel) && parts[1] == kDraftsDirectory && !rest.empty()) {
      return namedJob(channel, std::string(rest), parts[0]);
    }
  }
  // A tool directory of an application's own bundle: which channel and
  // which subject prefix its jobs have is the bundle's to say, not the path's.
  if (isValidToolDirectory(parts[2]) && parts[1] == kDraftsDirectory && !rest.empty()) {
    named = namedJob(JobChannel::prod, std::string(rest), parts[0]);
    if (named.job) {
      named.job->toolDirectory = parts[2];
      named.job->subjectPrefix.clear();
      named.job->directory = jobDirectoryPath(named.job->home, parts[2], parts[0]);
    }
    return named;
  }
  named.refusal = {HostReason::notAJobDirectory,
                   "not a job directory (<home>/<tool directory>/support-drafts/<job id>): " + directory};
  return named;
}

}  // namespace support_draft::host_side
