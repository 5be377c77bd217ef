// The current user's home directory.
#pragma once

#include <optional>
#include <string>

namespace platform {

// HOME when it holds an absolute path, otherwise the home of the effective
// user's password entry; nothing when neither gives an absolute path.
std::optional<std::string> homeDirectory();

}  // namespace platform
