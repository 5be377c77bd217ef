#include "mail/desktop_entry.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "testing/scratch_directory.h"

namespace mail {
namespace {

using Words = std::vector<std::string>;

TEST(DesktopEntryTest, ReadsExecAndTerminalOfTheMainGroupOnly) {
  const auto entry = parseDesktopEntry(
      "# comment\n[Desktop Action compose]\nExec=wrong --compose\n"
      "[Desktop Entry]\r\nName=Mail\nExec = \"/opt/my client/bin/mail\" a\\sb \"two words\" \"q\\\\\"x\\\\\\\\y\" %u\n"
      "Exec=second\nTerminal=true\n[Other]\nTerminal=false\n");
  ASSERT_TRUE(entry);
  EXPECT_EQ(entry->exec, (Words{"/opt/my client/bin/mail", "a", "b", "two words", "q\"x\\y", "%u"}));
  EXPECT_TRUE(entry->terminal);
}

// A key repeated in the group counts once, by its first occurrence, for
// Terminal as for Exec.
TEST(DesktopEntryTest, FirstOccurrenceOfEveryKeyCounts) {
  const auto first = parseDesktopEntry("[Desktop Entry]\nTerminal=true\nExec=a\nTerminal=false\nExec=b\n");
  ASSERT_TRUE(first);
  EXPECT_EQ(first->exec, Words{"a"});
  EXPECT_TRUE(first->terminal);
  const auto second = parseDesktopEntry("[Desktop Entry]\nTerminal=false\nExec=a\nTerminal=true\n");
  ASSERT_TRUE(second);
  EXPECT_FALSE(second->terminal);
}

TEST(DesktopEntryTest, NoEntryWithoutExecOrWithBrokenQuoting) {
  EXPECT_FALSE(parseDesktopEntry("[Desktop Entry]\nName=x\n"));
  EXPECT_FALSE(parseDesktopEntry("[Desktop Entry]\nExec=\"unterminated %u\n"));
  EXPECT_FALSE(parseDesktopEntry("[Desktop Entry]\nExec=   \n"));
  EXPECT_FALSE(parseDesktopEntry("[Other]\nExec=x\n"));
  EXPECT_FALSE(parseDesktopEntry("[Desktop Entry]\nTerminal=true\n"));
  // No program: an empty first word, or a field code in its place.
  EXPECT_FALSE(parseDesktopEntry("[Desktop Entry]\nExec=\"\" %u\n"));
  EXPECT_FALSE(parseDesktopEntry("[Desktop Entry]\nExec=\\s%U thunderbird\n"));
  // A NUL would cut the program's name short where it is started.
  using namespace std::string_view_literals;
  EXPECT_FALSE(parseDesktopEntry("[Desktop Entry]\nExec=/usr/bin/evil\0/thunderbird %u\n"sv));
  EXPECT_FALSE(parseDesktopEntry("[Desktop Entry]\nExec=thunderbird %u\n# \0\n"sv));
}

TEST(DesktopEntryTest, DataDirectoriesFollowTheBaseDirectoryRules) {
  EXPECT_EQ(dataDirectories(nullptr, nullptr, "/home/u"),
            (Words{"/home/u/.local/share", "/usr/local/share", "/usr/share"}));
  EXPECT_EQ(dataDirectories("/d/home", "relative::/d/one:/d/two", "/home/u"), (Words{"/d/home", "/d/one", "/d/two"}));
  EXPECT_EQ(dataDirectories("relative", "", ""), (Words{"/usr/local/share", "/usr/share"}));
}

TEST(DesktopEntryTest, FindsTheFirstEntryAlongTheDirectories) {
  const testing_support::ScratchDirectory scratch;
  namespace fs = std::filesystem;
  const fs::path first = fs::path(scratch.path()) / "first";
  const fs::path second = fs::path(scratch.path()) / "second";
  fs::create_directories(first / "applications" / "kde4");
  fs::create_directories(second / "applications");
  std::ofstream(first / "applications" / "kde4" / "kmail.desktop") << "[Desktop Entry]\nExec=nested %u\n";
  std::ofstream(second / "applications" / "kde4-kmail.desktop") << "[Desktop Entry]\nExec=later %u\n";
  std::ofstream(second / "applications" / "mail.desktop") << "[Desktop Entry]\nExec=mail %u\n";
  const Words dirs = {first.string(), second.string()};
  EXPECT_EQ(findDesktopEntry(dirs, "kde4-kmail.desktop")->exec, (Words{"nested", "%u"}));
  EXPECT_EQ(findDesktopEntry(dirs, "mail.desktop")->exec, (Words{"mail", "%u"}));
  EXPECT_FALSE(findDesktopEntry(dirs, "none.desktop"));
  // An id is a file name, never a path.
  EXPECT_FALSE(findDesktopEntry(dirs, "../applications/mail.desktop"));
  EXPECT_TRUE(entryCandidates("/a", "../x.desktop").empty());
  // Nor longer than a file name, nor cut short by a NUL.
  EXPECT_TRUE(entryCandidates("/a", std::string(300, '-') + ".desktop").empty());
  EXPECT_TRUE(entryCandidates("/a", std::string("mail.desktop\0.x", 15)).empty());
  EXPECT_EQ(entryCandidates("/a", "a-b.desktop").size(), 2u);
  // A '-' read as '/' never leads to the directory itself or above it.
  EXPECT_EQ(entryCandidates("/a", "x-.."), (Words{"/a/x-.."}));
  EXPECT_EQ(entryCandidates("/a", "-x.desktop"), (Words{"/a/-x.desktop"}));
  EXPECT_EQ(entryCandidates("/a", "x-."), (Words{"/a/x-."}));
}

}  // namespace
}  // namespace mail
