// Writing whole byte strings to the standard streams.
#pragma once

#include <string_view>

namespace platform {

// Writes every byte, retrying short writes; false when the stream fails.
bool writeToStandardOutput(std::string_view bytes);
bool writeToStandardError(std::string_view bytes);

// From now on a write to a pipe whose reader has gone fails with EPIPE
// instead of ending the process with SIGPIPE. An ignored signal stays
// ignored in every program started later, so this is only for a process
// that starts none.
void ignoreBrokenPipes();

}  // namespace platform
