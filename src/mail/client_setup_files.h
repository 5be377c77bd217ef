// The user's own files behind ClientFiles: read only, bounded, never
// written, and never through a link that leads out of the directory they
// are read under (the home, or the XDG configuration or data home).
#pragma once

#include <string>

#include "mail/client_setup.h"

namespace mail {

// Where the files' bases lie; each absolute, or "" when unknown (nothing
// is read under it).
struct ClientFileBases {
  std::string home;
  std::string configHome;  // XDG_CONFIG_HOME, else ~/.config
  std::string dataHome;    // XDG_DATA_HOME, else ~/.local/share
};

class UserClientFiles final : public ClientFiles {
 public:
  explicit UserClientFiles(ClientFileBases bases) : bases_(std::move(bases)) {}

  // A regular file of at most kMaxConfigFileSize bytes whose path, its
  // links resolved, stays under its base; a path with ".." or too many
  // components is not looked at (Unreadable).
  ConfigFile read(FileBase base, const std::string& path) const override;
  std::vector<std::string> list(FileBase base, const std::string& path) const override;
  // The POSIX lock of the profile's .parentlock, and its older form, the
  // link `lock` whose target is "ADDRESS:PID" ("+PID" when the POSIX lock
  // stands beside it); a live holder's session is read from its environment.
  ProfileLock profileLock(FileBase base, const std::string& path) const override;

  static constexpr std::size_t kMaxConfigFileSize = 1024 * 1024;
  static constexpr std::size_t kMaxListed = 64;

 private:
  std::string resolvedUnder(FileBase base, const std::string& path) const;
  ClientFileBases bases_;
};

// The session named by a process environment (NUL-separated NAME=value).
SessionIdentity sessionOfEnvironment(std::string_view environment);

}  // namespace mail
