// Reading and writing whole files.
#pragma once

#include <cstddef>
#include <cstdint>
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

// Opens the file at `path` for reading, following links, without blocking
// on a FIFO or a device. Nothing when it cannot be opened.
std::optional<UniqueFd> openPathForReading(const std::string& path);

// Moves the file's position to `offset` bytes from its start.
bool seekTo(const UniqueFd& file, std::int64_t offset);

// Reads from the current position until the end or until `limit` bytes have
// been read, whichever comes first.
std::optional<std::string> readAtMost(const UniqueFd& file, std::size_t limit);

// The whole regular file at `path` when it holds at most `maxSize` bytes.
std::optional<std::string> readWholeFile(const std::string& path, std::size_t maxSize);

// Replaces the file at `location` whole with `bytes`, then sets its
// permission bits to `mode`. The bytes go to a new file in the same
// directory, made with mode 0600 and no name; it is linked in under a
// temporary name only when complete and at once renamed over the target, so
// a reader sees the old file or the new one, never part of one. On failure
// the target is unchanged and nothing new is left behind. Temporary files
// of this kind ("." + name + "." and 16 lower-case hexadecimal digits) that
// an interrupted earlier write left in the directory are removed first.
bool writeFileAtomically(const FileLocation& location, std::string_view bytes, unsigned mode);

// Sets the permission bits of the item at `location` only when it is a
// regular file of the effective user with no other hard link, reached
// without following a link; anything else (a link, a directory, a FIFO, a
// file also linked elsewhere, another user's file) is left alone and the
// call fails. A file whose owner may not read it is left alone as well.
bool setPermissionsOfOwnFile(const FileLocation& location, unsigned mode);

// Makes a write beyond the file-size limit fail with an error instead of
// ending the process with a signal. For the whole process; programs it
// starts later get the default back.
bool failWritesBeyondFileSizeLimit();

}  // namespace platform
