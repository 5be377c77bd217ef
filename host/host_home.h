// The home directory a host's jobs go under.
#pragma once

#include <optional>
#include <string>

#include "reason_codes.h"

namespace support_draft::host_side {

// The home directory for a place, standardised: the given one, or HOME or
// the password entry when `home` is empty, as the program finds it. Its
// path must be UTF-8 and not "/": the job directory's path is printed and
// written as JSON text.
std::optional<std::string> homeFor(const std::string& home, Refusal& refusal);

}  // namespace support_draft::host_side
