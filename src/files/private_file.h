// Whether a file may be trusted as the current user's private input.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/directory.h"
#include "platform/file_facts.h"

// What keeps a file from being the user's private input, in the order the
// steps are taken.
enum class FileProblem {
  cannotExamine,   // no facts: it does not exist, or cannot be examined
  linked,          // a symbolic link (never followed)
  isDirectory,     // a directory
  notRegularFile,  // a FIFO, a device, a socket, ...
  tooLarge,        // more than the limit, or no size known
  notOwned,        // not owned by the user (or no owner known)
  notPrivate,      // a permission bit for group or others (or no mode known)
};

// The decision, on facts gathered elsewhere: a regular file, not a symbolic
// link, at most `maxSize` bytes, owned by `effectiveUser`, with no
// permission bit for group or others. The first problem found, or nothing
// when the file passes. `maxSize` must be below the largest 64-bit value.
std::optional<FileProblem> privateFileProblem(const std::optional<platform::FileFacts>& facts,
                                              std::int64_t maxSize, std::uint32_t effectiveUser);

// privateFileProblem() holds nothing.
bool isPrivateFile(const std::optional<platform::FileFacts>& facts, std::int64_t maxSize,
                   std::uint32_t effectiveUser);

// The check on the item at `location` itself; a final link is judged as a
// link. Changes nothing and holds nothing open.
std::optional<FileProblem> privateFileProblem(const platform::FileLocation& location, std::int64_t maxSize);
bool privateFile(const platform::FileLocation& location, std::int64_t maxSize);

// Reads a file that passes the check, safely against the file being swapped
// after the check: it is opened without following a link or blocking, the
// open file is judged again by the same rules, and at most `maxSize` + 1
// bytes are read from it, so a file that grew fails too.
std::optional<std::string> readPrivateFile(const platform::FileLocation& location, std::int64_t maxSize);
