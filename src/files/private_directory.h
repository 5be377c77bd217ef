// Whether a directory on the way to a job is the user's alone: no one else
// may be able to replace what lies in it.
#pragma once

#include <cstdint>
#include <optional>

#include "job/rule_breach.h"
#include "platform/directory.h"
#include "platform/file_facts.h"

// The decision, on facts gathered elsewhere: a directory, not a link, owned
// by `effectiveUser` or by the superuser, with no write bit for group or
// others. Whoever can write to a directory can swap its entries for links
// after any check of them, so a looser directory cannot hold a trusted job;
// a sticky bit does not help, since others may still add their own links.
// The reason for the first problem found, in this order: no facts
// (directoryUnreadable), a link, not a directory, owned by another (or no
// owner known), writable by others (or no mode known); nothing when the
// directory passes.
std::optional<Reason> privateDirectoryProblem(const std::optional<platform::FileFacts>& facts,
                                              std::uint32_t effectiveUser);

// The check on an open directory, through its descriptor.
std::optional<Reason> privateDirectoryProblem(const platform::Directory& directory);
