#include "job/process_job.h"

#include "job/draft_request.h"
#include "job/job_document.h"
#include "job/job_invocation.h"
#include "platform/file_io.h"

void processJob() noexcept {
  // A result that meets the file-size limit is a failed write, not the
  // end of the process.
  platform::failWritesBeyondFileSizeLimit();
  try {
    const auto jobDirectory = locateJobDirectory();
    if (!jobDirectory) return;
    const auto job = readJobDocument(*jobDirectory);
    if (!job) return;
    requestDraft(*jobDirectory, *job);
  } catch (...) {
    // Out of memory is the only thing that can throw here; with nothing
    // accepted yet or nothing left to record, the silent stop is all there is.
  }
}
