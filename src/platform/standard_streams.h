// Writing whole byte strings to the standard streams.
#pragma once

#include <string_view>

namespace platform {

// Writes every byte, retrying short writes; false when the stream fails.
bool writeToStandardOutput(std::string_view bytes);
bool writeToStandardError(std::string_view bytes);

// From now on standard error carries this process's own messages only:
// writeToStandardError goes to a copy of it, and the stream itself points at
// /dev/null, so that a line the C library writes before it aborts (on a heap
// a library damaged) does not stand beside them. For a process that starts
// no program. Returns false, changing nothing, when it cannot be done.
bool keepStandardErrorForOwnMessages();

// From now on a write to a pipe whose reader has gone fails with EPIPE
// instead of ending the process with SIGPIPE. An ignored signal stays
// ignored in every program started later, so this is only for a process
// that starts none.
void ignoreBrokenPipes();

// Points standard output and standard error at /dev/null, for a process
// that promises to print nothing: what the C library or a library writes
// there (a diagnostic before an abort) then reaches no one. Programs started
// later get streams of their own. Returns false, leaving the streams as they
// were, when /dev/null cannot be opened.
bool discardStandardOutputAndError();

}  // namespace platform
