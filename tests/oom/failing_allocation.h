// Running the test build in which memory runs out from the N-th allocation
// on (failing_allocation.cpp), for the process tests that sweep N.
#pragma once

#include <algorithm>
#include <filesystem>
#include <string>

#include "harness.h"

namespace failing_allocation {

// The variable that arms the test build.
inline constexpr const char* kVariable = "SUPPORT_DRAFT_FAIL_ALLOCATION";

// No run of the program comes near this many allocations; a sweep that
// gets here has lost its way.
inline constexpr unsigned long kMostAllocations = 1'000'000;

// The N to try after `n`: every one at first, where the program's start
// allocates its first few things, then steps of about 3 %, so that a sweep
// over a few thousand allocations stays near two hundred runs.
inline unsigned long nextAfter(unsigned long n) { return n + std::max(1ul, n / 32); }

// Puts the test build in the place of the bundle's executable.
inline void install(const std::filesystem::path& executable) {
#ifdef SUPPORT_DRAFT_FAILING_ALLOCATION_EXECUTABLE
  std::filesystem::remove(executable);
  harness::placeProgram(SUPPORT_DRAFT_FAILING_ALLOCATION_EXECUTABLE, executable);
#else
  (void)executable;
#endif
}

// Whether the test build exists: it is not made under the sanitizers,
// whose runtime owns malloc.
inline bool available() {
#ifdef SUPPORT_DRAFT_FAILING_ALLOCATION_EXECUTABLE
  return true;
#else
  return false;
#endif
}

}  // namespace failing_allocation
