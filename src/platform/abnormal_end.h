// How the process ends when it cannot go on. An exception that finds no
// handler, one that cannot even be created because memory has run out, or
// one leaving a function that may not throw all end in std::terminate,
// which by default prints to standard error and aborts.
#pragma once

#include <string_view>

namespace platform {

// From now on std::terminate writes `message` (if any) to standard error and
// ends the process at once with `status`, allocating nothing. `message` must
// stay valid until the process ends (a literal). A later call replaces both.
//
// A fault the process cannot go on from ends it the same way: SIGSEGV,
// SIGBUS, SIGILL, SIGFPE or SIGABRT, as when a library dereferences the null
// pointer of an allocation that failed, or the C library finds its heap
// damaged, or when the stack has run out (the handler has a stack of its
// own). A handler already in place for one of them (a sanitizer's) is kept.
void endOnTerminate(int status, std::string_view message = {});

}  // namespace platform
