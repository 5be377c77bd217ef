// Feeds arbitrary bytes (XML or binary property lists, or neither) to the
// information dictionary reader, walks what it gives, and maps every value
// to JSON as the self-check does with the display name. Nothing here may
// crash; a value that has a JSON form must survive the serialiser.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/info_dictionary.h"
#include "platform/json.h"
#include "platform/text.h"

namespace {

// The reader refuses a tree nested deeper than 64 levels below the top; a
// little slack keeps this check about "bounded", not about the exact number.
constexpr int kDepthBound = 70;

void require(bool condition) {
  if (!condition) __builtin_trap();
}

// True when `value` holds, anywhere inside it, something without a JSON
// form: a date, a data value or a real that is not finite.
bool hasNoJsonForm(const platform::PlistValue& value, int depth) {
  require(depth <= kDepthBound);
  if (value.as<platform::PlistDate>() || value.as<platform::PlistData>()) return true;
  if (const auto* real = value.as<double>()) return !std::isfinite(*real);
  bool missing = false;
  if (const auto* array = value.as<platform::PlistArray>()) {
    for (const auto& item : *array) missing = hasNoJsonForm(item, depth + 1) || missing;
  }
  if (const auto* dict = value.as<platform::PlistDict>()) {
    for (const auto& [key, member] : *dict) missing = hasNoJsonForm(member, depth + 1) || missing;
  }
  return missing;
}

void checkValue(const platform::PlistValue& value) {
  const bool expectNone = hasNoJsonForm(value, 0);
  const auto json = platform::jsonFromPlist(value);
  require(json.has_value() != expectNone);
  if (!json) return;

  // A text read from a property list need not be valid UTF-8; then there is
  // no JSON text, and that is all.
  const auto text = platform::serializeJson(*json);
  if (!text) return;
  require(platform::isValidUtf8(*text));
  const auto again = platform::parseJson(*text);
  require(again.has_value() && *again == *json);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const platform::PlistDict dictionary = platform::parseInfoDictionary(bytes);

  for (const auto& [key, value] : dictionary) checkValue(value);
  checkValue(platform::PlistValue{dictionary});
  return 0;
}
