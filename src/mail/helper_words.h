// What the program hands the bundle's helpers (the portal helper, the
// terminal helper) out of sight of other users: a list of words, each
// ended by a NUL byte, read from a descriptor rather than from the
// helper's arguments, which every local user can read in /proc for as long
// as the helper runs.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mail {

// The most a list may take: four texts of a job, or a client's command
// with them, fit well within it.
inline constexpr std::size_t kMaxHelperWordsSize = 256 * 1024;

// The words, each followed by a NUL byte; nothing when a word holds a NUL
// byte itself or the whole is larger than kMaxHelperWordsSize.
std::optional<std::string> packWords(const std::vector<std::string>& words);

// The words of `bytes`; nothing when the bytes do not end with a NUL byte
// (a list cut short), are larger than kMaxHelperWordsSize, or hold more
// than `maxWords` words.
std::optional<std::vector<std::string>> unpackWords(std::string_view bytes, std::size_t maxWords);

}  // namespace mail
