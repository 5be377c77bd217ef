// A test build of the program in which memory runs out on request: the
// N-th allocation counted from the start of main fails, and so does every
// later one, as when the memory is gone for good. N is read from
// SUPPORT_DRAFT_FAIL_ALLOCATION when main starts; without it nothing fails.
// The shipped program is the same entry and core without this file.
//
// malloc, calloc and realloc are replaced in this executable, so the C
// library, the property-list library and the C++ runtime (whose operator
// new calls malloc) all meet the failure; the memory itself still comes
// from the C library's allocator, so its free releases it.
#include <cerrno>
#include <cstddef>
#include <cstdlib>

#define main supportDraftMain
#include "entry/main.cpp"
#undef main

extern "C" void* __libc_malloc(std::size_t size);
extern "C" void* __libc_calloc(std::size_t count, std::size_t size);
extern "C" void* __libc_realloc(void* old, std::size_t size);

namespace {

// Both stay zero until main starts: what the loader and the static
// constructors allocate is never counted.
unsigned long failFrom = 0;
unsigned long counted = 0;

bool failsNow() {
  if (failFrom == 0 || ++counted < failFrom) return false;
  errno = ENOMEM;
  return true;
}

}  // namespace

extern "C" void* malloc(std::size_t size) { return failsNow() ? nullptr : __libc_malloc(size); }

extern "C" void* calloc(std::size_t count, std::size_t size) {
  return failsNow() ? nullptr : __libc_calloc(count, size);
}

extern "C" void* realloc(void* old, std::size_t size) { return failsNow() ? nullptr : __libc_realloc(old, size); }

int main() {
  if (const char* from = std::getenv("SUPPORT_DRAFT_FAIL_ALLOCATION")) failFrom = std::strtoul(from, nullptr, 10);
  return supportDraftMain();
}
