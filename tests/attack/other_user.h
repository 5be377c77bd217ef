// The attacker who is another user: this harness started again as a child
// process, which takes that user's ids and plants links to the decoy beside the entries of the job's path and
// keeps exchanging them, wherever the directories' modes let that user
// write. In a directory closed to it, it cannot plant anything and does
// nothing there; what the kernel allows it is exactly what the modes allow.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/child_process.h"
#include "setup.h"
#include "swapper.h"

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

// The argument that starts the harness as the attacker, and the attacker's
// side, which reads the rest of the command line; it returns the exit status.
inline constexpr std::string_view kOtherUserMode = "--other-user-attacker";
int runOtherUserAttacker(int argc, char** argv);

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
  platform::Child child_;
  bool running_ = false;
  Fd stop_;    // closing it tells the attacker to stop
  Fd report_;  // what the attacker reports back
  unsigned planted_ = 0;
  std::uint64_t swaps_ = 0;
};

}  // namespace attack
