// Desktop entries: finding one by its desktop id along the XDG data
// directories, and reading the two keys that say how it starts.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mail {

struct DesktopEntry {
  std::vector<std::string> exec;  // the Exec line as words; field codes kept as words
  bool terminal = false;          // Terminal=true
};

// The XDG data directories in order of precedence: XDG_DATA_HOME (default
// ~/.local/share), then XDG_DATA_DIRS (default /usr/local/share:/usr/share).
// Relative entries are ignored, as the base directory rules require.
std::vector<std::string> dataDirectories(const char* dataHome, const char* dataDirs, const std::string& home);

// The paths where the entry with `desktopId` may lie under one applications
// directory: the id itself, then with one '-' read as a subdirectory
// ("kde4-kmail.desktop" as kde4/kmail.desktop).
std::vector<std::string> entryCandidates(const std::string& applicationsDir, const std::string& desktopId);

// The Exec and Terminal keys of the [Desktop Entry] group of `text`.
// Nothing when there is no Exec key, its quoting is broken, its first word
// is empty or a field code, or the text holds a NUL byte.
//
// Only these two keys are read, so the reading stays this small: lines of
// the group, the string escapes (\s \n \t \r \\), then the Exec quoting
// (double quotes, inside which \" \` \$ \\ stand for the character).
std::optional<DesktopEntry> parseDesktopEntry(std::string_view text);

// The first entry for `desktopId` along `directories` that can be read.
std::optional<DesktopEntry> findDesktopEntry(const std::vector<std::string>& directories,
                                             const std::string& desktopId);

}  // namespace mail
