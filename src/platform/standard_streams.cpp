#include "platform/standard_streams.h"

#include <unistd.h>

#include "platform/write_all.h"

namespace platform {

bool writeToStandardOutput(std::string_view bytes) { return writeAll(STDOUT_FILENO, bytes); }
bool writeToStandardError(std::string_view bytes) { return writeAll(STDERR_FILENO, bytes); }

}  // namespace platform
