#include "scripting/parser.h"

#include <algorithm>
#include <utility>

#include "scripting/errors.h"
#include "scripting/expression_parser.h"
#include "scripting/lexer.h"
#include "scripting/token_cursor.h"

namespace scripting {
namespace {

class StatementParser {
 public:
  explicit StatementParser(TokenCursor& cursor) : cursor_(cursor) {}

  Program program() {
    Program handlers;
    for (;;) {
      if (cursor_.accept(Token::Kind::LineEnd)) continue;
      if (cursor_.at(Token::Kind::End)) return handlers;
      if (!cursor_.atWord("on") && !cursor_.atWord("to")) cursor_.unexpected("a handler");
      Handler handler = handlerDefinition();
      const std::string name = handler.name;
      if (!handlers.try_emplace(name, std::move(handler)).second) {
        throw ScriptError{kErrorSyntax, "The handler “" + name + "” is defined more than once."};
      }
    }
  }

 private:
  Handler handlerDefinition() {
    cursor_.next();  // on / to
    Handler handler;
    handler.name = cursor_.identifier();
    cursor_.expect(Token::Kind::LeftParen, "“(”");
    if (!cursor_.accept(Token::Kind::RightParen)) {
      do {
        std::string parameter = cursor_.identifier();
        if (std::find(handler.parameters.begin(), handler.parameters.end(), parameter) !=
            handler.parameters.end()) {
          throw ScriptError{kErrorSyntax, "The parameter “" + parameter + "” is named twice."};
        }
        handler.parameters.push_back(std::move(parameter));
      } while (cursor_.accept(Token::Kind::Comma));
      cursor_.expect(Token::Kind::RightParen, "“,” or “)”");
    }
    cursor_.expectLineEnd();
    handler.body = block();
    cursor_.expectWord("end");
    if (!cursor_.atLineEnd() && !cursor_.acceptWord(handler.name)) cursor_.unexpected("“end " + handler.name + "”");
    cursor_.expectLineEnd();
    return handler;
  }

  // Statements up to a line that starts with `end`, `else` or `on`, which
  // the caller then checks.
  Block block() {
    const TokenCursor::Nested nested(cursor_);
    Block statements;
    for (;;) {
      if (cursor_.accept(Token::Kind::LineEnd)) continue;
      if (cursor_.at(Token::Kind::End)) cursor_.unexpected("“end”");
      if (cursor_.atWord("end") || cursor_.atWord("else") || cursor_.atWord("on")) return statements;
      statements.push_back(statement(false));
      cursor_.expectLineEnd();
    }
  }

  // One statement; `oneLine` for the statement of a one-line `if`, which
  // cannot open a block.
  Statement statement(bool oneLine) {
    const TokenCursor::Nested nested(cursor_);
    Statement s{};
    s.line = cursor_.peek().line;
    if (cursor_.acceptWord("return")) {
      s.kind = Statement::Kind::Return;
      if (!cursor_.atLineEnd()) s.value = parseExpression(cursor_);
    } else if (cursor_.acceptWord("set")) {
      s.kind = Statement::Kind::Set;
      s.name = cursor_.identifier();
      cursor_.expectWord("to");
      s.value = parseExpression(cursor_);
    } else if (cursor_.acceptWord("if")) {
      ifStatement(s, oneLine);
    } else if (cursor_.acceptWord("error")) {
      s.kind = Statement::Kind::Error;
      if (!cursor_.atLineEnd() && !cursor_.atWord("number")) s.value = parseExpression(cursor_);
      if (cursor_.acceptWord("number")) s.number = parseExpression(cursor_);
    } else if (!oneLine && cursor_.acceptWord("try")) {
      tryStatement(s);
    } else {
      // A handler call or a command, whose value is dropped.
      s.kind = Statement::Kind::Expression;
      const Token& first = cursor_.peek();
      if (first.kind != Token::Kind::Word || (isReserved(first.text) && first.text != "my")) {
        cursor_.unexpected("a statement");
      }
      s.value = parseExpression(cursor_);
      if (s.value->kind != Expression::Kind::Call && s.value->kind != Expression::Kind::Command) {
        cursor_.unexpected("end of line");
      }
    }
    return s;
  }

  void ifStatement(Statement& s, bool oneLine) {
    s.kind = Statement::Kind::If;
    Branch first;
    first.condition = parseExpression(cursor_);
    cursor_.expectWord("then");
    if (oneLine || !cursor_.at(Token::Kind::LineEnd)) {
      first.body.push_back(statement(true));
      s.branches.push_back(std::move(first));
      return;
    }
    cursor_.expectLineEnd();
    first.body = block();
    s.branches.push_back(std::move(first));
    while (cursor_.acceptWord("else")) {
      Branch branch;
      const bool elseIf = cursor_.acceptWord("if");
      if (elseIf) {
        branch.condition = parseExpression(cursor_);
        cursor_.expectWord("then");
      }
      cursor_.expectLineEnd();
      branch.body = block();
      s.branches.push_back(std::move(branch));
      if (!elseIf) break;
    }
    cursor_.expectWord("end");
    cursor_.acceptWord("if");
  }

  void tryStatement(Statement& s) {
    s.kind = Statement::Kind::Try;
    cursor_.expectLineEnd();
    s.body = block();
    if (cursor_.acceptWord("on")) {
      cursor_.expectWord("error");
      if (!cursor_.atLineEnd() && !cursor_.atWord("number")) s.name = cursor_.identifier();
      if (cursor_.acceptWord("number")) s.numberName = cursor_.identifier();
      cursor_.expectLineEnd();
      s.handler = block();
    }
    cursor_.expectWord("end");
    cursor_.acceptWord("try");
  }

  TokenCursor& cursor_;
};

}  // namespace

Program parse(std::string_view source, const CommandTable& commands) {
  TokenCursor cursor(tokenize(source), commands);
  return StatementParser(cursor).program();
}

}  // namespace scripting
