// Reading a bundle's information dictionary (XML or binary property list).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/plist_value.h"

namespace platform {

// The top-level dictionary of the property list in `bytes`. Anything that is
// not a property list with a dictionary at its top gives an empty dictionary,
// as a missing or unreadable Info.plist does.
PlistDict parseInfoDictionary(std::string_view bytes);

// The XML property list of a dictionary of texts and truth values, as a
// bundle's Info.plist; nothing when it holds a value of another type or a
// text with U+0000, which the XML form cannot carry.
std::optional<std::string> infoDictionaryXml(const PlistDict& info);

}  // namespace platform
