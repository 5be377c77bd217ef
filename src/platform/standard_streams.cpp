#include "platform/standard_streams.h"

#include <signal.h>
#include <unistd.h>

#include "platform/write_all.h"

namespace platform {

bool writeToStandardOutput(std::string_view bytes) { return writeAll(STDOUT_FILENO, bytes); }
bool writeToStandardError(std::string_view bytes) { return writeAll(STDERR_FILENO, bytes); }

// signal() fails only for a signal number that does not exist.
void ignoreBrokenPipes() { ::signal(SIGPIPE, SIG_IGN); }

}  // namespace platform
