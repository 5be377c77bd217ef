// An advisory lock on a file of one's own, released when its descriptor is
// closed (also when the process ends, however it ends).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/unique_fd.h"

namespace platform {

// Opens the file `name` in `directory`, making it with mode 0600 when it
// does not exist, without following a link, close-on-exec so that no
// program started later holds it; nothing unless it is a regular file of
// the effective user.
std::optional<UniqueFd> openLockFile(const std::string& directory, std::string_view name);

// Takes the exclusive lock of `file` when no one else holds it.
bool tryLockExclusive(const UniqueFd& file);

}  // namespace platform
