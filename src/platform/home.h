// What the process knows of the current user's home directory.
#pragma once

#include <optional>
#include <string>

namespace platform {

// What the process knows of its home: HOME, and the home of the effective
// user's password entry. The password entry is only read when HOME holds no
// absolute path, since only then is it used.
struct HomeFacts {
  std::optional<std::string> homeVariable;
  std::optional<std::string> passwordHome;
};
HomeFacts homeFacts();

}  // namespace platform
