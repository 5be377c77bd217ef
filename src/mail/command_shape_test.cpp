#include "mail/command_shape.h"

#include <gtest/gtest.h>

namespace mail {
namespace {

struct ShapeCase {
  std::vector<std::string> words;
  std::size_t program;
  bool inTerminal;
  bool flatpak;
  Client client;
};

// The program a command finally runs, through env, flatpak run and the
// command options of terminals; a terminal's other options (a title that
// names a client) are no program.
TEST(CommandShapeTest, FindsTheProgramTheCommandFinallyRuns) {
  using C = Client;
  const std::vector<ShapeCase> cases = {
      {{"/usr/bin/thunderbird", "-P", "work"}, 0, false, false, C::Thunderbird},
      {{"env", "-i", "-u", "X", "A=b", "--", "neomutt"}, 6, false, false, C::NeoMutt},
      {{"env", "GTK_THEME=x", "claws-mail", "%u"}, 2, false, false, C::ClawsMail},
      {{"xterm", "-T", "neomutt", "-e", "neomutt", "-F", "rc"}, 4, true, false, C::NeoMutt},
      {{"x-terminal-emulator", "-e", "env", "A=b", "neomutt"}, 4, true, false, C::NeoMutt},
      {{"env", "A=b", "gnome-terminal", "--title", "-e", "--", "neomutt"}, 6, true, false, C::NeoMutt},
      {{"xfce4-terminal", "-x", "sylpheed"}, 2, true, false, C::Sylpheed},
      // xfce4-terminal's -e takes one string to split: not looked through.
      {{"xfce4-terminal", "-e", "neomutt"}, 0, false, false, C::Unknown},
      {{"xterm", "-T", "neomutt"}, 0, false, false, C::Unknown},
      {{"xterm", "-e", "mutt"}, 2, true, false, C::Unknown},
      {{"my-terminal", "-e", "neomutt"}, 0, false, false, C::Unknown},
      {{"sh", "-c", "neomutt \"$1\"", "sh"}, 0, false, false, C::Unknown},
      {{"/usr/bin/flatpak", "run", "--branch=stable", "--arch", "x86_64", "--command", "thunderbird",
        "--file-forwarding", "org.mozilla.Thunderbird", "@@u", "%u", "@@"},
       8, false, true, C::Thunderbird},
      {{"flatpak", "run", "org.gnome.Evolution"}, 2, false, true, C::Evolution},
      {{"flatpak", "run", "org.example.Mail"}, 2, false, true, C::Unknown},
      {{"/var/lib/flatpak/exports/bin/org.mozilla.Thunderbird"}, 0, false, true, C::Thunderbird},
      {{"env", "A=b", "org.gnome.Geary"}, 2, false, true, C::Geary},
      {{"flatpak", "list"}, 0, false, false, C::Unknown},
      {{"env", "-S", "neomutt -x"}, 0, false, false, C::Unknown},
      {{"env", "A=b"}, 0, false, false, C::Unknown},
      {{"xterm", "-e"}, 0, false, false, C::Unknown},
  };
  for (const ShapeCase& c : cases) {
    const CommandShape shape = commandShape(c.words);
    std::string name;
    for (const std::string& word : c.words) name += word + " ";
    EXPECT_EQ(shape.program, c.program) << name;
    EXPECT_EQ(shape.inTerminal, c.inTerminal) << name;
    EXPECT_EQ(shape.flatpak, c.flatpak) << name;
    EXPECT_EQ(shape.client, c.client) << name;
  }
}

}  // namespace
}  // namespace mail
