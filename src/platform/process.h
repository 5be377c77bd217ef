// The process's own argument list, as the C library handed it over at start.
#pragma once

#include <string>
#include <vector>

namespace platform {

// The arguments, program path first. Read afresh from the saved vector on
// every call, so any part of the program can look at the command line by
// itself.
std::vector<std::string> processArguments();

}  // namespace platform
