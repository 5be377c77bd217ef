// A read-only memory file that hands bytes to another program through a
// descriptor, so that they never appear in its arguments.
#pragma once

#include <optional>
#include <string_view>

#include "platform/unique_fd.h"

namespace platform {

// A memory file holding `bytes`, sealed against any change and positioned
// at its start; close-on-exec. Nothing when it cannot be made.
std::optional<UniqueFd> sealedMemoryFile(std::string_view bytes);

}  // namespace platform
