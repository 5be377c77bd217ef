// Writing whole byte strings to the standard streams.
#pragma once

#include <string_view>

namespace platform {

// Writes every byte, retrying short writes; false when the stream fails.
bool writeToStandardOutput(std::string_view bytes);
bool writeToStandardError(std::string_view bytes);

}  // namespace platform
