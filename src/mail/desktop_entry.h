// Desktop entries: finding one by its desktop id along the XDG data
// directories, and reading the keys that say how it starts.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "mail/exec_line.h"

namespace mail {

struct DesktopEntry {
  std::vector<ExecWord> exec;  // the Exec line as words (exec_line.h)
  bool terminal = false;       // Terminal=true
  std::string tryExec;         // TryExec: the program that must be installed; "" when none
};

// The XDG data directories in order of precedence: XDG_DATA_HOME (default
// ~/.local/share), then XDG_DATA_DIRS (default /usr/local/share:/usr/share).
// Relative entries are ignored, as the base directory rules require.
std::vector<std::string> dataDirectories(const char* dataHome, const char* dataDirs, const std::string& home);

// The paths where the entry with `desktopId` may lie under one applications
// directory: the id itself, then with one '-' read as a subdirectory
// ("kde4-kmail.desktop" as kde4/kmail.desktop).
std::vector<std::string> entryCandidates(const std::string& applicationsDir, const std::string& desktopId);

// The keys of the [Desktop Entry] group of `text` that say how it starts
// (Exec, Terminal, TryExec, and Name and Icon for Exec's field codes), the
// entry lying at `location` (%k). Nothing when there is no Exec key or it
// breaks the rules: a string escape other than \s \n \t \r \\, or the
// Exec rules of parseExecLine; nor when the text holds a NUL byte.
std::optional<DesktopEntry> parseDesktopEntry(std::string_view text, const std::string& location = "");

// The first entry for `desktopId` along `directories` that can be read.
// Nothing when that one breaks the rules, or names a TryExec program that
// is not installed along `searchPath` (a PATH value): such an entry is not
// used.
std::optional<DesktopEntry> findDesktopEntry(const std::vector<std::string>& directories,
                                             const std::string& desktopId, std::string_view searchPath);

}  // namespace mail
