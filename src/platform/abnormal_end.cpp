#include "platform/abnormal_end.h"

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

}  // namespace

void endOnTerminate(int status, std::string_view message) {
  endStatus = status;
  endMessage = message;
  std::set_terminate(endNow);
}

}  // namespace platform
