#include "mail/exec_line.h"

#include <gtest/gtest.h>

namespace mail {
namespace {

using Words = std::vector<std::string>;

struct LineCase {
  std::string exec;  // the value after its string escapes
  std::optional<Words> words;
  int target = -1;  // which word is the target; -1 for none
};

// Quoting, escapes and field codes of made-up lines; nothing where a line
// breaks the rules, which no entry may then be started with.
TEST(ExecLineTest, ReadsLinesByTheRules) {
  const ExecKeys keys{"My Mail", "mail-icon", "/a/mail.desktop"};
  const std::vector<LineCase> cases = {
      {"thunderbird %u", Words{"thunderbird", "%u"}, 1},
      {"  a  b   %U  ", Words{"a", "b", "%U"}, 2},
      {"\"/opt/my mail/m\" -x \"a b\" %F", Words{"/opt/my mail/m", "-x", "a b", "%F"}, 3},
      {"sh -c \"neomutt \\\"\\$1\\\" \\`x\\` \\\\\" sh %u", Words{"sh", "-c", "neomutt \"$1\" `x` \\", "sh", "%u"}, 4},
      {"a \"quote's; <>|&*?#()~ \t\n\"", Words{"a", "quote's; <>|&*?#()~ \t\n"}},
      {"env A=b c=d client %f", Words{"env", "A=b", "c=d", "client", "%f"}, 4},
      {"a %%u 100%% \"50%%\"", Words{"a", "%u", "100%", "50%"}},
      {"a %d %D b%n%N %v %m c", Words{"a", "b", "c"}},
      {"a \"\" %u", Words{"a", "", "%u"}, 2},
      {"a %i %c %k %u", Words{"a", "--icon", "mail-icon", "My Mail", "/a/mail.desktop", "%u"}, 5},
      {"flatpak run --file-forwarding org.x.Y @@u %u @@", Words{"flatpak", "run", "--file-forwarding", "org.x.Y", "@@u", "%u", "@@"}, 5},
      // Broken lines.
      {"", std::nullopt},
      {"   ", std::nullopt},
      {"%u a", std::nullopt},
      {"%c a", std::nullopt},
      {"%d", std::nullopt},
      {"\"\" %u", std::nullopt},
      {"a --x=%u", std::nullopt},
      {"a \"%u\"", std::nullopt},
      {"a \"%\"", std::nullopt},
      {"a %u %U", std::nullopt},
      {"a %f %u", std::nullopt},
      {"a %x", std::nullopt},
      {"a %", std::nullopt},
      {"a b%", std::nullopt},
      {"a b'c", std::nullopt},
      {"a $HOME", std::nullopt},
      {"a ~/x", std::nullopt},
      {"a b;c", std::nullopt},
      {"a\tb", std::nullopt},
      {"a b\\c", std::nullopt},
      {"a \"b", std::nullopt},
      {"a \"b\"c", std::nullopt},
      {"a x\"b\"", std::nullopt},
      {"a \"$x\"", std::nullopt},
      {"a \"`x`\"", std::nullopt},
      {"a \"x\\y\"", std::nullopt},
      {"a \"x\\\"", std::nullopt},
  };
  for (const LineCase& c : cases) {
    const auto words = parseExecLine(c.exec, keys);
    ASSERT_EQ(words.has_value(), c.words.has_value()) << c.exec;
    if (!words) continue;
    EXPECT_EQ(execTexts(*words), *c.words) << c.exec;
    for (std::size_t i = 0; i < words->size(); ++i) {
      EXPECT_EQ((*words)[i].target, static_cast<int>(i) == c.target) << c.exec << " word " << i;
    }
  }
}

}  // namespace
}  // namespace mail
