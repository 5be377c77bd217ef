// Writing a whole byte string to a descriptor.
#pragma once

#include <string_view>

namespace platform {

// Writes every byte, retrying short and interrupted writes; false on error.
bool writeAll(int fd, std::string_view bytes);

}  // namespace platform
