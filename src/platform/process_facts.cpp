#include "platform/process_facts.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>

#include "platform/file_io.h"

namespace platform {

std::optional<LockHolder> lockHolder(const UniqueFd& file) {
  struct flock probe {};
  probe.l_type = F_WRLCK;
  probe.l_whence = SEEK_SET;
  probe.l_start = 0;
  probe.l_len = 0;
  if (::fcntl(file.get(), F_GETLK, &probe) != 0) return std::nullopt;
  if (probe.l_type == F_UNLCK) return LockHolder{};
  return LockHolder{true, probe.l_pid > 0 ? probe.l_pid : 0};
}

bool processExists(pid_t pid) {
  if (pid <= 0) return false;
  return ::kill(pid, 0) == 0 || errno == EPERM;
}

std::optional<std::string> processEnvironment(pid_t pid, std::size_t limit) {
  if (pid <= 0) return std::nullopt;
  auto file = openPathForReading("/proc/" + std::to_string(pid) + "/environ");
  if (!file) return std::nullopt;
  // One byte more than allowed tells a file that is too long.
  auto text = readAtMost(*file, limit + 1);
  if (!text || text->size() > limit) return std::nullopt;
  return text;
}

std::optional<std::string> linkTarget(const std::string& path) {
  std::array<char, 4096> buffer{};
  const ssize_t length = ::readlink(path.c_str(), buffer.data(), buffer.size());
  if (length < 0 || static_cast<std::size_t>(length) >= buffer.size()) return std::nullopt;
  return std::string(buffer.data(), static_cast<std::size_t>(length));
}

}  // namespace platform
