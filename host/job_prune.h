// Removing the job directories a host no longer needs. Only directories laid
// out as the library makes them are taken, and never one a program still
// runs for: everything else in the drafts directory is left alone.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <ctime>
#include <string>

#include "job_chain.h"

namespace support_draft::host_side {

// What the drafts directory holds under one name, gathered without
// following a link.
struct JobDirectoryFacts {
  std::string name;
  bool directory = false;  // a real directory, not a link to one
  uid_t owner = 0;
  mode_t permissions = 0;  // the permission bits
  // Every entry is a regular file of the owner with one of the job's names
  // (job.json, log.txt, result.json, draft.txt, or an unfinished atomic
  // write of one).
  bool onlyJobFiles = false;
  std::time_t newest = 0;  // the latest modification of the directory and its entries
  bool running = true;     // a program may run for it: its run lock could not be had
};

// The decision on the facts: a job directory of `user` as the library makes
// it, whose newest change is more than `ageSeconds` before `now`, that no
// program runs for.
bool mayPrune(const JobDirectoryFacts& facts, uid_t user, std::time_t now, long ageSeconds);

struct Pruning {
  std::size_t removed = 0;
  Refusal refusal;
};

// The finished jobs in <home>/<toolDirectory>/support-drafts.
Pruning pruneJobs(const std::string& toolDirectory, const std::string& home, long ageSeconds);

}  // namespace support_draft::host_side
