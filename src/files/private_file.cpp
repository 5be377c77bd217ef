#include "files/private_file.h"

#include "platform/file_io.h"

namespace {

constexpr std::int64_t kGroupAndOtherBits = 077;

// For the checks that answer only yes or no: any reason will do.
constexpr Reason kAny = Reason::jobDocumentUnreadable;
constexpr PrivateFileReasons kAnyReasons{kAny, kAny, kAny, kAny, kAny, kAny, kAny};

}  // namespace

std::optional<Reason> privateFileProblem(const std::optional<platform::FileFacts>& facts, std::int64_t maxSize,
                                         std::uint32_t effectiveUser, const PrivateFileReasons& reasons) {
  if (!facts) return reasons.cannotExamine;
  // A link is named as one before its kind counts: it is never followed, so
  // whatever it leads to does not matter.
  if (facts->isSymbolicLink.value_or(false)) return reasons.linked;
  if (!facts->isRegularFile.value_or(false)) {
    return facts->isDirectory.value_or(false) ? reasons.isDirectory : reasons.notRegularFile;
  }
  if (facts->size.value_or(maxSize + 1) > maxSize) return reasons.tooLarge;
  if (!facts->attributes) return reasons.notOwned;
  const std::int64_t* owner = platform::numberIn(facts->attributes->ownerAccountId);
  if (owner == nullptr || static_cast<std::uint32_t>(*owner) != effectiveUser) return reasons.notOwned;
  const std::int64_t* permissions = platform::numberIn(facts->attributes->posixPermissions);
  if (permissions == nullptr || (*permissions & kGroupAndOtherBits) != 0) return reasons.notPrivate;
  return std::nullopt;
}

bool isPrivateFile(const std::optional<platform::FileFacts>& facts, std::int64_t maxSize,
                   std::uint32_t effectiveUser) {
  return !privateFileProblem(facts, maxSize, effectiveUser, kAnyReasons);
}

std::optional<Reason> privateFileProblem(const platform::FileLocation& location, std::int64_t maxSize,
                                         const PrivateFileReasons& reasons) {
  return privateFileProblem(platform::fileFacts(location), maxSize, platform::effectiveUserId(), reasons);
}

bool privateFile(const platform::FileLocation& location, std::int64_t maxSize) {
  return !privateFileProblem(location, maxSize, kAnyReasons);
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
