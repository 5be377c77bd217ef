// Path texts: building, standardising and resolving symbolic links.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform {

// `base` with one component appended, joined by exactly one separator.
std::string appendingPathComponent(std::string_view base, std::string_view component);

// The absolute path with empty and "." components removed and each ".."
// removed together with the component before it ("/.." stays "/"). No
// trailing separator except for the root itself. Relative paths are
// returned unchanged.
std::string standardizedPath(std::string_view path);

// The absolute path with every symbolic link along it replaced by its
// target, one component at a time, so that ".." after a link is taken from
// the link's target. Components that do not exist are kept as they are.
// Gives nothing for a relative path or when links nest too deeply.
std::optional<std::string> resolvingSymlinksInPath(std::string_view path);

// `path` made absolute against the current directory (an absolute one is
// returned as it is); nothing when the current directory cannot be read.
std::optional<std::string> absolutePath(std::string_view path);

// What `path` leads to once every link on it is followed.
enum class PathKind { none, directory, regularFile, other };
PathKind pathKindFollowingLinks(std::string_view path);

// The resolved absolute path of the running executable.
std::optional<std::string> executablePath();

}  // namespace platform
