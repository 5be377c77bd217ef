#include "scripting/lexer.h"

#include <charconv>

#include "scripting/errors.h"
#include "platform/text.h"

namespace scripting {
namespace {

constexpr std::string_view kContinuation = "\xC2\xAC";  // ¬
constexpr std::string_view kNotEqualSign = "\xE2\x89\xA0";  // ≠

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isWordStart(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }
bool isWordPart(char c) { return isWordStart(c) || isDigit(c); }

[[noreturn]] void syntaxError(int line, const std::string& what) {
  throw ScriptError{kErrorSyntax, "Syntax error on line " + std::to_string(line) + ": " + what};
}

class Lexer {
 public:
  explicit Lexer(std::string_view source) : s_(source) {}

  std::vector<Token> run() {
    while (pos_ < s_.size()) step();
    tokens_.push_back(Token{Token::Kind::End, {}, 0, line_});
    return std::move(tokens_);
  }

 private:
  bool startsWith(std::string_view prefix) const { return s_.substr(pos_).starts_with(prefix); }

  void emit(Token::Kind kind, std::string text = {}, std::int64_t integer = 0) {
    tokens_.push_back(Token{kind, std::move(text), integer, line_});
  }

  // Consumes one line break (LF, CR or CR LF) if there is one here.
  bool lineBreak() {
    if (startsWith("\r\n")) {
      pos_ += 2;
    } else if (startsWith("\n") || startsWith("\r")) {
      pos_ += 1;
    } else {
      return false;
    }
    ++line_;
    return true;
  }

  void step() {
    const char c = s_[pos_];
    if (c == ' ' || c == '\t') {
      ++pos_;
    } else if (lineBreak()) {
      emit(Token::Kind::LineEnd);
    } else if (startsWith("--") || c == '#') {
      while (pos_ < s_.size() && s_[pos_] != '\n' && s_[pos_] != '\r') ++pos_;
    } else if (startsWith("(*")) {
      blockComment();
    } else if (startsWith(kContinuation)) {
      continuation();
    } else if (startsWith(kNotEqualSign)) {
      pos_ += kNotEqualSign.size();
      emit(Token::Kind::NotEquals);
    } else if (c == '"') {
      text();
    } else if (isDigit(c) || (c == '-' && pos_ + 1 < s_.size() && isDigit(s_[pos_ + 1]))) {
      integer();
    } else if (isWordStart(c)) {
      word();
    } else {
      symbol(c);
    }
  }

  void blockComment() {
    const int startLine = line_;
    int depth = 0;
    do {
      if (pos_ >= s_.size()) syntaxError(startLine, "the comment is not closed.");
      if (startsWith("(*")) {
        ++depth;
        pos_ += 2;
      } else if (startsWith("*)")) {
        --depth;
        pos_ += 2;
      } else if (!lineBreak()) {
        ++pos_;
      }
    } while (depth > 0);
  }

  // The continuation mark joins the next line to this one: only blanks may
  // stand between it and the line break.
  void continuation() {
    pos_ += kContinuation.size();
    while (pos_ < s_.size() && (s_[pos_] == ' ' || s_[pos_] == '\t')) ++pos_;
    if (!lineBreak()) syntaxError(line_, "a line end must follow the continuation mark.");
  }

  void text() {
    const int startLine = line_;
    std::string value;
    ++pos_;
    for (;;) {
      if (pos_ >= s_.size()) syntaxError(startLine, "the text is not closed.");
      const char c = s_[pos_];
      if (c == '"') break;
      if (c == '\\') {
        if (pos_ + 1 >= s_.size()) syntaxError(line_, "the text is not closed.");
        switch (s_[pos_ + 1]) {
          case '"': value += '"'; break;
          case '\\': value += '\\'; break;
          case 'n': value += '\n'; break;
          case 't': value += '\t'; break;
          case 'r': value += '\r'; break;
          default: syntaxError(line_, "unknown escape in a text.");
        }
        pos_ += 2;
        continue;
      }
      if (c == '\n' || (c == '\r' && !startsWith("\r\n"))) ++line_;
      value += c;
      ++pos_;
    }
    ++pos_;
    tokens_.push_back(Token{Token::Kind::Text, std::move(value), 0, startLine});
  }

  void integer() {
    const std::size_t start = pos_;
    if (s_[pos_] == '-') ++pos_;
    while (pos_ < s_.size() && isDigit(s_[pos_])) ++pos_;
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(s_.data() + start, s_.data() + pos_, value);
    if (error != std::errc() || end != s_.data() + pos_) syntaxError(line_, "the number is out of range.");
    emit(Token::Kind::Integer, {}, value);
  }

  void word() {
    const std::size_t start = pos_;
    while (pos_ < s_.size() && isWordPart(s_[pos_])) ++pos_;
    emit(Token::Kind::Word, platform::foldAsciiCase(std::string(s_.substr(start, pos_ - start))));
  }

  void symbol(char c) {
    static constexpr std::pair<char, Token::Kind> kSymbols[] = {
        {'(', Token::Kind::LeftParen}, {')', Token::Kind::RightParen}, {'{', Token::Kind::LeftBrace},
        {'}', Token::Kind::RightBrace}, {',', Token::Kind::Comma},     {'&', Token::Kind::Ampersand},
        {'=', Token::Kind::Equals},
    };
    for (const auto& [character, kind] : kSymbols) {
      if (c == character) {
        ++pos_;
        emit(kind);
        return;
      }
    }
    syntaxError(line_, "an unknown character can't go here.");
  }

  std::string_view s_;
  std::size_t pos_ = 0;
  int line_ = 1;
  std::vector<Token> tokens_;
};

}  // namespace

std::vector<Token> tokenize(std::string_view source) { return Lexer(source).run(); }

std::string describe(const Token& token) {
  switch (token.kind) {
    case Token::Kind::Word: return "“" + token.text + "”";
    case Token::Kind::Text: return "a text";
    case Token::Kind::Integer: return "a number";
    case Token::Kind::LeftParen: return "“(”";
    case Token::Kind::RightParen: return "“)”";
    case Token::Kind::LeftBrace: return "“{”";
    case Token::Kind::RightBrace: return "“}”";
    case Token::Kind::Comma: return "“,”";
    case Token::Kind::Ampersand: return "“&”";
    case Token::Kind::Equals: return "“=”";
    case Token::Kind::NotEquals: return "“≠”";
    case Token::Kind::LineEnd: return "end of line";
    case Token::Kind::End: return "end of script";
  }
  return "something";
}

}  // namespace scripting
