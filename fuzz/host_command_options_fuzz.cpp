// Feeds arbitrary argument lists to support-draft-host's option reading.
// Either it gives a usage error or options the command can act on as they
// stand: each value the one given after its option, and the combination
// one of the command's forms with its numbers in range.
//
// Input: the arguments, cut at NUL bytes (no argument can hold one).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "host_command_options.h"

namespace {

using fuzz_input::require;

bool given(const std::vector<std::string>& arguments, const std::string& word) {
  return std::find(arguments.begin(), arguments.end(), word) != arguments.end();
}

bool inRange(const std::string& text, long least, long most) {
  const auto number = host_command::wholeNumber(text, 6, least);
  return number && *number <= most;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> arguments = fuzz_input::piecesAtNul(fuzz_input::bytesOf(data, size));
  if (size == 0) arguments.clear();

  std::string error;
  const auto options = host_command::parseOptions(arguments, error);
  require(options.has_value() == error.empty());
  if (!options) return 0;

  require(!options->help || given(arguments, "--help"));
  require(!options->version || given(arguments, "--version"));
  require(!options->remove || given(arguments, "--remove"));
  require(!options->checkOnly || given(arguments, "--check-only"));
  require(!options->route || given(arguments, "--route"));
  require(!options->routeWithLog || (options->route && given(arguments, "--log")));
  require(!options->oneAtATime || given(arguments, "--one-at-a-time"));
  // Each value follows its option among the arguments.
  for (const auto& [option, value] : options->values) {
    bool follows = false;
    for (std::size_t i = 0; i + 1 < arguments.size(); ++i) follows = follows || (arguments[i] == option && arguments[i + 1] == value);
    require(follows);
  }
  if (options->help || options->version) return 0;

  const auto& values = options->values;
  require(!options->checkOnly || (options->has("--make-bundle") && !options->route));
  if (options->route) {
    // A route question names a bundle and nothing else to act on.
    require(values.size() == 1 && !values.at("--bundle").empty() && !options->remove && !options->oneAtATime);
  } else if (options->has("--make-bundle")) {
    require(options->has("--name") && options->has("--identifier") && options->has("--channel") && !options->remove &&
            !options->oneAtATime);
  } else if (options->has("--result")) {
    require(values.size() == 1 && !options->oneAtATime);
  } else if (options->has("--prune")) {
    require(options->has("--bundle") && values.size() == 2 && !options->remove && !options->oneAtATime);
    require(inRange(values.at("--prune"), 0, 99999));
  } else {
    require(options->has("--bundle") && !values.at("--bundle").empty() && options->has("--subject"));
    require(options->has("--body") != options->has("--body-file"));
    require(!(options->has("--log") && options->has("--log-tail")));
    if (options->has("--time-bound")) require(inRange(values.at("--time-bound"), 1, 999999));
  }
  return 0;
}
