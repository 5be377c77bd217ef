// Binary property lists laid out byte by byte, for tests that need shapes
// no writer produces: arrays nested thousands deep, or objects referenced
// from several places so that the tree grows far beyond the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace testing_support {

inline std::string bigEndian(std::uint64_t value, int width) {
  std::string out;
  for (int shift = (width - 1) * 8; shift >= 0; shift -= 8) out += static_cast<char>((value >> shift) & 0xFF);
  return out;
}

// An object marker of `type` (high nibble) with its count, in the nibble or
// in a two-byte integer after it.
inline std::string countedMarker(unsigned type, std::size_t count) {
  if (count < 15) return std::string(1, static_cast<char>(type << 4 | count));
  return std::string(1, static_cast<char>(type << 4 | 0xF)) + '\x11' + bigEndian(count, 2);
}

inline std::string asciiStringObject(std::string_view text) {
  return countedMarker(0x5, text.size()) + std::string(text);
}

// An array (0xA) or a dictionary (0xD, keys first, then values) holding
// two-byte object references.
inline std::string containerObject(unsigned type, const std::vector<std::uint16_t>& references) {
  std::string out = countedMarker(type, type == 0xD ? references.size() / 2 : references.size());
  for (std::uint16_t reference : references) out += bigEndian(reference, 2);
  return out;
}

// The whole file: header, the objects in order, a table of four-byte
// offsets, and the trailer naming object `top` (two-byte references).
inline std::string binaryPlist(const std::vector<std::string>& objects, std::uint64_t top = 0) {
  std::string file = "bplist00";
  std::string offsets;
  for (const std::string& object : objects) {
    offsets += bigEndian(file.size(), 4);
    file += object;
  }
  const std::uint64_t tableOffset = file.size();
  file += offsets;
  file += std::string(6, '\0') + '\x04' + '\x02';
  file += bigEndian(objects.size(), 8) + bigEndian(top, 8) + bigEndian(tableOffset, 8);
  return file;
}

// An information dictionary with an ordinary display name, identifier and
// channel ("dev"), and a key "Nested" holding `levels` arrays one inside
// the other, each holding the next `copies` times (the innermost is empty).
// The top dictionary is level 0, so the innermost array sits at `levels`.
inline std::string infoWithNestedArrays(std::size_t levels, std::size_t copies = 1) {
  std::vector<std::string> objects = {
      containerObject(0xD, {1, 2, 3, 4, 5, 6, 7, 8}),
      asciiStringObject("CFBundleDisplayName"),
      asciiStringObject("CFBundleIdentifier"),
      asciiStringObject("QuorvelChannel"),
      asciiStringObject("Nested"),
      asciiStringObject("Quorvel Support Draft"),
      asciiStringObject("com.quorvel.support-draft"),
      asciiStringObject("dev"),
  };
  for (std::size_t level = 1; level <= levels; ++level) {
    const auto next = static_cast<std::uint16_t>(objects.size() + 1);
    objects.push_back(containerObject(0xA, level == levels ? std::vector<std::uint16_t>{}
                                                           : std::vector<std::uint16_t>(copies, next)));
  }
  return binaryPlist(objects);
}

// The information dictionary of a packaged bundle with the given channel,
// in the binary format: the same keys and values as the XML one the process
// tests write.
inline std::string binaryStandardInfo(std::string_view channel) {
  return binaryPlist({
      containerObject(0xD, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}),
      asciiStringObject("CFBundleDisplayName"),
      asciiStringObject("CFBundleIdentifier"),
      asciiStringObject("CFBundleExecutable"),
      asciiStringObject("CFBundlePackageType"),
      asciiStringObject("LSUIElement"),
      asciiStringObject("QuorvelChannel"),
      asciiStringObject("Quorvel Support Draft"),
      asciiStringObject("com.quorvel.support-draft"),
      asciiStringObject("support-draft"),
      asciiStringObject("APPL"),
      std::string(1, '\x09'),  // true
      asciiStringObject(channel),
  });
}

}  // namespace testing_support
