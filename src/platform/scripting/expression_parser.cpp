#include "platform/scripting/expression_parser.h"

namespace platform::scripting {
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

ExpressionPtr prefixed(TokenCursor& cursor) {
  Expression::Kind kind;
  if (cursor.atWord("run") && cursor.atWord("program", 1)) {
    kind = Expression::Kind::RunProgram;
  } else if (cursor.atWord("percent") && cursor.atWord("encode", 1)) {
    kind = Expression::Kind::PercentEncode;
  } else if (cursor.atWord("open") && cursor.atWord("mail", 1) && cursor.atWord("draft", 2)) {
    kind = Expression::Kind::OpenMailDraft;
  } else {
    return primary(cursor);
  }
  const TokenCursor::Nested nested(cursor);
  ExpressionPtr e = node(kind, cursor.next().line);
  cursor.next();
  if (kind == Expression::Kind::OpenMailDraft) cursor.next();
  // A command's direct parameter is a whole expression: `run program {a} &
  // {b}` runs the joined list.
  const bool command = kind == Expression::Kind::RunProgram || kind == Expression::Kind::OpenMailDraft;
  e->operands.push_back(command ? parseExpression(cursor) : prefixed(cursor));
  return e;
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

}  // namespace platform::scripting
