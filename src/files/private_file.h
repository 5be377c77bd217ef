// Whether a file may be trusted as the current user's private input.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/directory.h"
#include "platform/file_facts.h"

// The decision, on facts gathered elsewhere: a regular file, not a symbolic
// link, at most `maxSize` bytes, owned by `effectiveUser`, with no
// permission bit for group or others. Steps run in that order; missing or
// odd facts fail. `maxSize` must be below the largest 64-bit value.
bool isPrivateFile(const std::optional<platform::FileFacts>& facts, std::int64_t maxSize,
                   std::uint32_t effectiveUser);

// The check on the item at `location` itself; a final link is judged as a
// link. Changes nothing and holds nothing open.
bool privateFile(const platform::FileLocation& location, std::int64_t maxSize);

// Reads a file that passes the check, safely against the file being swapped
// after the check: it is opened without following a link or blocking, the
// open file is judged again by the same rules, and at most `maxSize` + 1
// bytes are read from it, so a file that grew fails too.
std::optional<std::string> readPrivateFile(const platform::FileLocation& location, std::int64_t maxSize);
