// What the file system says about one item, gathered without judging it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

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

// Facts about the item `name` in the directory open at `directoryFd`
// itself; a final symbolic link is described as a link, never followed.
// Nothing when the item cannot be examined (it does not exist, for instance).
std::optional<FileFacts> fileFactsAt(int directoryFd, const std::string& name);

// Facts about an open file, or a bare descriptor of one (-1: nothing).
std::optional<FileFacts> fileFacts(const UniqueFd& file);
std::optional<FileFacts> descriptorFacts(int fd);

std::uint32_t effectiveUserId();

}  // namespace platform
