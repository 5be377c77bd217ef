// The watcher executable: the host library starts it with posix_spawn to
// start a job's program, hold the job's locks until the program has ended,
// take cancel requests and report the end on the host's descriptor, so
// that a host with much memory resident is never forked.
#include "platform/child_process.h"

int main(int argc, char** argv) { return platform::runWatcher(argc, argv); }
