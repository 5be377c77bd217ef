#include "files/private_directory.h"

namespace {

constexpr std::int64_t kGroupAndOtherWriteBits = 022;
constexpr std::int64_t kSuperuser = 0;

}  // namespace

bool isPrivateDirectory(const std::optional<platform::FileFacts>& facts, std::uint32_t effectiveUser) {
  if (!facts || !facts->attributes) return false;
  const std::int64_t* owner = platform::numberIn(facts->attributes->ownerAccountId);
  if (owner == nullptr) return false;
  const auto ownerId = static_cast<std::uint32_t>(*owner);
  if (ownerId != effectiveUser && ownerId != kSuperuser) return false;
  const std::int64_t* permissions = platform::numberIn(facts->attributes->posixPermissions);
  return permissions != nullptr && (*permissions & kGroupAndOtherWriteBits) == 0;
}

bool privateDirectory(const platform::Directory& directory) {
  return isPrivateDirectory(platform::fileFacts(directory), platform::effectiveUserId());
}
