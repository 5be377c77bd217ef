#include "scripting/expression_parser.h"

#include <algorithm>
#include <utility>

namespace scripting {
namespace {

ExpressionPtr node(Expression::Kind kind, int line) {
  auto e = std::make_unique<Expression>();
  e->kind = kind;
  e->line = line;
  return e;
}

// Comma-separated expressions after an opening bracket, up to `close`.
void items(TokenCursor& cursor, std::vector<ExpressionPtr>& out, Token::Kind close, std::string_view expected) {
  const TokenCursor::Nested nested(cursor);
  if (cursor.accept(close)) return;
  do {
    out.push_back(parseExpression(cursor));
  } while (cursor.accept(Token::Kind::Comma));
  cursor.expect(close, expected);
}

ExpressionPtr name(TokenCursor& cursor) {
  const bool my = cursor.acceptWord("my");
  const int line = cursor.peek().line;
  std::string folded = cursor.identifier();
  if (!my && !cursor.at(Token::Kind::LeftParen)) {
    ExpressionPtr e = node(Expression::Kind::Variable, line);
    e->text = std::move(folded);
    return e;
  }
  cursor.expect(Token::Kind::LeftParen, "“(”");
  ExpressionPtr e = node(Expression::Kind::Call, line);
  e->text = std::move(folded);
  items(cursor, e->operands, Token::Kind::RightParen, "“,” or “)”");
  return e;
}

ExpressionPtr primary(TokenCursor& cursor) {
  const Token& token = cursor.peek();
  switch (token.kind) {
    case Token::Kind::Text: {
      ExpressionPtr e = node(Expression::Kind::Text, token.line);
      e->text = cursor.next().text;
      return e;
    }
    case Token::Kind::Integer: {
      ExpressionPtr e = node(Expression::Kind::Integer, token.line);
      e->integer = cursor.next().integer;
      return e;
    }
    case Token::Kind::LeftBrace: {
      ExpressionPtr e = node(Expression::Kind::List, cursor.next().line);
      items(cursor, e->operands, Token::Kind::RightBrace, "“,” or “}”");
      return e;
    }
    case Token::Kind::LeftParen: {
      cursor.next();
      ExpressionPtr e = parseExpression(cursor);
      cursor.expect(Token::Kind::RightParen, "“)”");
      return e;
    }
    case Token::Kind::Word:
      return name(cursor);
    default:
      cursor.unexpected("an expression");
  }
}

// The number of words of the longest command of the table whose words
// stand next, and that command; 0 and null when none does.
std::pair<std::size_t, const Command*> commandAhead(const TokenCursor& cursor) {
  std::pair<std::size_t, const Command*> found{0, nullptr};
  if (!cursor.at(Token::Kind::Word)) return found;
  for (const Command& command : cursor.commands()) {
    // Most words are no command: the first word decides before any split.
    if (!cursor.atWord(std::string_view(command.name).substr(0, command.name.find(' ')))) continue;
    const std::vector<std::string_view> words = commandWords(command.name);
    if (words.size() <= found.first) continue;
    bool matches = true;
    for (std::size_t i = 1; i < words.size() && matches; ++i) matches = cursor.atWord(words[i], i);
    if (matches) found = {words.size(), &command};
  }
  return found;
}

// The label of `command` that stands next, or null.
const std::string* labelAhead(const TokenCursor& cursor, const Command& command) {
  for (const std::string& label : command.labels) {
    if (cursor.atWord(label)) return &label;
  }
  return nullptr;
}

ExpressionPtr commandCall(TokenCursor& cursor, std::size_t words, const Command& command) {
  const TokenCursor::Nested nested(cursor);
  ExpressionPtr e = node(Expression::Kind::Command, cursor.peek().line);
  for (std::size_t i = 0; i < words; ++i) cursor.next();
  e->text = command.name;
  // A command's parameters are whole expressions: `run program {a} & {b}`
  // runs the joined list.
  e->operands.push_back(parseExpression(cursor));
  while (const std::string* label = labelAhead(cursor, command)) {
    if (std::find(e->labels.begin(), e->labels.end(), *label) != e->labels.end()) cursor.unexpected("end of line");
    cursor.next();
    e->labels.push_back(*label);
    e->operands.push_back(parseExpression(cursor));
  }
  return e;
}

ExpressionPtr prefixed(TokenCursor& cursor) {
  if (cursor.atWord("percent") && cursor.atWord("encode", 1)) {
    const TokenCursor::Nested nested(cursor);
    ExpressionPtr e = node(Expression::Kind::PercentEncode, cursor.next().line);
    cursor.next();
    e->operands.push_back(prefixed(cursor));
    return e;
  }
  if (const auto [words, command] = commandAhead(cursor); command != nullptr) {
    return commandCall(cursor, words, *command);
  }
  return primary(cursor);
}

// operand {separator operand}, kept flat; `acceptSeparator` moves past a
// separator when one is next.
template <typename Separator, typename Operand>
ExpressionPtr chain(TokenCursor& cursor, Expression::Kind kind, Separator acceptSeparator, Operand operand) {
  ExpressionPtr first = operand(cursor);
  if (!acceptSeparator(cursor)) return first;
  ExpressionPtr e = node(kind, first->line);
  e->operands.push_back(std::move(first));
  do {
    e->operands.push_back(operand(cursor));
  } while (acceptSeparator(cursor));
  return e;
}

ExpressionPtr join(TokenCursor& cursor) {
  return chain(
      cursor, Expression::Kind::Join, [](TokenCursor& c) { return c.accept(Token::Kind::Ampersand); }, prefixed);
}

ExpressionPtr comparison(TokenCursor& cursor) {
  ExpressionPtr left = join(cursor);
  bool negated = false;
  if (cursor.accept(Token::Kind::NotEquals)) {
    negated = true;
  } else if (cursor.acceptWord("is")) {
    negated = cursor.acceptWord("not");
    if (cursor.acceptWord("equal")) cursor.expectWord("to");
  } else if (!cursor.accept(Token::Kind::Equals)) {
    return left;
  }
  ExpressionPtr e = node(Expression::Kind::Equal, left->line);
  e->negated = negated;
  e->operands.push_back(std::move(left));
  e->operands.push_back(join(cursor));
  return e;
}

ExpressionPtr negation(TokenCursor& cursor) {
  if (!cursor.atWord("not")) return comparison(cursor);
  const TokenCursor::Nested nested(cursor);
  ExpressionPtr e = node(Expression::Kind::Not, cursor.next().line);
  e->operands.push_back(negation(cursor));
  return e;
}

ExpressionPtr conjunction(TokenCursor& cursor) {
  return chain(cursor, Expression::Kind::And, [](TokenCursor& c) { return c.acceptWord("and"); }, negation);
}

}  // namespace

ExpressionPtr parseExpression(TokenCursor& cursor) {
  const TokenCursor::Nested nested(cursor);
  return chain(cursor, Expression::Kind::Or, [](TokenCursor& c) { return c.acceptWord("or"); }, conjunction);
}

}  // namespace scripting
