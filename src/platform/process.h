// The process's own argument list, as the C library handed it over at start.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The arguments, program path first. Read afresh from the saved vector on
// every call, so any part of the program can look at the command line by
// itself.
std::vector<std::string> processArguments();

// The number of arguments and the one at `index` (empty past the end),
// without copying: these allocate nothing, so they work when memory has
// already run out.
std::size_t processArgumentCount();
std::string_view processArgumentAt(std::size_t index);

}  // namespace platform
