#include "script/invoke.h"

#include <gtest/gtest.h>

using scripting::Descriptor;
using scripting::ErrorInfo;
using scripting::ExecutionResult;
using scripting::fourCharCode;

namespace {

const std::string kEcho = "on echoValue(value)\nreturn value\nend echoValue";

std::vector<std::string> itemTexts(const Descriptor& list) {
  std::vector<std::string> texts;
  for (const Descriptor& item : list.items()) texts.push_back(item.stringValue().value_or("<none>"));
  return texts;
}

TEST(HandlerEventTest, HoldsNameThenListUnchanged) {
  const auto event = makeHandlerEvent("EchoValue", {"first", "second", "third"});
  EXPECT_EQ(event.eventClass(), 0x61736372u);
  EXPECT_EQ(event.eventID(), 0x70736272u);
  EXPECT_EQ(event.returnID(), -1);
  EXPECT_EQ(event.transactionID(), 0);

  const Descriptor* name = event.param(fourCharCode("snam"));
  ASSERT_NE(name, nullptr);
  EXPECT_EQ(name->kind(), Descriptor::Kind::Text);
  EXPECT_EQ(name->textValue(), "EchoValue");

  const Descriptor* direct = event.param(fourCharCode("----"));
  ASSERT_NE(direct, nullptr);
  EXPECT_EQ(itemTexts(*direct), (std::vector<std::string>{"first", "second", "third"}));
}

TEST(HandlerEventTest, EmptyValuesStillSendAnEmptyList) {
  const auto event = makeHandlerEvent("ping", {});
  const Descriptor* direct = event.param(fourCharCode("----"));
  ASSERT_NE(direct, nullptr);
  EXPECT_EQ(direct->kind(), Descriptor::Kind::List);
  EXPECT_EQ(direct->count(), 0u);
}

TEST(InvokeTest, ValuesReachTheHandlerUnchangedAndInOrder) {
  const std::string sample = "A \"quote\" $(command)\nUnicode: T\xC3\xBCrk\xC3\xA7" "e";
  const ScriptCallResult echoed = invoke(kEcho, "echovalue", {sample});
  EXPECT_EQ(echoed.resultText, sample);
  EXPECT_EQ(echoed.errorNumber, std::nullopt);

  const ScriptCallResult joined =
      invoke("on join3(a, b, c)\nreturn a & \"|\" & b & \"|\" & c\nend", "join3", {"first", "second", "third"});
  EXPECT_EQ(joined.resultText, "first|second|third");

  EXPECT_EQ(invoke("on ping()\nreturn \"pong\"\nend", "ping", {}).resultText, "pong");
}

TEST(InvokeTest, ErrorNumbersOfTheService) {
  const auto errorOf = [](std::string_view source, std::string_view handler, std::vector<std::string> values) {
    const ScriptCallResult result = invoke(source, handler, values);
    EXPECT_EQ(result.resultText, std::nullopt) << source;
    return result.errorNumber;
  };
  EXPECT_EQ(errorOf("on f()\nreturn \"\xFF\"\nend", "f", {}), -1);
  EXPECT_EQ(errorOf(std::string_view("on f()\0", 7), "f", {}), -1);
  EXPECT_EQ(errorOf("return 1", "f", {}), -2741);
  EXPECT_EQ(errorOf("on f()\nreturn \"open\nend", "f", {}), -2740);
  EXPECT_EQ(errorOf(kEcho, "makesupportdraft", {"a", "b", "c"}), -1708);
  EXPECT_EQ(errorOf(kEcho, "echovalue", {}), -1721);
  EXPECT_EQ(errorOf("on f()\nreturn nothing\nend", "f", {}), -2753);
  EXPECT_EQ(errorOf("on f()\nerror \"no\"\nend", "f", {}), -2700);
  EXPECT_EQ(errorOf("on f()\nreturn f()\nend", "f", {}), -2706);
  EXPECT_EQ(errorOf("on f()\nerror \"denied\" number -1743\nend", "f", {}), -1743);
}

TEST(InvokeTest, ListReplyHasNoText) {
  const ScriptCallResult result = invoke("on f(a)\nreturn {a}\nend", "f", {"x"});
  EXPECT_EQ(result.resultText, std::nullopt);
  EXPECT_EQ(result.errorNumber, std::nullopt);
}

// The service never gives a reply together with error information, so the
// reading of such a result is checked with a made-up one.
TEST(ReadCallResultTest, ReplyTextAndErrorNumberAreReadIndependently) {
  const ScriptCallResult both = readCallResult(ExecutionResult{
      Descriptor::text("draft_opened"), ErrorInfo{{"NSAppleScriptErrorNumber", std::int64_t{-1743}}}});
  EXPECT_EQ(both.resultText, "draft_opened");
  EXPECT_EQ(both.errorNumber, -1743);

  const ScriptCallResult numberReply = readCallResult(ExecutionResult{Descriptor::integer(7), std::nullopt});
  EXPECT_EQ(numberReply.resultText, "7");
  EXPECT_EQ(numberReply.errorNumber, std::nullopt);

  const ScriptCallResult listReply = readCallResult(
      ExecutionResult{Descriptor::list(), ErrorInfo{{"NSAppleScriptErrorNumber", std::int64_t{5}}}});
  EXPECT_EQ(listReply.resultText, std::nullopt);
  EXPECT_EQ(listReply.errorNumber, 5);
}

TEST(ReadCallResultTest, ErrorNumberOnlyFromANumberUnderItsKey) {
  EXPECT_EQ(errorNumberOf({{"NSAppleScriptErrorNumber", std::int64_t{-2753}},
                           {"NSAppleScriptErrorMessage", std::string("x")}}),
            -2753);
  EXPECT_EQ(errorNumberOf({{"NSAppleScriptErrorMessage", std::string("no number")}}), std::nullopt);
  EXPECT_EQ(errorNumberOf({{"NSAppleScriptErrorNumber", std::string("-1743")}}), std::nullopt);
  EXPECT_EQ(errorNumberOf({{"OtherNumber", std::int64_t{1}}}), std::nullopt);
  EXPECT_EQ(readCallResult(ExecutionResult{std::nullopt, ErrorInfo{}}).errorNumber, std::nullopt);
}

}  // namespace
