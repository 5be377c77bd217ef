// File system helpers for the swap attack harness: small file writes, and
// snapshots of a tree for before/after comparison.
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <utility>

#include "platform/unique_fd.h"

namespace attack {

using Fd = platform::UniqueFd;

// Setup steps throw this; a harness that cannot set up has proved nothing.
[[noreturn]] void fail(const std::string& what);

void makeDirectory(const std::string& path, mode_t mode);
void writeFile(const std::string& path, const std::string& bytes, mode_t mode);
std::string readFile(const std::string& path);  // follows nothing; empty when missing
Fd openDirectory(const std::string& path);

// Everything that would betray a change to an entry. Directories whose
// entries the harness itself renames keep no time (their entry set is still
// compared through the snapshot's keys).
struct Entry {
  mode_t mode = 0;  // type and permission bits
  uid_t owner = 0;
  gid_t group = 0;
  std::int64_t size = 0;
  std::int64_t mtimeNs = 0;
  ino_t inode = 0;
  std::uint64_t contentHash = 0;  // regular files
  std::string linkTarget;         // symbolic links
  bool operator==(const Entry&) const = default;
};
using Snapshot = std::map<std::string, Entry>;

// Walks `root` without following links. Paths in `skipped` are left out
// with everything below them; directories in `churned` keep no time.
Snapshot snapshotTree(const std::string& root, const std::set<std::string>& skipped,
                      const std::set<std::string>& churned);

// One line per added, removed or changed path.
std::string describeDifferences(const Snapshot& before, const Snapshot& after);

}  // namespace attack
