#include "files/private_file.h"

#include "platform/file_io.h"

namespace {

constexpr std::int64_t kGroupAndOtherBits = 077;

}  // namespace

bool isPrivateFile(const std::optional<platform::FileFacts>& facts, std::int64_t maxSize,
                   std::uint32_t effectiveUser) {
  if (!facts) return false;
  if (!facts->isRegularFile.value_or(false)) return false;
  if (facts->isSymbolicLink.value_or(false)) return false;
  if (facts->size.value_or(maxSize + 1) > maxSize) return false;
  if (!facts->attributes) return false;
  const std::int64_t* owner = platform::numberIn(facts->attributes->ownerAccountId);
  if (owner == nullptr || static_cast<std::uint32_t>(*owner) != effectiveUser) return false;
  const std::int64_t* permissions = platform::numberIn(facts->attributes->posixPermissions);
  return permissions != nullptr && (*permissions & kGroupAndOtherBits) == 0;
}

bool privateFile(const platform::FileLocation& location, std::int64_t maxSize) {
  return isPrivateFile(platform::fileFacts(location), maxSize, platform::effectiveUserId());
}

std::optional<std::string> readPrivateFile(const platform::FileLocation& location, std::int64_t maxSize) {
  if (maxSize < 0) return std::nullopt;
  const auto file = platform::openForReading(location);
  if (!file || !isPrivateFile(platform::fileFacts(*file), maxSize, platform::effectiveUserId())) {
    return std::nullopt;
  }
  auto bytes = platform::readAtMost(*file, static_cast<std::size_t>(maxSize) + 1);
  if (!bytes || bytes->size() > static_cast<std::size_t>(maxSize)) return std::nullopt;
  return bytes;
}
