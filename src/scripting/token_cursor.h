// Reading position in a token list, with the checks and error reports that
// the parsers share.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "scripting/command.h"
#include "scripting/lexer.h"

namespace scripting {

// Nesting of parentheses, lists, calls, prefix operators and blocks beyond
// this is a syntax error, so that no source can exhaust the stack of the
// parser or of the evaluator.
constexpr int kMaxSyntaxNesting = 128;

// Words that cannot name a variable, parameter or handler.
bool isReserved(std::string_view word);

class TokenCursor {
 public:
  // `commands` are the commands the source may use; they must outlive the
  // cursor.
  TokenCursor(std::vector<Token> tokens, const CommandTable& commands)
      : tokens_(std::move(tokens)), commands_(commands) {}

  const CommandTable& commands() const { return commands_; }

  // Counts one level of nesting while it lives; kErrorSyntax past the limit.
  class Nested {
   public:
    explicit Nested(TokenCursor& cursor);
    ~Nested() { --cursor_.depth_; }
    Nested(const Nested&) = delete;
    Nested& operator=(const Nested&) = delete;

   private:
    TokenCursor& cursor_;
  };

  // The token `ahead` places on; the end token once past the end.
  const Token& peek(std::size_t ahead = 0) const;
  bool at(Token::Kind kind) const { return peek().kind == kind; }
  bool atWord(std::string_view word, std::size_t ahead = 0) const {
    return peek(ahead).kind == Token::Kind::Word && peek(ahead).text == word;
  }
  bool atLineEnd() const { return at(Token::Kind::LineEnd) || at(Token::Kind::End); }

  // The current token, moving past it.
  const Token& next();
  bool accept(Token::Kind kind);
  bool acceptWord(std::string_view word);

  // Raise kErrorUnexpectedWord, naming what was expected and what is here.
  [[noreturn]] void unexpected(std::string_view expected) const;
  void expect(Token::Kind kind, std::string_view what);
  void expectWord(std::string_view word);
  // A line end, or the end of the source.
  void expectLineEnd();
  // A word that is not reserved.
  std::string identifier();

 private:
  std::vector<Token> tokens_;
  const CommandTable& commands_;
  std::size_t pos_ = 0;
  int depth_ = 0;
};

}  // namespace scripting
