// The attacker: a thread that keeps exchanging names in the job's path with
// planted alternatives while the program runs, each swap one atomic
// renameat2(RENAME_EXCHANGE), and puts everything back when told to stop.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace attack {

// One swap: `name` in the directory `parent` trades places with `alternative`
// in the staging directory. Both are descriptors of the real directories, so
// a swap stays put even while an ancestor is itself swapped out for a link.
struct Swap {
  int parent = -1;
  std::string name;
  int stage = -1;
  std::string alternative;
  std::string label;  // for error messages
};

// How long each state holds, in busy-loop rounds; the good state has to be
// present often enough for some runs to get all the way through.
struct Timing {
  unsigned goodRounds = 0;
  unsigned badRounds = 0;
};

class Swapper {
 public:
  Swapper(const std::vector<Swap>& swaps, Timing timing);
  ~Swapper();  // stops, if still running
  Swapper(const Swapper&) = delete;
  Swapper& operator=(const Swapper&) = delete;

  // Stops the thread; every swapped name is back in place afterwards.
  void stop();
  std::uint64_t swapsDone() const { return swaps_.load(); }
  // Empty, or what went wrong with a swap (the tree may be out of order then).
  const std::string& error() const { return error_; }

 private:
  void run();

  const std::vector<Swap>& plan_;
  Timing timing_;
  std::atomic<bool> stopping_{false};
  std::atomic<std::uint64_t> swaps_{0};
  std::string error_;
  std::thread thread_;
};

}  // namespace attack
