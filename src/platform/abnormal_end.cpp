#include "platform/abnormal_end.h"

#include <signal.h>

#include <cstdlib>
#include <exception>

#include "platform/standard_streams.h"

namespace platform {
namespace {

// The program runs on one thread; the handler runs on the thread that
// called std::terminate.
int endStatus = 0;
std::string_view endMessage;

[[noreturn]] void endNow() noexcept {
  // Best effort: nothing more can be done when standard error fails too.
  if (!endMessage.empty()) writeToStandardError(endMessage);
  std::_Exit(endStatus);
}

void endOnFault(int) { endNow(); }

}  // namespace

void endOnTerminate(int status, std::string_view message) {
  endStatus = status;
  endMessage = message;
  std::set_terminate(endNow);
  for (const int fault : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT}) {
    struct sigaction current {};
    // sigaction fails only for a signal number that does not exist.
    if (::sigaction(fault, nullptr, &current) != 0) continue;
    if (current.sa_handler != SIG_DFL && current.sa_handler != SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = endOnFault;
    ::sigemptyset(&action.sa_mask);
    ::sigaction(fault, &action, nullptr);
  }
}

}  // namespace platform
