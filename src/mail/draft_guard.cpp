#include "mail/draft_guard.h"

#include <thread>

#include "platform/exclusive_lock.h"

namespace mail {

std::optional<ClientTurn> ClientTurn::take(const std::string& runtimeDirectory, std::chrono::milliseconds patience) {
  auto file = platform::openLockFile(runtimeDirectory, kClientTurnFileName);
  if (!file) return std::nullopt;
  // flock has no timeout of its own; the holder is another job that ends
  // within its own bounded waits, so a short poll costs little.
  constexpr std::chrono::milliseconds kPoll{20};
  const auto deadline = std::chrono::steady_clock::now() + patience;
  while (!platform::tryLockExclusive(*file)) {
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(kPoll);
  }
  return ClientTurn(std::move(*file));
}

}  // namespace mail
