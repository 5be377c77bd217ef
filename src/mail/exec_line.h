// The Exec key of a desktop entry, read by the Desktop Entry rules: its
// quoting, escapes and field codes, so that an entry is started with every
// word it holds (a wrapper, a profile option, a terminal) and with its
// target where the entry asks for it.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mail {

// One argument of an Exec line after its quoting is undone. A field code
// that stands for the target (%u %U %f %F) stays as a marker: the URI, or a
// known client's own arguments, take its place when the entry is started.
struct ExecWord {
  std::string text;     // the argument; for a target, its field code ("%u")
  bool target = false;  // the field code of the target
  friend bool operator==(const ExecWord&, const ExecWord&) = default;
};

// The keys of the entry that other field codes expand to.
struct ExecKeys {
  std::string name;      // Name: %c
  std::string icon;      // Icon: %i gives "--icon <icon>", nothing without one
  std::string location;  // the entry's own file: %k
};

// The words of an Exec value whose string escapes (\s \n \t \r \\) are
// already undone. Nothing when the line breaks the rules, which makes the
// entry no way to start anything:
// - arguments are separated by blanks; an argument holding a reserved
//   character (blank, tab, line break, " ' \ > < ~ | & ; $ * ? # ( ) `)
//   must be quoted whole in double quotes, inside which " ` $ \ stand
//   escaped by a backslash and every other character as it is;
// - %% is a literal %, anywhere; %u %U %f %F %i %c %k stand only as a whole
//   unquoted argument, and at most one of %u %U %f %F; the deprecated codes
//   %d %D %n %N %v %m are dropped; any other % sequence is an error;
// - the first argument names the program and is neither empty nor a field
//   code.
std::optional<std::vector<ExecWord>> parseExecLine(std::string_view exec, const ExecKeys& keys);

// The texts of the words, field codes as written.
std::vector<std::string> execTexts(const std::vector<ExecWord>& words);

}  // namespace mail
