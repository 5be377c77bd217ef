#include <gtest/gtest.h>

#include "platform/scripting/errors.h"
#include "platform/scripting/script.h"

namespace platform::scripting {
namespace {

// The error number of handler f() with `body`, or 0 when it succeeded.
std::int64_t errorOf(const std::string& body) {
  const std::optional<Script> script = Script::fromSource("on f()\n" + body + "\nend f\n");
  if (!script) return 1;
  AppleEvent event(kScriptEventClass, kHandlerCallEventID, kAutoGenerateReturnID, kAnyTransactionID);
  event.setParam(Descriptor::text("f"), kHandlerNameKeyword);
  event.setParam(Descriptor::list({}), kDirectObjectKeyword);
  const ExecutionResult result = script->executeAppleEvent(event);
  if (!result.error) return 0;
  return std::get<std::int64_t>(result.error->at(kErrorNumberKey));
}

// `open mail draft` takes exactly {subject, body, attachment path} and
// gives no value; anything else is refused before the mail service is asked.
TEST(MailCommandTest, TakesThreeTextsAndGivesNoValue) {
  EXPECT_EQ(errorOf("open mail draft \"only a subject\""), kErrorCantCoerce);
  EXPECT_EQ(errorOf("open mail draft {\"s\", \"b\"}"), kErrorCantCoerce);
  EXPECT_EQ(errorOf("open mail draft {\"s\", \"b\", {\"p\"}}"), kErrorCantCoerce);
  EXPECT_EQ(errorOf("set x to open mail draft {\"s\", \"b\", \"p\", \"q\"}"), kErrorCantCoerce);
  EXPECT_EQ(errorOf("open mail draft"), kErrorUnexpectedWord);
  EXPECT_EQ(errorOf("open mail {\"s\", \"b\", \"\"}"), kErrorUnexpectedWord);
}

}  // namespace
}  // namespace platform::scripting
