#include "job_prune.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string_view>

#include "host_home.h"
#include "job/job_contract.h"
#include "job_removal.h"
#include "platform/unique_fd.h"
#include "run_lock.h"

namespace support_draft::host_side {
namespace {

using platform::UniqueFd;

constexpr mode_t kJobDirectoryPermissions = 0700;

// A file the library or the program writes into a job directory, or the
// temporary name an atomic write of one carries until it is renamed
// (".<name>.<random>").
bool isJobFileName(std::string_view name) {
  for (const std::string_view known : {kJobDocumentName, kLogName, kResultName, kDraftTextsName}) {
    if (name == known) return true;
    if (name.size() > known.size() + 2 && name[0] == '.' && name.substr(1, known.size()) == known &&
        name[known.size() + 1] == '.') {
      return true;
    }
  }
  return false;
}

// What stands under `name`; when it is a directory no program runs for,
// `idle` holds it so until the caller lets go.
JobDirectoryFacts factsOf(int drafts, const std::string& name, UniqueFd& idle) {
  JobDirectoryFacts facts;
  facts.name = name;
  struct stat item {};
  if (::fstatat(drafts, name.c_str(), &item, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(item.st_mode)) return facts;
  const UniqueFd directory(::openat(drafts, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  struct stat held {};
  if (!directory || ::fstat(directory.get(), &held) != 0 || held.st_ino != item.st_ino) return facts;
  facts.directory = true;
  facts.owner = held.st_uid;
  facts.permissions = held.st_mode & 07777;
  facts.newest = held.st_mtime;
  IdleLock lock = idleLock(directory.get());
  facts.running = !lock.held;
  idle = std::move(lock.held);
  const auto names = namesIn(directory.get());
  if (!names) return facts;
  facts.onlyJobFiles = true;
  for (const std::string& entry : *names) {
    struct stat file {};
    if (!isJobFileName(entry) || ::fstatat(directory.get(), entry.c_str(), &file, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(file.st_mode) || file.st_uid != held.st_uid) {
      facts.onlyJobFiles = false;
      break;
    }
    facts.newest = std::max(facts.newest, file.st_mtime);
  }
  return facts;
}

}  // namespace

bool mayPrune(const JobDirectoryFacts& facts, uid_t user, std::time_t now, long ageSeconds) {
  return isCanonicalJobId(facts.name) && facts.directory && facts.owner == user &&
         facts.permissions == kJobDirectoryPermissions && facts.onlyJobFiles && facts.newest <= now &&
         now - facts.newest > ageSeconds && !facts.running;
}

Pruning pruneJobs(const std::string& toolDirectory, const std::string& givenHome, long ageSeconds) {
  Pruning pruning;
  if (ageSeconds < 0) {
    pruning.refusal = {HostReason::invalidArgument, "the age must not be negative"};
    return pruning;
  }
  const auto home = homeFor(givenHome, pruning.refusal);
  if (!home) return pruning;
  const DraftsDirectory drafts = openDraftsDirectory(*home, toolDirectory, false);
  if (drafts.missing) return pruning;  // no job was ever prepared here
  if (!drafts.directory) {
    pruning.refusal = drafts.refusal;
    return pruning;
  }
  const int draftsFd = drafts.directory->fd();
  const auto names = namesIn(draftsFd);
  if (!names) {
    pruning.refusal = refusalFor({Reason::directoryUnreadable, draftsPath(*home, toolDirectory)});
    return pruning;
  }
  const std::time_t now = std::time(nullptr);
  for (const std::string& name : *names) {
    // Held idle until removed: a start waits for it and then finds no job.
    UniqueFd idle;
    if (mayPrune(factsOf(draftsFd, name, idle), ::geteuid(), now, ageSeconds) && removeJobDirectory(draftsFd, name)) {
      ++pruning.removed;
    }
  }
  return pruning;
}

}  // namespace support_draft::host_side
