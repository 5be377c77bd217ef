#include "swapper.h"

#include <cerrno>
#include <cstdio>  // renameat2, RENAME_EXCHANGE
#include <cstring>

namespace attack {
namespace {

// Atomic: at every instant each name holds one of the two items.
bool exchange(const Swap& swap) {
  return ::renameat2(swap.parent, swap.name.c_str(), swap.stage, swap.alternative.c_str(), RENAME_EXCHANGE) ==
         0;
}

// Busy rounds rather than sleeps: a sleep is far longer than the program's
// whole check-then-use window.
void spin(unsigned rounds) {
  for (unsigned i = 0; i < rounds; ++i) {
    asm volatile("" ::: "memory");  // keeps the loop from being optimised away
  }
}

}  // namespace

Swapper::Swapper(const std::vector<Swap>& swaps, Timing timing)
    : plan_(swaps), timing_(timing), thread_([this] { run(); }) {}

Swapper::~Swapper() {
  stop();
}

void Swapper::stop() {
  stopping_.store(true);
  if (thread_.joinable()) thread_.join();
}

void Swapper::run() {
  if (plan_.empty()) return;
  std::size_t next = 0;
  while (!stopping_.load(std::memory_order_relaxed)) {
    const Swap& swap = plan_[next];
    next = (next + 1) % plan_.size();
    if (!exchange(swap)) {
      error_ = "swap " + swap.label + ": " + std::strerror(errno);
      return;
    }
    spin(timing_.badRounds);
    // Exchanging again undoes the swap, so the tree is whole between swaps
    // and after the last one.
    if (!exchange(swap)) {
      error_ = "swap back " + swap.label + ": " + std::strerror(errno);
      return;
    }
    swaps_.fetch_add(1, std::memory_order_relaxed);
    spin(timing_.goodRounds);
  }
}

}  // namespace attack
