// Whether a file may be trusted as the current user's private input.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "job/rule_breach.h"
#include "platform/directory.h"
#include "platform/file_facts.h"

// The reasons a check gives, one for each way the file it judges can fail,
// in the order the steps are taken: each caller names its own file's.
struct PrivateFileReasons {
  Reason cannotExamine;   // no facts: it does not exist, or cannot be examined
  Reason linked;          // a symbolic link (never followed)
  Reason isDirectory;     // a directory
  Reason notRegularFile;  // a FIFO, a device, a socket, ...
  Reason tooLarge;        // more than the limit, or no size known
  Reason notOwned;        // not owned by the user (or no owner known)
  Reason notPrivate;      // a permission bit for group or others (or no mode known)
};

// The decision, on facts gathered elsewhere: a regular file, not a symbolic
// link, at most `maxSize` bytes, owned by `effectiveUser`, with no
// permission bit for group or others. The reason for the first problem
// found, or nothing when the file passes. `maxSize` must be below the
// largest 64-bit value.
std::optional<Reason> privateFileProblem(const std::optional<platform::FileFacts>& facts, std::int64_t maxSize,
                                         std::uint32_t effectiveUser, const PrivateFileReasons& reasons);

// privateFileProblem() holds nothing.
bool isPrivateFile(const std::optional<platform::FileFacts>& facts, std::int64_t maxSize,
                   std::uint32_t effectiveUser);

// The check on the item at `location` itself; a final link is judged as a
// link. Changes nothing and holds nothing open.
std::optional<Reason> privateFileProblem(const platform::FileLocation& location, std::int64_t maxSize,
                                         const PrivateFileReasons& reasons);
bool privateFile(const platform::FileLocation& location, std::int64_t maxSize);

// Reads a file that passes the check, safely against the file being swapped
// after the check: it is opened without following a link or blocking, the
// open file is judged again by the same rules, and at most `maxSize` + 1
// bytes are read from it, so a file that grew fails too.
std::optional<std::string> readPrivateFile(const platform::FileLocation& location, std::int64_t maxSize);
