#include "job/draft_commands.h"

#include <gtest/gtest.h>

#include "scripting/errors.h"
#include "script/invoke.h"

namespace {

using mail::Draft;
using mail::ProgramRun;

// The mail draft script's commands on fake services that record what they
// are asked and answer as the test says.
class DraftCommandsTest : public ::testing::Test {
 protected:
  DraftServices services() {
    DraftServices services;
    services.openDraft = [this](const mail::MailContext& context, const Draft& draft) {
      drafts.push_back(draft);
      launchedThroughService =
          context.launch.run({"through-the-service"}, context.grace, platform::AtDeadline::LeaveRunning, {}).output;
      return draftAnswer;
    };
    services.context.grace = std::chrono::milliseconds(7);
    services.supportAddress = supportAddress;
    services.context.launch.run = [this](const std::vector<std::string>& command, std::chrono::milliseconds wait,
                                         platform::AtDeadline, std::string_view) {
      commands.push_back(command);
      waits.push_back(wait);
      return programAnswer;
    };
    return services;
  }

  // Runs handler f(a, b) with `body`, the commands on the fakes.
  ScriptCallResult run(const std::string& body, const std::vector<std::string>& arguments = {"x", "y"}) {
    const std::string source = "on f(a, b)\n" + body + "\nend f\n";
    return invoke(source, "f", arguments, draftCommands(services()));
  }

  std::vector<Draft> drafts;
  std::vector<std::vector<std::string>> commands;
  std::vector<std::chrono::milliseconds> waits;
  std::string launchedThroughService;
  mail::ServiceAnswer draftAnswer;
  ProgramRun programAnswer{0, {}, "out"};
  std::optional<std::string> supportAddress;
};

// Subject, body, log path and recipient reach the mail service as given;
// a draft without `to` has no recipient, and the service starts its
// programs in the same context as `run program`.
TEST_F(DraftCommandsTest, OpenMailDraftHandsTheRequestToTheService) {
  const std::string tricky = "a \"q\", b='c' $(x)\n\tT\xC3\xBCrk\xC3\xA7" "e";
  EXPECT_EQ(run("open mail draft {a, b, \"/j/log.txt\"} to \"help@x.org\"\nreturn \"ok\"", {tricky, ""}).resultText,
            "ok");
  EXPECT_EQ(run("open mail draft {a, b, \"\"}\nreturn \"ok\"").resultText, "ok");
  EXPECT_EQ(run("open mail draft {a, 5, 1 = 1} to \"not an address\"\nreturn \"ok\"").resultText, "ok");
  ASSERT_EQ(drafts.size(), 3u);
  EXPECT_EQ(drafts[0].subject, tricky);
  EXPECT_EQ(drafts[0].body, "");
  EXPECT_EQ(drafts[0].attachment, "/j/log.txt");
  EXPECT_EQ(drafts[0].recipient, "help@x.org");
  EXPECT_EQ(drafts[1].recipient, "");
  EXPECT_EQ(drafts[2].body, "5");
  EXPECT_EQ(drafts[2].attachment, "true");
  EXPECT_EQ(drafts[2].recipient, "not an address") << "the service, not the command, judges the address";
  EXPECT_EQ(launchedThroughService, "out");
  EXPECT_EQ(commands, (std::vector<std::vector<std::string>>(3, {"through-the-service"})));
}

// The bundle's support address is the recipient of a draft whose script
// names none; an address the script gives still wins.
TEST_F(DraftCommandsTest, WithoutToTheDraftGoesToTheBundlesSupportAddress) {
  supportAddress = "help@acme.example";
  EXPECT_EQ(run("open mail draft {a, b, \"\"}\nreturn \"ok\"").resultText, "ok");
  EXPECT_EQ(run("open mail draft {a, b, \"\"} to \"other@acme.example\"\nreturn \"ok\"").resultText, "ok");
  ASSERT_EQ(drafts.size(), 2u);
  EXPECT_EQ(drafts[0].recipient, "help@acme.example");
  EXPECT_EQ(drafts[1].recipient, "other@acme.example");
}

// A request of another shape is refused before the service is asked; the
// service's failure is raised with its own number.
TEST_F(DraftCommandsTest, OpenMailDraftRefusesOtherShapesAndRaisesTheServiceError) {
  for (const std::string request :
       {"\"only a subject\"", "{a, b}", "{a, b, {\"p\"}}", "{a, b, \"\", \"\"}", "{a, b, \"\"} to {\"x@y.org\"}"}) {
    EXPECT_EQ(run("open mail draft " + request).errorNumber, scripting::kErrorCantCoerce) << request;
  }
  EXPECT_TRUE(drafts.empty());
  draftAnswer = {-1743, "refused"};
  EXPECT_EQ(run("open mail draft {a, b, \"\"}\nreturn \"ok\"").errorNumber, -1743);
  draftAnswer = {};
  EXPECT_EQ(run("set x to open mail draft {a, b, \"\"}").errorNumber, scripting::kErrorUndefinedVariable)
      << "the command gives no value";
}

// A list runs its first item with the others as arguments, any other value
// is the program alone; the output is the value, a failure is raised.
TEST_F(DraftCommandsTest, RunProgramStartsTheWordsItIsGiven) {
  EXPECT_EQ(run("return run program {\"printf\", \"[%s]\", a} & {b}").resultText, "out");
  EXPECT_EQ(run("return run program \"true\" & 1").resultText, "out");
  EXPECT_EQ(run("run program {}\nreturn 1").resultText, "1");
  EXPECT_EQ(commands, (std::vector<std::vector<std::string>>{{"printf", "[%s]", "x", "y"}, {"true1"}, {}}));
  EXPECT_EQ(waits, std::vector<std::chrono::milliseconds>(3, std::chrono::milliseconds(7))) << "the context's grace";
  EXPECT_EQ(run("run program {\"printf\", {\"nested\"}}").errorNumber, scripting::kErrorCantCoerce);
  EXPECT_EQ(commands.size(), 3u) << "a nested list was started";
  programAnswer = {3, "ended with status 3", ""};
  EXPECT_EQ(run("try\nrun program {\"sh\"}\non error message number n\nreturn message & n\nend try").resultText,
            "ended with status 33");
}

}  // namespace
