#include "host_job.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

// The program's own rules and checks, linked in rather than written again.
#include "files/private_file.h"
#include "host_home.h"
#include "job/job_contract.h"
#include "job/job_directory.h"
#include "job/job_document.h"
#include "job_id.h"
#include "job_removal.h"
#include "platform/file_io.h"

namespace support_draft::host_side {
namespace {

constexpr unsigned kFileMode = 0600;
constexpr int kJobIdAttempts = 16;

// Writes one file of the job the way the program wants it: atomically, mode
// 0600, and passing the program's own private file check afterwards.
bool writeJobFile(const platform::Directory& directory, std::string_view name, std::string_view bytes,
                  std::int64_t maxSize) {
  const platform::FileLocation location = platform::childOf(directory, name);
  return platform::writeFileAtomically(location, bytes, kFileMode) && privateFile(location, maxSize);
}

}  // namespace

Prepared prepareJob(const JobIdentity& identity, const std::string& givenHome, const JobText& text) {
  Prepared preparation;
  const JobDocumentMaking document = makeJobDocument(text.subject, text.body, text.log.has_value(), identity.subjectPrefix);
  if (!document.bytes) {
    preparation.refusal = refusalFor(*document.breach);
    return preparation;
  }
  // The log is given as bytes here; the rule's limit is the one the program
  // applies to log.txt.
  if (text.log && text.log->size() > static_cast<std::size_t>(kMaxLogSize)) {
    preparation.refusal = refusalFor({Reason::logTooLarge, ""});
    return preparation;
  }
  const auto home = homeFor(givenHome, preparation.refusal);
  if (!home) return preparation;

  DraftsDirectory drafts = openDraftsDirectory(*home, identity.toolDirectory, true);
  if (!drafts.directory) {
    preparation.refusal = drafts.refusal;
    return preparation;
  }
  JobOnDisk job{"", "", *home, identity.channel, identity.toolDirectory, identity.subjectPrefix};
  // mkdir either makes the directory or fails: a job id that another host
  // took a moment earlier is simply drawn again.
  for (int attempt = 0; attempt < kJobIdAttempts && job.id.empty(); ++attempt) {
    const auto id = newJobId();
    if (!id) break;
    if (makePrivateDirectory(drafts.directory->fd(), *id)) job.id = *id;
    else if (errno != EEXIST) break;
  }
  if (job.id.empty()) {
    preparation.refusal = {HostReason::jobNotWritten, "no job directory could be made in " +
                                                                     drafts.directory->path() + ": " +
                                                                     errorText(errno)};
    return preparation;
  }
  job.directory = jobDirectoryPath(*home, identity.toolDirectory, job.id);

  bool written = false;
  {
    const DirectoryOpening held = openPrivateLevel(*drafts.directory, job.id);
    written = held.directory && stillAt(job.directory, *held.directory) &&
              (!text.log || writeJobFile(*held.directory, kLogName, *text.log, kMaxLogSize)) &&
              writeJobFile(*held.directory, kJobDocumentName, *document.bytes, kMaxJobDocumentSize);
  }
  if (!written) {
    // Out of descriptors even for the removal, the directory just made may
    // still be empty, and removing an empty directory needs none.
    if (!removeJobDirectory(drafts.directory->fd(), job.id)) {
      ::unlinkat(drafts.directory->fd(), job.id.c_str(), AT_REMOVEDIR);
    }
    preparation.refusal = {HostReason::jobNotWritten, "the job could not be written to " + job.directory};
    return preparation;
  }
  preparation.job = std::move(job);
  return preparation;
}

}  // namespace support_draft::host_side
