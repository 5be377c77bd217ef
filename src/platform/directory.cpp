#include "platform/directory.h"

#include <fcntl.h>

#include "platform/paths.h"

namespace platform {
namespace {

constexpr int kOpenFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

}  // namespace

std::optional<Directory> Directory::openWithoutLinks(std::string_view path) {
  if (path.empty() || path.front() != '/') return std::nullopt;
  // "." and ".." would let the walk step around a component; the
  // standardised path names the same directory once no link lies on it.
  const std::string absolutePath = standardizedPath(path);
  UniqueFd current(::open("/", kOpenFlags));
  if (!current) return std::nullopt;
  std::size_t start = 1;
  while (start < absolutePath.size()) {
    const std::size_t end = std::min(absolutePath.find('/', start), absolutePath.size());
    const std::string component(absolutePath.substr(start, end - start));
    start = end + 1;
    if (component.empty()) continue;
    UniqueFd next(::openat(current.get(), component.c_str(), kOpenFlags));
    if (!next) return std::nullopt;
    current = std::move(next);
  }
  return Directory(std::move(current), absolutePath);
}

std::optional<Directory> Directory::openChildWithoutLinks(const Directory& parent, std::string_view name) {
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string_view::npos) {
    return std::nullopt;
  }
  UniqueFd child(::openat(parent.fd(), std::string(name).c_str(), kOpenFlags));
  if (!child) return std::nullopt;
  return Directory(std::move(child), appendingPathComponent(parent.path(), name));
}

std::string FileLocation::path() const {
  return appendingPathComponent(directory->path(), name);
}

FileLocation childOf(const Directory& directory, std::string_view name) {
  return FileLocation{&directory, std::string(name)};
}

}  // namespace platform
