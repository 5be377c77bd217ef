// Reading and writing whole files.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/directory.h"
#include "platform/unique_fd.h"

namespace platform {

// Opens the file at `location` for reading without following a final link
// and without blocking on a FIFO or a device. Nothing when it cannot be
// opened.
std::optional<UniqueFd> openForReading(const FileLocation& location);

// Reads from the current position until the end or until `limit` bytes have
// been read, whichever comes first.
std::optional<std::string> readAtMost(const UniqueFd& file, std::size_t limit);

// The whole regular file at `path` when it holds at most `maxSize` bytes.
std::optional<std::string> readWholeFile(const std::string& path, std::size_t maxSize);

// Replaces the file at `location` whole with `bytes`: they go to a new
// temporary file (mode 0600) in the same directory, which is then renamed
// over the target, so a reader sees the old file or the new one, never part
// of one. On failure the target is unchanged and the temporary file is gone.
bool writeFileAtomically(const FileLocation& location, std::string_view bytes);

// Sets the permission bits of the item at `location`, never through a link:
// a symbolic link there is left alone and the call fails.
bool setPermissionsWithoutFollowing(const FileLocation& location, unsigned mode);

}  // namespace platform
