// What a Flatpak sandbox's /.flatpak-info says about the way out of it: may
// the application ask the Flatpak session service to run a command on the
// host, and where do its own files (/app inside) lie on the host. A pure
// reading of the file's text; mail_facts.h reads the file.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace mail {

// The file is written by Flatpak when the sandbox starts and is read-only
// inside it; a real one is a few kilobytes. A larger one is not read.
inline constexpr std::size_t kMaxFlatpakInfoSize = 64 * 1024;

// The Flatpak session service, whose Development interface runs commands
// on the host.
inline constexpr std::string_view kFlatpakServiceName = "org.freedesktop.Flatpak";

struct FlatpakInfo {
  // The sandbox may talk to kFlatpakServiceName on the session bus: its
  // [Session Bus Policy] grants `talk` or `own` for that name, by the name
  // itself or a `prefix.*` pattern covering it, or [Context] sockets gives
  // the whole session bus (no filtering proxy).
  bool mayTalkToFlatpakService = false;
  // [Instance] app-path: the host path of the files mounted at /app; empty
  // when absent, empty or not a plain absolute path.
  std::string appPath;
};

// Reads the text as GLib's key files are read, failing closed: a line that
// is neither a comment, a group header nor KEY=VALUE, text that is not
// UTF-8, a NUL byte or a broken escape make the whole file say nothing
// (no grant, no path). Within a group the last of repeated keys counts, and
// a group named twice is one group, as Flatpak itself reads the file.
FlatpakInfo readFlatpakInfo(std::string_view text);

// Where `sandboxPath`, a file under /app inside the sandbox, lies on the
// host, given the sandbox's app-path; empty when it is not under /app or
// the app-path is unknown.
std::string hostPathOfAppFile(std::string_view sandboxPath, std::string_view appPath);

}  // namespace mail
