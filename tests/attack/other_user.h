// The attacker who is another user: a child process with that user's ids
// that plants links to the decoy beside the entries of the job's path and
// keeps exchanging them, wherever the directories' modes let that user
// write. In a directory closed to it, it cannot plant anything and does
// nothing there; what the kernel allows it is exactly what the modes allow.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "swapper.h"
#include "setup.h"

namespace attack {

// One entry the attacker tries to replace: `name` in the directory `parent`
// (a descriptor, inherited by the child) trades places with a link to
// `target` that the attacker plants beside it in the same directory.
struct Lure {
  int parent = -1;
  std::string name;
  std::string target;
  std::string label;  // for error messages
};

class OtherUserAttacker {
 public:
  // Starts the attacker as uid/gid and returns once it has planted what it
  // could and begun swapping.
  OtherUserAttacker(uid_t uid, gid_t gid, const std::vector<Lure>& lures, Timing timing);
  ~OtherUserAttacker();  // stops, if still running
  OtherUserAttacker(const OtherUserAttacker&) = delete;
  OtherUserAttacker& operator=(const OtherUserAttacker&) = delete;

  // Stops the attacker; every entry is back in place and its links are
  // gone afterwards. Fails (throws) when a swap went wrong.
  void stop();

  // How many of the lures the modes let it plant.
  unsigned planted() const { return planted_; }
  // Swaps done, known once stopped.
  std::uint64_t swapsDone() const { return swaps_; }

 private:
  pid_t pid_ = -1;
  Fd stop_;    // closing it tells the attacker to stop
  Fd report_;  // what the attacker reports back
  unsigned planted_ = 0;
  std::uint64_t swaps_ = 0;
};

}  // namespace attack
