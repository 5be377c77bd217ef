#include "platform/process.h"

namespace platform {
namespace {

int savedCount = 0;
char** savedVector = nullptr;

// The GNU C library passes argc and argv to initialisers in .init_array,
// which lets the platform layer keep them without main's help.
void saveArguments(int argc, char** argv, char**) {
  savedCount = argc;
  savedVector = argv;
}

__attribute__((section(".init_array"), used)) void (*const saveArgumentsAtStart)(int, char**, char**) =
    saveArguments;

}  // namespace

std::size_t processArgumentCount() {
  std::size_t count = 0;
  while (savedVector != nullptr && static_cast<int>(count) < savedCount && savedVector[count] != nullptr) ++count;
  return count;
}

std::string_view processArgumentAt(std::size_t index) {
  return index < processArgumentCount() ? std::string_view(savedVector[index]) : std::string_view();
}

std::vector<std::string> processArguments() {
  std::vector<std::string> arguments;
  if (savedVector == nullptr) return arguments;
  for (int i = 0; i < savedCount && savedVector[i] != nullptr; ++i) arguments.emplace_back(savedVector[i]);
  return arguments;
}

}  // namespace platform
