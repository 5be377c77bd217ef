#include "mail/mailer_command.h"

#include <gtest/gtest.h>

namespace mail {
namespace {

using Words = std::vector<std::string>;

// MAILER's list and each command's words as the shell would take them;
// an empty list of words for a command only the shell can run.
TEST(MailerCommandTest, ReadsTheListAndItsWords) {
  const std::vector<std::pair<std::string, std::vector<Words>>> cases = {
      {"neomutt", {{"neomutt"}}},
      {" \txterm  -T 'My mail' -e \"neo\"mutt\\ x ", {{"xterm", "-T", "My mail", "-e", "neomutt x"}}},
      {"a::b: :c", {{"a"}, {"b"}, {"c"}}},
      {"LANG=C.UTF-8 A='x y' neomutt", {{"env", "LANG=C.UTF-8", "A=x y", "neomutt"}}},
      {"'A=b' neomutt", {{"A=b", "neomutt"}}},
      {"mail \"a\\$b\\\\c\\d\"", {{"mail", "a$b\\c\\d"}}},
      {"a#b c~d e=f", {{"a#b", "c~d", "e=f"}}},
      // What only a shell runs.
      {"neomutt $OPTS", {{}}},
      {"neomutt \"$OPTS\"", {{}}},
      {"neomutt `x`", {{}}},
      {"neomutt; true", {{}}},
      {"neomutt && x", {{}}},
      {"neomutt > /dev/null", {{}}},
      {"neomutt *", {{}}},
      {"neomutt # note", {{}}},
      {"neomutt ~/rc", {{}}},
      {"exec neomutt", {{}}},
      {"A=b", {{}}},
      {"neomutt 'open", {{}}},
      {"neomutt \\", {{}}},
      {"'' neomutt", {{}}},
      {"A=b \"\" neomutt", {{}}},
  };
  for (const auto& [mailer, expected] : cases) {
    const std::vector<MailerCommand> commands = mailerCommands(mailer);
    ASSERT_EQ(commands.size(), expected.size()) << mailer;
    for (std::size_t i = 0; i < commands.size(); ++i) {
      EXPECT_EQ(commands[i].words, expected[i]) << mailer;
      EXPECT_EQ(commands[i].needsShell(), expected[i].empty()) << mailer;
    }
  }
  EXPECT_TRUE(mailerCommands(" : \t:").empty());
  // A command the shell runs gets the URI as the hand-off's own eval gives it.
  EXPECT_EQ(shellCommand(mailerCommands("x $Y")[0], "mailto:?a=b"),
            (Words{"/bin/sh", "-c", "x $Y \"$1\"", "sh", "mailto:?a=b"}));
}

}  // namespace
}  // namespace mail
