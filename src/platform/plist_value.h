// A property-list value that keeps its type, as read from a bundle's
// information dictionary.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <variant>
#include <vector>

namespace platform {

struct PlistValue;
using PlistArray = std::vector<PlistValue>;
using PlistDict = std::map<std::string, PlistValue>;

// Seconds since the property-list reference date (2001-01-01 UTC).
struct PlistDate {
  double seconds = 0;
  bool operator==(const PlistDate&) const = default;
};
struct PlistData {
  std::string bytes;
  bool operator==(const PlistData&) const = default;
};

struct PlistValue {
  using Storage = std::variant<std::string, std::int64_t, double, bool, PlistDate, PlistData,
                               PlistArray, PlistDict>;
  Storage value;

  template <typename T>
  const T* as() const {
    return std::get_if<T>(&value);
  }
  bool operator==(const PlistValue&) const = default;
};

}  // namespace platform
