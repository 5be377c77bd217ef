// The job directory and the directories above it: no symbolic link on the
// path, and from the home directory down each level the user's alone.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "job/rule_breach.h"
#include "platform/directory.h"

// `home`/`toolDirectory`/support-drafts/`jobId`, as built, not resolved.
std::string jobDirectoryPath(std::string_view home, std::string_view toolDirectory, std::string_view jobId);

// True when resolving every symbolic link on `path` changes nothing beyond
// what standardising the path changes: no link lies anywhere on it.
bool hasNoSymbolicLinkOnPath(std::string_view path);

// A chain of directories opened and judged. On success `directory` is the
// last level, opened without following links, and `breach` is empty.
// Otherwise `breach` is the first rule broken. When that is
// directoryMissing, `parent` is the level above the missing one (opened and
// judged) and `missingName` the missing name, so a host that makes
// directories can make it there and open the chain again.
struct DirectoryOpening {
  std::optional<platform::Directory> directory;
  std::optional<RuleBreach> breach;
  std::optional<platform::Directory> parent;
  std::string missingName;
};

// The directory `home`/`levels`[0]/`levels`[1]/..., with the rules the
// program applies to a job directory's path, in its order (a `home` that is
// not an absolute path is homeNotAbsolute):
//  1. no link anywhere on the whole path, above the home too
//     (directoryLinked, naming the first link);
//  2. the home opened from the root without following links (homeNotFound
//     when it or a directory above it does not exist; directoryLinked,
//     directoryNotDirectory or directoryUnreadable naming the component);
//  3. the home and then each level: opened without following links inside
//     the one above (directoryMissing, directoryLinked,
//     directoryNotDirectory, directoryUnreadable) and owned by the user or
//     the superuser with no write bit for group or others
//     (directoryNotOwned, directoryWritableByOthers).
// Directories above the home are the administrator's: only links and
// non-directories count there. Each level is one path component.
DirectoryOpening openJobLevels(std::string_view home, const std::vector<std::string_view>& levels);

// One level below an open, already judged directory, by step 3 above.
DirectoryOpening openPrivateLevel(const platform::Directory& parent, std::string_view name);

// The job directory `home`/`toolDirectory`/support-drafts/`jobId`:
// openJobLevels() with those three levels. The job id must already be
// canonical.
DirectoryOpening locateJobDirectory(std::string_view home, std::string_view toolDirectory, std::string_view jobId);
