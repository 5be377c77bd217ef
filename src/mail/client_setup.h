// Whether a known mail client can show a composer for the draft right now,
// read from its own configuration and state: a client never set up shows
// its account assistant instead, Thunderbird may ask which profile to use,
// or hold its profile in another session where the request cannot reach
// it, and a web browser composes only through a web mailer chosen in its
// own settings. The decisions here are pure: what they read comes through
// ClientFiles, which the program backs with the user's files
// (client_setup_files.h) and tests with trees they make up.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "mail/draft_route.h"

namespace mail {

// Where a file lies: under the home, or under the XDG configuration or
// data home (which may lie elsewhere).
enum class FileBase { Home, ConfigHome, DataHome };

struct ConfigFile {
  enum class State {
    Missing,     // nothing there
    Text,        // read whole into `text`
    Unreadable,  // there, but not a regular file within its base, too big, or not readable
  };
  State state = State::Missing;
  std::string text;
};

// The identity of a desktop session as a process sees it: its session bus
// and its displays. A client instance is reachable from a job only when both
// run in the same session.
struct SessionIdentity {
  std::string bus;             // DBUS_SESSION_BUS_ADDRESS
  std::string display;         // DISPLAY
  std::string waylandDisplay;  // WAYLAND_DISPLAY
  bool operator==(const SessionIdentity&) const = default;
};

// Who holds a Thunderbird profile.
struct ProfileLock {
  enum class State {
    Free,        // no live lock: a start takes the profile
    HeldHere,    // held by a live process of this machine, `holder` says which session
    HeldUnseen,  // locked, by a process this one cannot see (another machine, another pid namespace)
    Unknown,     // an old-style lock naming a process that is not alive here: stale, or another machine's
  };
  State state = State::Free;
  // For HeldHere: the holder's session, when its environment could be read.
  std::optional<SessionIdentity> holder;
};

// What the decisions may read. Paths are relative to their base, '/'-separated.
class ClientFiles {
 public:
  virtual ~ClientFiles() = default;
  virtual ConfigFile read(FileBase base, const std::string& path) const = 0;
  // The names of the directory's entries, at most a few dozen; empty when
  // it is missing or cannot be listed.
  virtual std::vector<std::string> list(FileBase base, const std::string& path) const = 0;
  // The state of the lock of the Thunderbird profile directory at `path`.
  virtual ProfileLock profileLock(FileBase base, const std::string& path) const = 0;
};

// How the client was installed, which says where it keeps its files.
struct ClientInstall {
  enum class Kind { Native, Snap, Flatpak };
  Kind kind = Kind::Native;
  std::string appId;  // Flatpak: the application id; Snap: the snap's name
};

// How the install is read from the words that start the client (a desktop
// entry's Exec line, or MAILER's program).
ClientInstall installOf(const std::vector<std::string>& exec);

// The web browsers whose mail handling is known.
enum class Browser { None, Firefox, Chromium };

Browser browserForDesktopId(const std::string& desktopId);

struct SetupVerdict {
  enum class Kind {
    Composes,       // its files say it shows a composer for the draft
    CannotCompose,  // it would show something else, or nothing: start nothing
    Unknown,        // its files cannot tell: start it and trust the grace rule
  };
  Kind kind = Kind::Unknown;
  std::string why;  // for CannotCompose and Unknown
};

// The facts about the job's process that the decisions compare with.
struct JobSession {
  std::string home;  // the user's home, absolute
  SessionIdentity session;
  // MOZ_LEGACY_PROFILES is set: Thunderbird uses the profile marked
  // default in profiles.ini rather than the one of its installation.
  bool legacyProfiles = false;
};

// Whether `client`, installed as `install`, composes a draft now.
SetupVerdict clientSetup(Client client, const ClientInstall& install, const ClientFiles& files,
                         const JobSession& job);

// Whether `browser` hands a mailto: request to a web mailer chosen in its
// own settings (Composes), or would ask the user or fail (CannotCompose).
SetupVerdict browserSetup(Browser browser, const ClientInstall& install, const ClientFiles& files,
                          const JobSession& job);

}  // namespace mail
