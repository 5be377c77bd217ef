// Whether a directory on the way to a job is the user's alone: no one else
// may be able to replace what lies in it.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/directory.h"
#include "platform/file_facts.h"

// The decision, on facts gathered elsewhere: owned by `effectiveUser` or by
// the superuser, with no write bit for group or others. Whoever can write
// to a directory can swap its entries for links after any check of them,
// so a looser directory cannot hold a trusted job. Missing or odd facts fail.
bool isPrivateDirectory(const std::optional<platform::FileFacts>& facts, std::uint32_t effectiveUser);

// The check on an open directory, through its descriptor.
bool privateDirectory(const platform::Directory& directory);
