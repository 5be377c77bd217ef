#include "platform/file_facts.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

FileFacts factsFromStat(const struct stat& st) {
  FileFacts facts;
  facts.isRegularFile = S_ISREG(st.st_mode);
  facts.isSymbolicLink = S_ISLNK(st.st_mode);
  facts.isDirectory = S_ISDIR(st.st_mode);
  facts.size = static_cast<std::int64_t>(st.st_size);
  facts.attributes = FileAttributes{
      AttributeValue{static_cast<std::int64_t>(st.st_uid)},
      AttributeValue{static_cast<std::int64_t>(st.st_mode & 07777)},
  };
  return facts;
}

}  // namespace

std::optional<FileFacts> descriptorFacts(int fd) {
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0) return std::nullopt;
  return factsFromStat(st);
}

std::optional<FileFacts> fileFactsAt(int directoryFd, const std::string& name) {
  struct stat st {};
  if (::fstatat(directoryFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return std::nullopt;
  return factsFromStat(st);
}

std::optional<FileFacts> fileFacts(const UniqueFd& file) {
  return descriptorFacts(file.get());
}

std::uint32_t effectiveUserId() {
  return static_cast<std::uint32_t>(::geteuid());
}

}  // namespace platform
