// Finding and reading the files of the XDG MIME applications rules, and the
// desktop entry of the application they choose. Reading files is all it
// does: no program is asked, no bus is reached, nothing is written, so a
// job that looks up its mail client leaves nothing behind in any session.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "mail/desktop_entry.h"
#include "mail/mime_apps.h"

namespace mail {

// The environment the rules read; an unset variable is "".
struct XdgEnvironment {
  std::string home;            // HOME
  std::string configHome;      // XDG_CONFIG_HOME
  std::string configDirs;      // XDG_CONFIG_DIRS
  std::string dataHome;        // XDG_DATA_HOME
  std::string dataDirs;        // XDG_DATA_DIRS
  std::string currentDesktop;  // XDG_CURRENT_DESKTOP
  std::string searchPath;      // PATH, where an entry's TryExec program is looked for
};

struct DefaultApplication {
  std::string desktopId;
  DesktopEntry entry;
};

// The default application of `mimeType` and its desktop entry, read from
// the disk; nothing when the rules choose none.
//
// The files, in order of precedence: for each configuration directory
// (XDG_CONFIG_HOME, default ~/.config, then XDG_CONFIG_DIRS, default
// /etc/xdg) and each data directory's applications/ (XDG_DATA_HOME, then
// XDG_DATA_DIRS), `<desktop>-mimeapps.list` for each name of
// XDG_CURRENT_DESKTOP in ASCII lower case, then mimeapps.list; a data
// directory adds defaults.list and mimeinfo.cache. Relative directories are
// ignored, as the base directory rules require. An id counts as installed
// when its desktop entry is found along the data directories, has an Exec
// line that keeps the rules, and its TryExec program, if it names one, is
// installed.
//
// Whatever the environment and the files hold, the work stays bounded: the
// first few desktop names and the first 32 directories of each kind count,
// the files together are read up to some megabytes, and an id longer than a
// file name, or any past the first 64 asked about, is taken as not
// installed.
std::optional<DefaultApplication> findDefaultApplication(const XdgEnvironment& environment,
                                                         std::string_view mimeType);

}  // namespace mail
