// Bounds on a property list's tree, checked on its bytes before the
// property-list library parses it. The library recurses once per level while
// reading, writing and freeing, and it copies an object of a binary list
// afresh wherever it is referenced, so a few hundred bytes can stand for a
// tree too deep for the stack or too large for memory.
#pragma once

#include <cstdint>
#include <string_view>

namespace platform {

struct PlistLimits {
  // Levels below the top object: the top's members are at level 1.
  int maxDepth = 0;
  // Objects in the tree once every reference is expanded, keys included.
  std::uint64_t maxObjects = 0;
  // Bytes that those objects take in the binary form, references expanded.
  std::uint64_t maxExpandedBytes = 0;
};

// True when `bytes`, a binary property list ("bplist00"), is well formed in
// its trailer, offset table and object references, holds no reference
// cycle, and its expanded tree stays within `limits`. Runs in time and
// memory proportional to the file, without recursion.
bool binaryPlistWithinLimits(std::string_view bytes, const PlistLimits& limits);

// True when the elements of `bytes`, an XML property list, nest no deeper
// than `limits.maxDepth` plus the <plist> element and a value's own element,
// number at most `limits.maxObjects`, and close in the order they opened.
bool xmlPlistWithinLimits(std::string_view bytes, const PlistLimits& limits);

}  // namespace platform
