// The program's end of the private channel through which the client helper
// (Contents/MacOS/support-draft-terminal), run by a terminal or by the
// user's own wrapper, reports whether the client started and how it ended.
// The channel is a listening socket in a directory of unguessable name,
// mode 0700, made in XDG_RUNTIME_DIR, never in the job directory; only a
// peer running as this user is heard, and only what the fixed protocol
// (client_report.h) allows is read.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/child_process.h"
#include "mail/client_report.h"
#include "platform/unique_fd.h"

namespace mail {

// Whether `path` (XDG_RUNTIME_DIR) is an absolute directory, not a link,
// owned by this user and closed to everyone else, short enough for a
// socket address to be made in it.
bool isPrivateRuntimeDirectory(const char* path);

class ReportChannel {
 public:
  // A new directory in `runtimeDirectory` with the listening socket in it,
  // through which the helper will be handed `clientCommand`; nothing when
  // the runtime directory is not private, either cannot be made, or the
  // command cannot be handed on (goAheadMessage).
  static std::optional<ReportChannel> open(const char* runtimeDirectory, const std::vector<std::string>& clientCommand);

  ReportChannel(ReportChannel&& other) noexcept;
  ReportChannel& operator=(ReportChannel&&) = delete;
  ReportChannel(const ReportChannel&) = delete;
  ReportChannel& operator=(const ReportChannel&) = delete;
  // Closes the socket and removes it and its directory.
  ~ReportChannel();

  // The socket's path, handed to the helper.
  const std::string& address() const { return address_; }

  // What the helper said by the end of the grace, when `graceOver` becomes
  // readable (Launcher::timer). Accepts the first peer running as this user
  // and tells it to go ahead with the client's command; refuses others.
  // Returns as soon as the report is final (the client ended, could not
  // start, the helper went away or broke the protocol), or when the
  // launcher (the terminal, started detached: `launcherEnded` is its
  // descriptor) ends with a failure before any helper was heard. At the
  // end of the grace a client that was started and has not ended is told
  // that it counts as opened.
  struct Heard {
    ClientReport report;
    std::optional<platform::ChildWait> launcherFailure;  // the launcher failed before any helper was heard
  };
  Heard await(int launcherEnded, int graceOver);

 private:
  ReportChannel(std::string directory, std::string address, platform::UniqueFd listener, std::string goAhead)
      : directory_(std::move(directory)), address_(std::move(address)), listener_(std::move(listener)),
        goAhead_(std::move(goAhead)) {}

  std::string directory_;
  std::string address_;
  platform::UniqueFd listener_;
  std::string goAhead_;  // goAheadMessage of the client's command
};

}  // namespace mail
