// Splits script source into tokens: words, text literals, whole numbers,
// symbols and line ends. Comments, blanks and continued line ends leave no
// token behind.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace scripting {

struct Token {
  enum class Kind {
    Word,        // identifier or keyword, folded to ASCII lower case
    Text,        // text literal, escapes resolved
    Integer,     // whole number literal, possibly negative
    LeftParen,
    RightParen,
    LeftBrace,
    RightBrace,
    Comma,
    Ampersand,
    Equals,
    NotEquals,   // ≠
    LineEnd,
    End,         // end of the source; always the last token
  };
  Kind kind;
  std::string text;  // Word and Text
  std::int64_t integer = 0;
  int line = 1;
};

// Throws ScriptError (kErrorSyntax) for a character that is no part of the
// language, an unterminated text or comment, an unknown escape, a whole
// number out of range, or a continuation mark not followed by a line end.
std::vector<Token> tokenize(std::string_view source);

// How a token reads in an error message.
std::string describe(const Token& token);

}  // namespace scripting
