#include "files/private_directory.h"

namespace {

constexpr std::int64_t kGroupAndOtherWriteBits = 022;
constexpr std::int64_t kSuperuser = 0;

}  // namespace

std::optional<Reason> privateDirectoryProblem(const std::optional<platform::FileFacts>& facts,
                                              std::uint32_t effectiveUser) {
  if (!facts) return Reason::directoryUnreadable;
  if (facts->isSymbolicLink.value_or(false)) return Reason::directoryLinked;
  if (!facts->isDirectory.value_or(false)) return Reason::directoryNotDirectory;
  const std::int64_t* owner = facts->attributes ? platform::numberIn(facts->attributes->ownerAccountId) : nullptr;
  if (owner == nullptr) return Reason::directoryNotOwned;
  const auto ownerId = static_cast<std::uint32_t>(*owner);
  if (ownerId != effectiveUser && ownerId != kSuperuser) return Reason::directoryNotOwned;
  const std::int64_t* permissions = platform::numberIn(facts->attributes->posixPermissions);
  if (permissions == nullptr || (*permissions & kGroupAndOtherWriteBits) != 0) {
    return Reason::directoryWritableByOthers;
  }
  return std::nullopt;
}

std::optional<Reason> privateDirectoryProblem(const platform::Directory& directory) {
  return privateDirectoryProblem(platform::fileFacts(directory), platform::effectiveUserId());
}
