#include "mail/client_setup_files.h"

#include <dirent.h>

#include <algorithm>
#include <memory>

#include "platform/file_facts.h"
#include "platform/file_io.h"
#include "platform/paths.h"
#include "platform/process_facts.h"

namespace mail {
namespace {

constexpr std::size_t kMaxComponents = 16;
// A desktop session's environment holds a few kilobytes.
constexpr std::size_t kMaxEnvironmentSize = 256 * 1024;

bool isPlainRelative(std::string_view path) {
  if (path.empty() || path.front() == '/') return false;
  std::size_t components = 0;
  while (true) {
    const auto slash = path.find('/');
    const std::string_view component = path.substr(0, slash);
    if (component.empty() || component == "." || component == "..") return false;
    if (++components > kMaxComponents) return false;
    if (slash == std::string_view::npos) return true;
    path.remove_prefix(slash + 1);
  }
}

}  // namespace

SessionIdentity sessionOfEnvironment(std::string_view environment) {
  SessionIdentity session;
  while (!environment.empty()) {
    const auto end = environment.find('\0');
    const std::string_view entry = environment.substr(0, end);
    environment.remove_prefix(end == std::string_view::npos ? environment.size() : end + 1);
    const auto equals = entry.find('=');
    if (equals == std::string_view::npos) continue;
    const std::string_view name = entry.substr(0, equals);
    const std::string value(entry.substr(equals + 1));
    if (name == "DBUS_SESSION_BUS_ADDRESS") session.bus = value;
    if (name == "DISPLAY") session.display = value;
    if (name == "WAYLAND_DISPLAY") session.waylandDisplay = value;
  }
  return session;
}

// The absolute path of `path` under `base` with its links resolved, or ""
// when it is no plain relative path or leads out of the base.
std::string UserClientFiles::resolvedUnder(FileBase base, const std::string& path) const {
  const std::string& root = base == FileBase::Home ? bases_.home : base == FileBase::ConfigHome ? bases_.configHome
                                                                                              : bases_.dataHome;
  if (root.empty() || root.front() != '/' || !isPlainRelative(path)) return {};
  const auto resolvedRoot = platform::resolvingSymlinksInPath(platform::standardizedPath(root));
  const auto resolved = platform::resolvingSymlinksInPath(platform::appendingPathComponent(root, path));
  if (!resolvedRoot || !resolved) return {};
  const std::string prefix = *resolvedRoot == "/" ? "/" : *resolvedRoot + "/";
  if (!resolved->starts_with(prefix) || resolved->size() == prefix.size()) return {};
  return *resolved;
}

ConfigFile UserClientFiles::read(FileBase base, const std::string& path) const {
  const std::string resolved = resolvedUnder(base, path);
  if (resolved.empty()) return {ConfigFile::State::Unreadable, {}};
  if (platform::pathKindFollowingLinks(resolved) == platform::PathKind::none) return {};
  auto file = platform::openPathForReading(resolved);
  if (!file) return {ConfigFile::State::Unreadable, {}};
  const auto facts = platform::fileFacts(*file);
  if (!facts || !facts->isRegularFile.value_or(false)) return {ConfigFile::State::Unreadable, {}};
  auto text = platform::readAtMost(*file, kMaxConfigFileSize + 1);
  if (!text || text->size() > kMaxConfigFileSize) return {ConfigFile::State::Unreadable, {}};
  return {ConfigFile::State::Text, std::move(*text)};
}

std::vector<std::string> UserClientFiles::list(FileBase base, const std::string& path) const {
  std::vector<std::string> names;
  const std::string resolved = resolvedUnder(base, path);
  if (resolved.empty()) return names;
  const std::unique_ptr<DIR, int (*)(DIR*)> directory(::opendir(resolved.c_str()), ::closedir);
  if (!directory) return names;
  while (const dirent* entry = ::readdir(directory.get())) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    names.push_back(name);
    if (names.size() >= kMaxListed) break;
  }
  std::sort(names.begin(), names.end());
  return names;
}

ProfileLock UserClientFiles::profileLock(FileBase base, const std::string& path) const {
  const std::string directory = resolvedUnder(base, path);
  if (directory.empty()) return {ProfileLock::State::Unknown, std::nullopt};
  const auto holderSession = [](pid_t pid) -> ProfileLock {
    const auto environment = platform::processEnvironment(pid, kMaxEnvironmentSize);
    if (!environment) return {ProfileLock::State::HeldHere, std::nullopt};
    return {ProfileLock::State::HeldHere, sessionOfEnvironment(*environment)};
  };
  // The POSIX lock: a holder on this machine is named by its pid.
  if (auto file = platform::openPathForReading(platform::appendingPathComponent(directory, ".parentlock"))) {
    const auto holder = platform::lockHolder(*file);
    if (!holder) return {ProfileLock::State::Unknown, std::nullopt};
    if (holder->locked) {
      if (holder->pid == 0) return {ProfileLock::State::HeldUnseen, std::nullopt};
      return holderSession(holder->pid);
    }
  }
  // The link alone (a file system without POSIX locks): "ADDRESS:PID".
  // "+PID" marks the link as standing beside a POSIX lock, which is free.
  const auto target = platform::linkTarget(platform::appendingPathComponent(directory, "lock"));
  if (!target) return {};
  const auto colon = target->rfind(':');
  if (colon == std::string::npos || colon + 1 >= target->size() || (*target)[colon + 1] == '+') return {};
  pid_t pid = 0;
  for (std::size_t i = colon + 1; i < target->size(); ++i) {
    const char c = (*target)[i];
    if (c < '0' || c > '9' || pid > 4194304) return {ProfileLock::State::Unknown, std::nullopt};
    pid = pid * 10 + (c - '0');
  }
  if (!platform::processExists(pid)) return {ProfileLock::State::Unknown, std::nullopt};
  return holderSession(pid);
}

}  // namespace mail
