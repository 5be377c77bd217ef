#include "platform/standard_streams.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include "platform/write_all.h"

namespace platform {
namespace {

// Where this process's own messages go; read by a fault handler too.
int ownErrorStream = STDERR_FILENO;

}  // namespace

bool writeToStandardOutput(std::string_view bytes) { return writeAll(STDOUT_FILENO, bytes); }
bool writeToStandardError(std::string_view bytes) { return writeAll(ownErrorStream, bytes); }

bool keepStandardErrorForOwnMessages() {
  const int own = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
  if (own < 0) return false;
  const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  const bool moved = null >= 0 && ::dup2(null, STDERR_FILENO) >= 0;
  // With standard input or output closed, /dev/null took its number: keep it.
  if (null > STDERR_FILENO) ::close(null);
  if (!moved) {
    ::close(own);
    return false;
  }
  ownErrorStream = own;
  return true;
}

// signal() fails only for a signal number that does not exist.
void ignoreBrokenPipes() { ::signal(SIGPIPE, SIG_IGN); }

bool discardStandardOutputAndError() {
  // Opened without close-on-exec: a closed standard stream gives /dev/null
  // its own number, where it stays as that stream (dup2 onto itself changes
  // nothing); otherwise it is closed again at once, with no thread to start
  // a program in between.
  const int null = ::open("/dev/null", O_WRONLY);
  if (null < 0) return false;
  const bool moved = ::dup2(null, STDOUT_FILENO) >= 0 && ::dup2(null, STDERR_FILENO) >= 0;
  if (null > STDERR_FILENO) ::close(null);
  return moved;
}

}  // namespace platform
