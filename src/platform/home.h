// The current user's home directory.
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

// The decision: HOME when it holds an absolute path, otherwise the password
// entry's home when that is absolute; nothing when neither is.
std::optional<std::string> homeFrom(const HomeFacts& facts);

// homeFrom(homeFacts()).
std::optional<std::string> homeDirectory();

}  // namespace platform
