#include "job/process_job.h"

#include "job/bundle_identity.h"
#include "job/draft_request.h"
#include "job/job_contract.h"
#include "job/job_directory.h"
#include "job/job_document.h"
#include "job/job_home.h"
#include "job/job_invocation.h"
#include "mail/program_search.h"
#include "platform/bundle.h"
#include "platform/child_process.h"
#include "platform/file_io.h"
#include "platform/home.h"
#include "platform/process.h"

void processJob() noexcept {
  // A result that meets the file-size limit is a failed write, not the
  // end of the process.
  platform::failWritesBeyondFileSizeLimit();
  try {
    // Each fact is fetched from the process only once the checks before it
    // have passed: a malformed job id never reads the bundle, and an
    // unknown channel never reads the file system. The rules say why a job
    // is refused; with no one to tell, the program stops without a word.
    const auto jobId = jobIdArgument(platform::processArguments());
    if (!jobId || !isCanonicalJobId(*jobId)) return;

    // The bundle says who the job is for: its channel, tool directory,
    // subject prefix and support address, every one checked before use.
    const platform::Bundle& bundle = platform::mainBundle();
    const auto identity = identityFromInfo(bundle.info).identity;
    if (!identity) return;

    const auto home = jobHome(platform::homeFacts()).home;
    if (!home) return;
    const auto jobDirectory = locateJobDirectory(*home, identity->toolDirectory, *jobId).directory;
    if (!jobDirectory) return;

    const auto job = checkJobDocumentIn(*jobDirectory, identity->subjectPrefix).job;
    if (!job) return;
    // What the mail service needs of the process, fetched once here.
    mail::MailContext context = mail::mailContext(
        mail::handedOnEnvironment(platform::processEnvironment()), *home, bundle.executableDirectory);
    // Texts a client reads from a file lie with the job's log, for as long.
    context.textsFile = platform::childOf(*jobDirectory, kDraftTextsName);
    requestDraft(*jobDirectory, *job, bundle.resourceDirectory, context, identity->recipient);
  } catch (...) {
    // Out of memory is the only thing that can throw here; with nothing
    // accepted yet or nothing left to record, the silent stop is all there is.
  }
}
