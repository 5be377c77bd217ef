#include "platform/paths.h"

#include <climits>
#include <deque>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace platform {
namespace {

// The kernel gives up after 40 links in one lookup; so do we.
constexpr int kMaxLinks = 40;

std::deque<std::string> splitComponents(std::string_view path) {
  std::deque<std::string> components;
  std::size_t start = 0;
  while (start <= path.size()) {
    const std::size_t end = std::min(path.find('/', start), path.size());
    if (end > start) components.emplace_back(path.substr(start, end - start));
    start = end + 1;
  }
  return components;
}

std::string joinAbsolute(const std::vector<std::string>& components) {
  if (components.empty()) return "/";
  std::string path;
  for (const auto& component : components) {
    path += '/';
    path += component;
  }
  return path;
}

std::optional<std::string> readLink(const std::string& path) {
  std::string target(PATH_MAX, '\0');
  const ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
  if (length < 0 || static_cast<std::size_t>(length) >= target.size()) return std::nullopt;
  target.resize(static_cast<std::size_t>(length));
  return target;
}

}  // namespace

std::string appendingPathComponent(std::string_view base, std::string_view component) {
  std::string path(base);
  if (path.empty() || path.back() != '/') path += '/';
  path += component;
  return path;
}

std::string standardizedPath(std::string_view path) {
  if (path.empty() || path.front() != '/') return std::string(path);
  std::vector<std::string> kept;
  for (auto& component : splitComponents(path)) {
    if (component == ".") continue;
    if (component == "..") {
      if (!kept.empty()) kept.pop_back();
      continue;
    }
    kept.push_back(std::move(component));
  }
  return joinAbsolute(kept);
}

std::optional<std::string> resolvingSymlinksInPath(std::string_view path) {
  if (path.empty() || path.front() != '/') return std::nullopt;
  std::deque<std::string> pending = splitComponents(path);
  std::vector<std::string> resolved;
  bool pastMissing = false;  // below a missing component nothing can be a link
  int linksFollowed = 0;
  while (!pending.empty()) {
    std::string component = std::move(pending.front());
    pending.pop_front();
    if (component == ".") continue;
    if (component == "..") {
      if (!pastMissing && !resolved.empty()) resolved.pop_back();
      else if (pastMissing) resolved.push_back(component);
      continue;
    }
    resolved.push_back(component);
    if (pastMissing) continue;
    const std::string candidate = joinAbsolute(resolved);
    struct stat st {};
    if (::lstat(candidate.c_str(), &st) != 0) {
      pastMissing = true;
      continue;
    }
    if (!S_ISLNK(st.st_mode)) continue;
    if (++linksFollowed > kMaxLinks) return std::nullopt;
    const auto target = readLink(candidate);
    if (!target || target->empty()) return std::nullopt;
    resolved.pop_back();
    if (target->front() == '/') resolved.clear();
    auto targetComponents = splitComponents(*target);
    pending.insert(pending.begin(), targetComponents.begin(), targetComponents.end());
  }
  return joinAbsolute(resolved);
}

std::optional<std::string> executablePath() {
  return readLink("/proc/self/exe");
}

std::optional<std::string> absolutePath(std::string_view path) {
  if (path.starts_with('/')) return std::string(path);
  char directory[PATH_MAX];
  if (::getcwd(directory, sizeof directory) == nullptr) return std::nullopt;
  return appendingPathComponent(directory, path);
}

PathKind pathKindFollowingLinks(std::string_view path) {
  struct stat st {};
  if (::stat(std::string(path).c_str(), &st) != 0) return PathKind::none;
  if (S_ISDIR(st.st_mode)) return PathKind::directory;
  return S_ISREG(st.st_mode) ? PathKind::regularFile : PathKind::other;
}

}  // namespace platform
