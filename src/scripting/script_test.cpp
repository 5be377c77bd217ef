#include "scripting/script.h"

#include <gtest/gtest.h>

#include "scripting/errors.h"
#include "scripting/evaluator.h"
#include "scripting/parser.h"

namespace scripting {
namespace {

ExecutionResult execute(const std::string& source, const std::string& handler,
                        std::vector<Descriptor> arguments = {}) {
  const std::optional<Script> script = Script::fromSource(source);
  if (!script) {
    ADD_FAILURE() << "no script object";
    return {};
  }
  AppleEvent event(kScriptEventClass, kHandlerCallEventID, kAutoGenerateReturnID, kAnyTransactionID);
  event.setParam(Descriptor::text(handler), kHandlerNameKeyword);
  event.setParam(Descriptor::list(std::move(arguments)), kDirectObjectKeyword);
  return script->executeAppleEvent(event);
}

// The reply's text, "<none>" without a reply, or "error N" on failure.
std::string outcome(const ExecutionResult& result) {
  if (result.error) return "error " + std::to_string(std::get<std::int64_t>(result.error->at(kErrorNumberKey)));
  if (!result.reply) return "<none>";
  return result.reply->stringValue().value_or("<list>");
}

// The outcome of a handler `f()` whose body is `body`.
std::string run(const std::string& body, std::vector<Descriptor> arguments = {}) {
  return outcome(execute("on f()\n" + body + "\nend f\n", "f", std::move(arguments)));
}

std::string repeated(const std::string& piece, int times) {
  std::string result;
  for (int i = 0; i < times; ++i) result += piece;
  return result;
}

Descriptor ones(int count) { return Descriptor::list(std::vector<Descriptor>(count, Descriptor::integer(1))); }

TEST(ScriptSourceTest, RejectsInvalidUtf8AndNul) {
  EXPECT_FALSE(Script::fromSource("on f()\nreturn \"\xC3\"\nend"));
  using namespace std::string_literals;
  EXPECT_FALSE(Script::fromSource("on f()\nreturn \"\0\"\nend"s));
  EXPECT_TRUE(Script::fromSource("garbage that does not compile"));
}

TEST(ScriptSyntaxTest, CommentsContinuationAndLineEnds) {
  EXPECT_EQ(outcome(execute("(* outer (* inner *) still comment *)\r\n"
                            "# hash comment\n"
                            "on f() -- trailing comment\r\n"
                            "  return \"a\" & \xC2\xAC  \n"
                            "\t\"b\" -- after the continued line\n"
                            "end f",
                            "f")),
            "ab");
  EXPECT_EQ(outcome(execute("(* (* *) never closed\non f()\nend", "f")), "error -2740");
  EXPECT_EQ(run("return \"a\" \xC2\xAC return"), "error -2740");
}

TEST(ScriptSyntaxTest, KeywordsAndNamesIgnoreCase) {
  EXPECT_EQ(outcome(execute("ON Shout(Value)\nSET Copy TO VALUE\nIF copy IS \"x\" THEN RETURN \"yes\"\n"
                            "RETURN MY other(COPY)\nEND SHOUT\nTo OTHER(v)\nReturn v\nEnd",
                            "sHoUt", {Descriptor::text("y")})),
            "y");
}

TEST(ScriptSyntaxTest, OnlyHandlersAtTopLevel) {
  EXPECT_EQ(outcome(execute("set x to 1\non f()\nend", "f")), "error -2741");
  EXPECT_EQ(outcome(execute("on f()\nend f\nreturn 1", "f")), "error -2741");
  EXPECT_EQ(outcome(execute("\"text\"", "f")), "error -2741");
  EXPECT_EQ(outcome(execute("on f()\nreturn 1\nend g", "f")), "error -2741");
  EXPECT_EQ(outcome(execute("on f()\nreturn 1", "f")), "error -2741");
  EXPECT_EQ(outcome(execute("on f()\nend\non F()\nend", "f")), "error -2740");
}

TEST(ScriptSyntaxTest, StatementsEndAtLineBreaks) {
  EXPECT_EQ(run("return 1 2"), "error -2741");
  EXPECT_EQ(run("return \"a\" &\n\"b\""), "error -2741");
  EXPECT_EQ(run("\"just a value\""), "error -2741");
  EXPECT_EQ(run("set to to 1"), "error -2741");
}

TEST(ScriptSyntaxTest, BadTokens) {
  EXPECT_EQ(run("return \"\\q\""), "error -2740");
  EXPECT_EQ(run("return \"open"), "error -2740");
  EXPECT_EQ(run("return 9223372036854775808"), "error -2740");
  EXPECT_EQ(run("return 1 @ 2"), "error -2740");
  EXPECT_EQ(run("return -9223372036854775808"), "-9223372036854775808");
}

TEST(ScriptSyntaxTest, TextEscapesAndRawLineBreaks) {
  EXPECT_EQ(run("return \"q\\\"b\\\\n\\n\\t\\r\nraw\""), "q\"b\\n\n\t\r\nraw");
}

TEST(ScriptSyntaxTest, DeepNestingIsASyntaxErrorNotACrash) {
  EXPECT_EQ(run("return " + repeated("(", 100000) + "1" + repeated(")", 100000)), "error -2740");
  EXPECT_EQ(run("return " + repeated("{", 100000) + repeated("}", 100000)), "error -2740");
  EXPECT_EQ(run("return " + repeated("not ", 100000) + "(1 = 1)"), "error -2740");
  EXPECT_EQ(run("return " + repeated("percent encode ", 100000) + "\"a\""), "error -2740");
  EXPECT_EQ(run(repeated("if 1 = 1 then ", 100000) + "return 1"), "error -2740");
  EXPECT_EQ(run("return " + repeated("(", 20) + "\"ok\"" + repeated(")", 20)), "ok");
}

TEST(ScriptSyntaxTest, LongFlatChainsAreFine) {
  EXPECT_EQ(run("return \"\"" + repeated(" & \"ab\"", 50000)), repeated("ab", 50000));
  EXPECT_EQ(run("return {" + repeated("1, ", 50000) + "1} = {1}"), "false");
}

TEST(ScriptHandlerTest, ArgumentsAndCallErrors) {
  const std::string echo = "on echoValue(value)\nreturn value\nend echoValue";
  const std::string sample = "A \"quote\" $(command)\nUnicode: T\xC3\xBCrk\xC3\xA7" "e";
  EXPECT_EQ(outcome(execute(echo, "echovalue", {Descriptor::text(sample)})), sample);
  EXPECT_EQ(outcome(execute(echo, "ECHOVALUE", {Descriptor::text("x")})), "x");
  EXPECT_EQ(outcome(execute(echo, "echo", {Descriptor::text("x")})), "error -1708");
  EXPECT_EQ(outcome(execute(echo, "echovalue")), "error -1721");
  EXPECT_EQ(outcome(execute(echo, "echovalue", {Descriptor::text("x"), Descriptor::text("y")})), "error -1721");
  EXPECT_EQ(run("return g(1)"), "error -1708");
  EXPECT_EQ(run("return missing"), "error -2753");
  EXPECT_EQ(run("return"), "<none>");
  EXPECT_EQ(run("set x to 1"), "<none>");
  EXPECT_EQ(outcome(execute("on f()\nreturn g()\nend\non g()\nend", "f")), "<none>");
  EXPECT_EQ(outcome(execute("on f()\nreturn g() & \"x\"\nend\non g()\nend", "f")), "error -2753");
}

TEST(ScriptHandlerTest, RecursionStopsAfter256Calls) {
  // Each call adds an item to `depth` until it equals `stop`: a stop list of
  // n items makes n + 1 nested calls.
  const std::string down =
      "on down(depth, stop)\n"
      "  if depth = stop then return \"bottom\"\n"
      "  return down(depth & {1}, stop)\n"
      "end down";
  EXPECT_EQ(outcome(execute(down, "down", {Descriptor::list(), ones(255)})), "bottom");
  EXPECT_EQ(outcome(execute(down, "down", {Descriptor::list(), ones(256)})), "error -2706");
}

TEST(ScriptErrorTest, ErrorAndTry) {
  EXPECT_EQ(run("error \"boom\""), "error -2700");
  EXPECT_EQ(run("error"), "error -2700");
  EXPECT_EQ(run("error number -1743"), "error -1743");
  EXPECT_EQ(run("error \"x\" number \"7\""), "error -1700");
  const ExecutionResult raised = execute("on f()\nerror \"boom\" number 42\nend", "f");
  ASSERT_TRUE(raised.error);
  EXPECT_EQ(std::get<std::string>(raised.error->at(kErrorMessageKey)), "boom");
  EXPECT_FALSE(raised.reply);

  EXPECT_EQ(run("try\nerror \"boom\" number 7\non error message number n\nreturn message & \":\" & n\nend try"),
            "boom:7");
  EXPECT_EQ(run("try\nreturn missing\non error number n\nreturn n\nend"), "-2753");
  EXPECT_EQ(run("try\nerror \"ignored\"\nend try\nreturn \"after\""), "after");
  EXPECT_EQ(run("try\nreturn \"inside\"\non error\nreturn \"handler\"\nend try"), "inside");
}

TEST(ScriptExpressionTest, ComparisonsAndLogic) {
  EXPECT_EQ(run("return \"\xC3\xA9\" = \"e\xCC\x81\""), "true");
  EXPECT_EQ(run("return \"A\" is \"a\""), "false");
  EXPECT_EQ(run("return 1 is not 2"), "true");
  EXPECT_EQ(run("return 1 \xE2\x89\xA0 1"), "false");
  EXPECT_EQ(run("return {1, \"x\"} is equal to {1, \"x\"}"), "true");
  EXPECT_EQ(run("return \"1\" = 1"), "false");
  EXPECT_EQ(run("return not 1 = 2 and (2 = 2 or missing)"), "true");
  EXPECT_EQ(run("return 1 = 2 and missing"), "false");
  EXPECT_EQ(run("if \"yes\" then return 1"), "error -1700");
  EXPECT_EQ(run("return not 1"), "error -1700");
}

TEST(ScriptExpressionTest, JoiningTextsAndLists) {
  EXPECT_EQ(run("return \"n\" & -5 & (1 = 1)"), "n-5true");
  EXPECT_EQ(run("return {1} & {2, 3} = {1, 2, 3}"), "true");
  EXPECT_EQ(run("return \"a\" & {\"b\"} = {\"a\", \"b\"}"), "true");
  EXPECT_EQ(run("return 1 & 2 = {1, 2}"), "true");
  EXPECT_EQ(run("return {1} & \"x\""), "<list>");
}

TEST(ScriptExpressionTest, IfBlocks) {
  const std::string pick =
      "on pick(x)\n"
      "  if x = \"a\" then\n    return 1\n"
      "  else if x = \"b\" then\n    return 2\n"
      "  else\n    if x = \"c\" then return 3\n    return 4\n"
      "  end if\n"
      "end pick";
  EXPECT_EQ(outcome(execute(pick, "pick", {Descriptor::text("a")})), "1");
  EXPECT_EQ(outcome(execute(pick, "pick", {Descriptor::text("b")})), "2");
  EXPECT_EQ(outcome(execute(pick, "pick", {Descriptor::text("c")})), "3");
  EXPECT_EQ(outcome(execute(pick, "pick", {Descriptor::text("d")})), "4");
}

TEST(ScriptExpressionTest, PercentEncodeBindsTighterThanJoin) {
  EXPECT_EQ(run("return percent encode \"a b\" & \"&c\""), "a%20b&c");
  EXPECT_EQ(run("return percent encode (\"a b\" & \"&c\")"), "a%20b%26c");
  EXPECT_EQ(run("return percent encode {\"x\"}"), "error -1700");
  EXPECT_EQ(run("set percent to \"p\"\nreturn percent"), "p");
}

TEST(ScriptLimitTest, RunawayScriptsStop) {
  // Two calls a level, 24 levels deep (the text grows a letter a level):
  // 2^24 calls, far more steps than allowed, and nothing that a depth limit
  // stops. The `try`s cannot swallow the step limit once it is crossed.
  const std::string twice =
      "on f(x)\n"
      "  if x is not \"" + repeated("x", 24) + "\" then\n"
      "    try\n      f(x & \"x\")\n    on error\n    end try\n"
      "    try\n      f(x & \"x\")\n    on error\n    end try\n"
      "  end if\n"
      "end f";
  EXPECT_EQ(outcome(execute(twice, "f", {Descriptor::text("")})), "error -1712");
  EXPECT_EQ(run("set x to \"" + repeated("x", 1024) + "\"\n" + repeated("set x to x & x\n", 40) + "return 1"),
            "error -108");
  EXPECT_EQ(run("set x to {}\n" + repeated("set x to {x, x}\n", 300) + "return 1"), "error -2706");
  EXPECT_EQ(run("set x to {1}\n" + repeated("set x to {x, x}\n", 100) + "return x = x"), "error -1712");
}

// Raising and catching an error costs far more than a step, so each
// caught error counts for several: a script that catches its own errors
// level after level stops sooner than its plain steps would let it.
TEST(ScriptLimitTest, CaughtErrorsCountAgainstTheSteps) {
  const Program program = parse(
      "on f(x)\n"
      "  try\n    error \"again\"\n  on error\n  end try\n"
      "  if x is not \"" + repeated("x", 20) + "\" then\n    f(x & \"x\")\n  end if\n"
      "  return x\n"
      "end f",
      {});
  Limits limits;
  limits.maxSteps = 1000;
  limits.stepsPerCaughtError = 100;
  const auto call = [&](const std::string& start, const Limits& with) -> std::string {
    try {
      const auto value = callHandler(program, "f", {Descriptor::text(start)}, {}, with);
      return value ? value->stringValue().value_or("<list>") : "<none>";
    } catch (const ScriptError& error) {
      return "error " + std::to_string(error.number);
    }
  };
  // Five caught errors fit in the budget, twenty-one do not, though their
  // plain steps alone would.
  EXPECT_EQ(call(repeated("x", 16), limits), repeated("x", 16));
  EXPECT_EQ(call("", limits), "error " + std::to_string(kErrorTimedOut));
  limits.stepsPerCaughtError = 0;
  EXPECT_EQ(call("", limits), "");
}

}  // namespace
}  // namespace scripting
