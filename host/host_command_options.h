// The options of support-draft-host, read from its arguments without acting
// on any of them, so that a test or a fuzz target can read them too.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace host_command {

struct Options {
  std::map<std::string, std::string> values;  // each option that takes a value, once
  bool remove = false;
  bool help = false;
  bool version = false;
  bool checkOnly = false;
  bool oneAtATime = false;  // refuse while another job of the bundle runs

  bool has(const std::string& option) const { return values.count(option) != 0; }
};

// A whole number of at most `digits` digits, at least `least`.
std::optional<long> wholeNumber(const std::string& text, std::size_t digits, long least);

// The options, or a usage error message in `error`: an unknown option, one
// without its value or given twice, or a combination the command does not
// take (--make-bundle with its own options, --result alone, --prune with
// --bundle alone, otherwise --bundle, --subject and exactly one body, at
// most one log, a time bound in range).
std::optional<Options> parseOptions(const std::vector<std::string>& arguments, std::string& error);

}  // namespace host_command
