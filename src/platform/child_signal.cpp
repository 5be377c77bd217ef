#include "platform/child_signal.h"

#include <signal.h>

namespace platform {

bool restoreDefaultChildSignal() {
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  return sigaction(SIGCHLD, &action, nullptr) == 0;
}

}  // namespace platform
