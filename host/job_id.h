// New job ids, drawn at random.
#pragma once

#include <optional>
#include <string>

namespace support_draft::host_side {

// A random UUID (version 4) in canonical lower-case form; nothing when the
// system gives no random bytes.
std::optional<std::string> newJobId();

}  // namespace support_draft::host_side
