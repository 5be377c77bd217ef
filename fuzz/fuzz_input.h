// What the fuzz targets share: stopping at a broken invariant, and cutting
// one input into the several texts a parser is handed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace fuzz_input {

// A broken invariant stops the run where libFuzzer records the input.
inline void require(bool condition) {
  if (!condition) __builtin_trap();
}

inline std::string_view bytesOf(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// The input cut at NUL bytes, which none of the texts these parsers are
// handed (environment values, arguments, file names) can hold. Always at
// least one piece.
inline std::vector<std::string> piecesAtNul(std::string_view input) {
  std::vector<std::string> pieces;
  while (true) {
    const std::size_t end = input.find('\0');
    pieces.emplace_back(input.substr(0, end));
    if (end == std::string_view::npos) return pieces;
    input.remove_prefix(end + 1);
  }
}

// The piece at `index`, or "" past the end.
inline const std::string& pieceOr(const std::vector<std::string>& pieces, std::size_t index) {
  static const std::string kNone;
  return index < pieces.size() ? pieces[index] : kNone;
}

// One byte of switches taken off the front of a piece: bit `n` of it.
inline bool flag(std::string_view switches, int n) {
  return !switches.empty() && ((static_cast<unsigned char>(switches.front()) >> n) & 1) != 0;
}

}  // namespace fuzz_input
