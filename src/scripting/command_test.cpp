#include "scripting/command.h"

#include <gtest/gtest.h>

#include "scripting/errors.h"
#include "scripting/script.h"

namespace scripting {
namespace {

// A table of two made-up commands that record what they were given:
// `fetch item X` gives X's text back in brackets, or fails with 42 for
// "fail"; `send note X [to Y] [via Z]` gives no value.
class CommandTableTest : public ::testing::Test {
 protected:
  CommandTable table() {
    return {
        {"fetch item", {},
         [this](const CommandParameters& p) {
           calls.push_back("fetch " + p.direct.stringValue().value_or("<list>"));
           if (p.direct.stringValue() == "fail") return CommandReply::failure(42, "no such item");
           return CommandReply{0, {}, Descriptor::text("[" + p.direct.stringValue().value_or("") + "]")};
         }},
        {"send note", {"to", "via"},
         [this](const CommandParameters& p) {
           std::string call = "send " + std::to_string(p.direct.count());
           for (const auto& [label, value] : p.labelled) call += " " + label + "=" + value.stringValue().value_or("?");
           calls.push_back(call);
           return CommandReply{};
         }},
    };
  }

  // The reply's text, "<none>" without one, or "error N".
  std::string run(const std::string& body) {
    const std::optional<Script> script = Script::fromSource("on f()\n" + body + "\nend f\n");
    if (!script) return "no script";
    AppleEvent event(kScriptEventClass, kHandlerCallEventID, kAutoGenerateReturnID, kAnyTransactionID);
    event.setParam(Descriptor::text("f"), kHandlerNameKeyword);
    const CommandTable commands = table();
    const ExecutionResult result = script->executeAppleEvent(event, commands);
    if (result.error) return "error " + std::to_string(std::get<std::int64_t>(result.error->at(kErrorNumberKey)));
    if (!result.reply) return "<none>";
    return result.reply->stringValue().value_or("<list>");
  }

  std::vector<std::string> calls;
};

TEST_F(CommandTableTest, CommandsGiveValuesAndRaiseTheirErrors) {
  EXPECT_EQ(run("return fetch item \"a\""), "[a]");
  EXPECT_EQ(run("fetch item \"b\"\nreturn \"done\""), "done");
  EXPECT_EQ(run("set x to fetch item 7\nreturn x & \"!\""), "[7]!");
  EXPECT_EQ(run("return send note {1, 2}"), "<none>");
  EXPECT_EQ(run("return send note {1} & \"x\""), "<none>");
  EXPECT_EQ(run("fetch item \"fail\""), "error 42");
  EXPECT_EQ(run("try\nfetch item \"fail\"\non error message number n\nreturn message & n\nend try"),
            "no such item42");
  EXPECT_EQ(calls, (std::vector<std::string>{"fetch a", "fetch b", "fetch 7", "send 2", "send 2", "fetch fail",
                                             "fetch fail"}));
}

// The direct parameter and each labelled one are whole expressions; labels
// come in any order, each once, and only those the command declares.
TEST_F(CommandTableTest, ParametersAreWholeExpressionsUnderDeclaredLabels) {
  EXPECT_EQ(run("return fetch item \"a\" & \"b\" & 1"), "[ab1]");
  EXPECT_EQ(run("send note {} via \"x\" & \"y\" to \"p\""), "<none>");
  EXPECT_EQ(run("set who to \"q\"\nsend note {1} to who"), "<none>");
  EXPECT_EQ(calls, (std::vector<std::string>{"fetch ab1", "send 0 via=xy to=p", "send 1 to=q"}));
  calls.clear();
  EXPECT_EQ(run("send note {} to \"a\" to \"b\""), "error -2741");
  EXPECT_EQ(run("fetch item \"a\" to \"b\""), "error -2741");
  EXPECT_EQ(run("send note {} cc \"a\""), "error -2741");
  EXPECT_EQ(run("send note"), "error -2741");
  EXPECT_TRUE(calls.empty()) << "a command ran in a script that does not compile";
}

// A script compiles only against the commands it is given: a command of
// another table, or of none, is no command at all, and its words are
// plain names.
TEST_F(CommandTableTest, OnlyTheGivenCommandsExist) {
  EXPECT_EQ(run("run program {\"true\"}"), "error -2741");
  EXPECT_EQ(run("open mail draft {\"s\", \"b\", \"\"}"), "error -2741");
  EXPECT_EQ(run("set fetch to 1\nreturn fetch"), "1");
  EXPECT_EQ(run("return fetch"), "error -2753");
  const std::optional<Script> script = Script::fromSource("on f()\nreturn fetch item \"a\"\nend f\n");
  ASSERT_TRUE(script);
  AppleEvent event(kScriptEventClass, kHandlerCallEventID, kAutoGenerateReturnID, kAnyTransactionID);
  event.setParam(Descriptor::text("f"), kHandlerNameKeyword);
  const ExecutionResult withoutCommands = script->executeAppleEvent(event);
  ASSERT_TRUE(withoutCommands.error);
  EXPECT_EQ(std::get<std::int64_t>(withoutCommands.error->at(kErrorNumberKey)), kErrorUnexpectedWord);
}

}  // namespace
}  // namespace scripting
