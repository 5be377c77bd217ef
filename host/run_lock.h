// Whether a program runs for a job, told by a lock on the job's directory.
// The watcher the library starts a program through holds a shared lock on
// the directory from before the start until the program has ended (the
// program itself takes none); a host that would call a job ended or remove
// it asks for the lock exclusively, which it gets only when no program runs
// for the job, whichever host started it. Locks of processes that have
// ended are gone with them, so none is ever left behind.
//
// The same is done a level up for one-at-a-time runs: every watcher also
// holds a shared lock on the drafts directory of the bundle's tool
// directory, so a start that must be the bundle's only run can tell whether
// any other runs, whichever host started it.
#pragma once

#include "platform/unique_fd.h"

namespace support_draft::host_side {

// A new open file of the directory `jobDirectory` holding the shared lock,
// for the watcher to keep; waits while another host holds the directory
// exclusively (only for as long as it takes to look or to remove the job).
// An empty descriptor, errno set, when the lock cannot be had.
platform::UniqueFd runLock(int jobDirectory);

// The directory held exclusively, when no program runs for it: `held` is
// set and kept as long as the caller needs the job to stay idle. `running`
// when a run holds it; neither when the lock cannot be asked for.
struct IdleLock {
  platform::UniqueFd held;
  bool running = false;
};
IdleLock idleLock(int jobDirectory);

// A new open file of the drafts directory `drafts` holding the shared lock
// every run's watcher keeps (waits only while a one-at-a-time start looks).
// An empty descriptor, errno set, when the lock cannot be had.
platform::UniqueFd bundleRunLock(int drafts);

// The same for a start that must be the only run of the bundle's jobs:
// `running` when another run holds the drafts directory. One-at-a-time
// starts look one after the other, holding the tool directory above
// exclusively meanwhile, so two of them never both find none running.
struct SoleRunLock {
  platform::UniqueFd held;  // the shared lock, once no other run holds one
  bool running = false;
};
SoleRunLock soleBundleRunLock(int drafts);

}  // namespace support_draft::host_side
