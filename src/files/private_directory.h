// Whether a directory on the way to a job is the user's alone: no one else
// may be able to replace what lies in it.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/directory.h"
#include "platform/file_facts.h"

// What keeps a directory from being the user's alone, in the order the
// steps are taken.
enum class DirectoryProblem {
  cannotExamine,     // no facts
  linked,            // a symbolic link
  notDirectory,      // anything but a directory
  notOwned,          // owned by neither the user nor the superuser (or no owner known)
  writableByOthers,  // a write bit for group or others (or no mode known)
};

// The decision, on facts gathered elsewhere: a directory, not a link, owned
// by `effectiveUser` or by the superuser, with no write bit for group or
// others. Whoever can write to a directory can swap its entries for links
// after any check of them, so a looser directory cannot hold a trusted job;
// a sticky bit does not help, since others may still add their own links.
// The first problem found, or nothing when the directory passes.
std::optional<DirectoryProblem> privateDirectoryProblem(const std::optional<platform::FileFacts>& facts,
                                                        std::uint32_t effectiveUser);

// The check on an open directory, through its descriptor.
std::optional<DirectoryProblem> privateDirectoryProblem(const platform::Directory& directory);
