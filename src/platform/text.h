// Text equality under Unicode canonical equivalence, and ASCII case
// folding for names that ignore case.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// True when `text` is well-formed UTF-8 (no overlong forms, no surrogates,
// nothing above U+10FFFF).
bool isValidUtf8(std::string_view text);

// True when the two texts are canonically equivalent: a precomposed letter
// equals its decomposed form. No case folding, no trimming. A text that is
// not valid UTF-8 equals only the very same bytes.
bool canonicallyEqual(std::string_view a, std::string_view b);

// True when `text` begins with `prefix` as a text: under canonical
// equivalence, and only where a character ends, so a combining mark right
// after the prefix makes its last character a different one.
bool hasTextPrefix(std::string_view text, std::string_view prefix);

// True when `text` is valid UTF-8 and every character in it is one a
// person can see or a plain space: no control character (C0, DEL, C1), no
// line or paragraph separator, no invisible format character (bidirectional
// overrides, zero-width joiners), no surrogate, private-use or unassigned
// code point.
bool isPrintableText(std::string_view text);

// True when the first character of `text` (valid UTF-8) is a blank of any
// kind: a space separator such as U+0020 or U+00A0.
bool startsWithBlank(std::string_view text);

// `text` with A-Z turned into a-z and every other byte kept: script words
// and handler names, and desktop ids, are compared this way.
std::string foldAsciiCase(std::string text);

}  // namespace platform
