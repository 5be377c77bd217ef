#include "platform/home.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace platform {

namespace {

bool isAbsolute(const std::optional<std::string>& path) { return path && !path->empty() && path->front() == '/'; }

std::optional<std::string> passwordEntryHome() {
  long suggested = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(suggested > 0 ? static_cast<std::size_t>(suggested) : 16384);
  struct passwd entry {};
  struct passwd* found = nullptr;
  if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr ||
      found->pw_dir == nullptr) {
    return std::nullopt;
  }
  return std::string(found->pw_dir);
}

}  // namespace

HomeFacts homeFacts() {
  HomeFacts facts;
  if (const char* home = std::getenv("HOME")) facts.homeVariable = std::string(home);
  if (!isAbsolute(facts.homeVariable)) facts.passwordHome = passwordEntryHome();
  return facts;
}

}  // namespace platform
