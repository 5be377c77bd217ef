#include "scripting/token_cursor.h"

#include <algorithm>
#include <array>

#include "scripting/errors.h"

namespace scripting {

bool isReserved(std::string_view word) {
  static constexpr std::array<std::string_view, 17> kReservedWords = {
      "on", "to", "end", "return", "set", "if", "then", "else", "error",
      "number", "try", "my", "is", "not", "equal", "and", "or"};
  return std::find(kReservedWords.begin(), kReservedWords.end(), word) != kReservedWords.end();
}

TokenCursor::Nested::Nested(TokenCursor& cursor) : cursor_(cursor) {
  if (++cursor_.depth_ > kMaxSyntaxNesting) {
    --cursor_.depth_;
    throw ScriptError{kErrorSyntax, "The script is nested too deeply."};
  }
}

const Token& TokenCursor::peek(std::size_t ahead) const {
  return tokens_[std::min(pos_ + ahead, tokens_.size() - 1)];
}

const Token& TokenCursor::next() {
  const Token& token = tokens_[pos_];
  if (pos_ + 1 < tokens_.size()) ++pos_;
  return token;
}

bool TokenCursor::accept(Token::Kind kind) {
  if (!at(kind)) return false;
  next();
  return true;
}

bool TokenCursor::acceptWord(std::string_view word) {
  if (!atWord(word)) return false;
  next();
  return true;
}

void TokenCursor::unexpected(std::string_view expected) const {
  throw ScriptError{kErrorUnexpectedWord, "Expected " + std::string(expected) + " but found " +
                                              describe(peek()) + " on line " + std::to_string(peek().line) +
                                              "."};
}

void TokenCursor::expect(Token::Kind kind, std::string_view what) {
  if (!accept(kind)) unexpected(what);
}

void TokenCursor::expectWord(std::string_view word) {
  if (!acceptWord(word)) unexpected("“" + std::string(word) + "”");
}

void TokenCursor::expectLineEnd() {
  if (!atLineEnd()) unexpected("end of line");
  accept(Token::Kind::LineEnd);
}

std::string TokenCursor::identifier() {
  if (!at(Token::Kind::Word) || isReserved(peek().text)) unexpected("a name");
  return next().text;
}

}  // namespace scripting
