// Where `run program` looks for a program named without a '/', and the
// environment it hands to the program it starts.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mail {

// The search path when the environment has no PATH, as the C library's own
// look-up uses.
inline constexpr std::string_view kDefaultSearchPath = "/bin:/usr/bin";

// The entries of a colon-separated list of directories (PATH, the XDG
// base directory lists) that start with '/', in their order: a relative or
// empty entry would be taken from the current directory.
std::vector<std::string_view> absoluteDirectories(std::string_view list);

// The absolute entries of a PATH value, in their order, joined by ':'. An
// empty or relative entry names a directory relative to the current
// directory, which whoever started this process chose; such entries are
// dropped, so a program is never found there.
std::string absoluteSearchPath(std::string_view path);

// The files to try, in order, for a program named `name`: the name itself
// when it holds a '/', otherwise the name in each absolute directory of
// `path`. An empty name gives none.
std::vector<std::string> programCandidates(std::string_view name, std::string_view path);

// Whether one of programCandidates(name, path) is a regular file this
// process may execute.
bool isInstalledProgram(std::string_view name, std::string_view path);

// The value of the first entry NAME=value of `environment` (the one getenv
// finds); nothing when there is none.
std::optional<std::string_view> environmentValue(const std::vector<std::string>& environment, std::string_view name);

// The PATH value a look-up uses: the environment's PATH, or
// kDefaultSearchPath when there is none.
std::string_view searchPathOf(const std::vector<std::string>& environment);

// The environment for a started program: every entry as given, except that
// PATH appears once, at the place of its first entry, with only its absolute
// directories (a started program, often a shell script, looks up programs of
// its own through it).
std::vector<std::string> handedOnEnvironment(const std::vector<std::string>& environment);

}  // namespace mail
