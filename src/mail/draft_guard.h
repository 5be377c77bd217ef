// One client start at a time per user. Two jobs that reach one mail client
// at once race: a second request forwarded while the first instance is
// still starting, or busy with the first composer, can be dropped (Claws
// Mail opened only the first of two drafts sent 50 ms apart). A job holds
// its turn from before the client starts until its grace wait ends; the
// next waits for it.
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "platform/unique_fd.h"

namespace mail {

class ClientTurn {
 public:
  // The user's turn, taken through a lock file in the private runtime
  // directory `runtimeDirectory`, waiting at most `patience` for a job that
  // holds it. Nothing when the lock file cannot be had, or the wait ran out.
  static std::optional<ClientTurn> take(const std::string& runtimeDirectory, std::chrono::milliseconds patience);

 private:
  explicit ClientTurn(platform::UniqueFd file) : file_(std::move(file)) {}
  platform::UniqueFd file_;
};

// The lock file's name in the runtime directory.
inline constexpr std::string_view kClientTurnFileName = "support-draft.lock";

// How long a job waits for its turn: longer than a job holds it (a start,
// at most two more for Balsa, each with its grace), short enough for a host
// whose command is bounded to 30 seconds.
inline constexpr std::chrono::milliseconds kClientTurnPatience{20'000};

}  // namespace mail
