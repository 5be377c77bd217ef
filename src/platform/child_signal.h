// The disposition of SIGCHLD this process needs to wait for what it starts.
#pragma once

namespace platform {

// Gives SIGCHLD its default disposition back. A parent that ignores it
// hands that on across exec, and then the kernel reaps this process's
// children by itself: waiting for a started program would fail however the
// program ended. Returns false when the disposition could not be set.
bool restoreDefaultChildSignal();

}  // namespace platform
