#include "platform/directory.h"

#include <fcntl.h>

#include <cerrno>

#include "platform/paths.h"

namespace platform {
namespace {

constexpr int kOpenFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// Records why `name` in `parent` could not be opened; only called after a
// failure, so a successful open costs nothing more.
void noteStop(OpenStop* stop, int parent, const std::string& name, std::string path) {
  if (stop == nullptr) return;
  stop->path = std::move(path);
  stop->missing = errno == ENOENT;
  stop->facts.reset();
  if (parent < 0) return;
  UniqueFd item(::openat(parent, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
  if (item) {
    stop->facts = fileFacts(item);
    stop->missing = false;
  } else {
    stop->missing = errno == ENOENT;
  }
}

}  // namespace

std::optional<Directory> Directory::openWithoutLinks(std::string_view path, OpenStop* stop) {
  if (path.empty() || path.front() != '/') {
    errno = EINVAL;
    noteStop(stop, -1, "", std::string(path));
    return std::nullopt;
  }
  // "." and ".." would let the walk step around a component; the
  // standardised path names the same directory once no link lies on it.
  const std::string absolutePath = standardizedPath(path);
  UniqueFd current(::open("/", kOpenFlags));
  if (!current) {
    noteStop(stop, -1, "", "/");
    return std::nullopt;
  }
  std::size_t start = 1;
  while (start < absolutePath.size()) {
    const std::size_t end = std::min(absolutePath.find('/', start), absolutePath.size());
    const std::string component(absolutePath.substr(start, end - start));
    start = end + 1;
    if (component.empty()) continue;
    UniqueFd next(::openat(current.get(), component.c_str(), kOpenFlags));
    if (!next) {
      noteStop(stop, current.get(), component, absolutePath.substr(0, end));
      return std::nullopt;
    }
    current = std::move(next);
  }
  return Directory(std::move(current), absolutePath);
}

std::optional<Directory> Directory::openChildWithoutLinks(const Directory& parent, std::string_view name,
                                                          OpenStop* stop) {
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string_view::npos) {
    errno = EINVAL;
    noteStop(stop, -1, "", appendingPathComponent(parent.path(), name));
    return std::nullopt;
  }
  const std::string childName(name);
  UniqueFd child(::openat(parent.fd(), childName.c_str(), kOpenFlags));
  if (!child) {
    noteStop(stop, parent.fd(), childName, appendingPathComponent(parent.path(), name));
    return std::nullopt;
  }
  return Directory(std::move(child), appendingPathComponent(parent.path(), name));
}

std::string FileLocation::path() const {
  return appendingPathComponent(directory->path(), name);
}

FileLocation childOf(const Directory& directory, std::string_view name) {
  return FileLocation{&directory, std::string(name)};
}

std::optional<FileFacts> fileFacts(const FileLocation& location) {
  if (location.directory == nullptr) return std::nullopt;
  return fileFactsAt(location.directory->fd(), location.name);
}

std::optional<FileFacts> fileFacts(const Directory& directory) { return descriptorFacts(directory.fd()); }

}  // namespace platform
