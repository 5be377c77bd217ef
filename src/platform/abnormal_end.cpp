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

// The handlers run on a stack of their own: a fault that comes of the
// stack having run out (deep recursion, a tight RLIMIT_STACK) leaves none
// on the thread's own stack to run them on.
alignas(16) char faultStack[64 * 1024];

bool haveFaultStack() {
  stack_t current {};
  if (::sigaltstack(nullptr, &current) != 0) return false;
  // One already in place (a sanitizer's) serves as well.
  if ((current.ss_flags & SS_DISABLE) == 0) return true;
  stack_t own {};
  own.ss_sp = faultStack;
  own.ss_size = sizeof faultStack;
  return ::sigaltstack(&own, nullptr) == 0;
}

}  // namespace

void endOnTerminate(int status, std::string_view message) {
  endStatus = status;
  endMessage = message;
  std::set_terminate(endNow);
  const int onStack = haveFaultStack() ? SA_ONSTACK : 0;
  for (const int fault : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT}) {
    struct sigaction current {};
    // sigaction fails only for a signal number that does not exist.
    if (::sigaction(fault, nullptr, &current) != 0) continue;
    if (current.sa_handler != SIG_DFL && current.sa_handler != SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = endOnFault;
    action.sa_flags = onStack;
    ::sigemptyset(&action.sa_mask);
    ::sigaction(fault, &action, nullptr);
  }
}

}  // namespace platform
