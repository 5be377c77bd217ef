// What the file system says about one item, gathered without judging it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/directory.h"
#include "platform/unique_fd.h"

namespace platform {

// An attribute entry as an attribute dictionary holds it: normally a number,
// but a decision must cope with an entry of another kind, which has none.
struct AttributeValue {
  std::optional<std::int64_t> number;
};

// The number an entry holds; null when the entry is missing or not a number.
inline const std::int64_t* numberIn(const std::optional<AttributeValue>& entry) {
  return entry && entry->number ? &*entry->number : nullptr;
}

struct FileAttributes {
  std::optional<AttributeValue> ownerAccountId;
  std::optional<AttributeValue> posixPermissions;
};

struct FileFacts {
  std::optional<bool> isRegularFile;
  std::optional<bool> isSymbolicLink;
  std::optional<std::int64_t> size;
  // Absent when the attributes could not be read.
  std::optional<FileAttributes> attributes;
  std::optional<bool> isDirectory;
};

// Where opening a directory stopped, for telling why: the standardised path
// up to and including the component that could not be opened, whether it
// does not exist, and what it is when it could be examined (a link is
// described as a link).
struct OpenStop {
  std::string path;
  bool missing = false;
  std::optional<FileFacts> facts;
};

// Facts about the item at `location` itself; a final symbolic link is
// described as a link, never followed. Nothing when the item cannot be
// examined (it does not exist, for instance).
std::optional<FileFacts> fileFacts(const FileLocation& location);

// Facts about an open file.
std::optional<FileFacts> fileFacts(const UniqueFd& file);

// Facts about an open directory, from its descriptor: no path is looked up.
std::optional<FileFacts> fileFacts(const Directory& directory);

std::uint32_t effectiveUserId();

}  // namespace platform
