// Reading a bundle's information dictionary (XML or binary property list).
#pragma once

#include <string_view>

#include "platform/plist_value.h"

namespace platform {

// The top-level dictionary of the property list in `bytes`. Anything that is
// not a property list with a dictionary at its top gives an empty dictionary,
// as a missing or unreadable Info.plist does.
PlistDict parseInfoDictionary(std::string_view bytes);

}  // namespace platform
