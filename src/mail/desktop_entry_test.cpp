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
      "[Desktop Entry]\r\nName=Mail\nExec = \"/opt/my client/bin/mail\" \"a\\sb\" \"two words\" \"q\\\\\"x\\\\\\\\y\" %u\n"
      "Exec=second\nTerminal=true\n[Other]\nTerminal=false\n");
  ASSERT_TRUE(entry);
  EXPECT_EQ(execTexts(entry->exec), (Words{"/opt/my client/bin/mail", "a b", "two words", "q\"x\\y", "%u"}));
  EXPECT_TRUE(entry->exec.back().target);
  EXPECT_TRUE(entry->terminal);
}

// A key repeated in the group counts once, by its first occurrence, for
// Terminal as for Exec.
TEST(DesktopEntryTest, FirstOccurrenceOfEveryKeyCounts) {
  const auto first = parseDesktopEntry("[Desktop Entry]\nTerminal=true\nExec=a\nTerminal=false\nExec=b\n");
  ASSERT_TRUE(first);
  EXPECT_EQ(execTexts(first->exec), Words{"a"});
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
  // A NUL would cut the program's name short where it is started.
  using namespace std::string_view_literals;
  EXPECT_FALSE(parseDesktopEntry("[Desktop Entry]\nExec=/usr/bin/evil\0/thunderbird %u\n"sv));
  EXPECT_FALSE(parseDesktopEntry("[Desktop Entry]\nExec=thunderbird %u\n# \0\n"sv));
  // A backslash that starts no string escape breaks the value.
  EXPECT_FALSE(parseDesktopEntry("[Desktop Entry]\nExec=\"a\\\"b\" %u\n"));
  EXPECT_FALSE(parseDesktopEntry("[Desktop Entry]\nExec=a %u\\\n"));
}

// %i, %c and %k take the entry's Icon, Name and own place.
TEST(DesktopEntryTest, FieldCodesTakeTheEntrysKeys) {
  const auto entry = parseDesktopEntry(
      "[Desktop Entry]\nExec=mail %i %c %k %U\nName=My\\sMail\nIcon=mail-icon\nTryExec=mail\n", "/d/mail.desktop");
  ASSERT_TRUE(entry);
  EXPECT_EQ(execTexts(entry->exec), (Words{"mail", "--icon", "mail-icon", "My Mail", "/d/mail.desktop", "%U"}));
  EXPECT_EQ(entry->tryExec, "mail");
  const auto bare = parseDesktopEntry("[Desktop Entry]\nExec=mail %i %c %u\n");
  ASSERT_TRUE(bare);
  EXPECT_EQ(execTexts(bare->exec), (Words{"mail", "%u"}));
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
  const std::string path = "/usr/bin:/bin";
  EXPECT_EQ(execTexts(findDesktopEntry(dirs, "kde4-kmail.desktop", path)->exec), (Words{"nested", "%u"}));
  EXPECT_EQ(execTexts(findDesktopEntry(dirs, "mail.desktop", path)->exec), (Words{"mail", "%u"}));
  EXPECT_FALSE(findDesktopEntry(dirs, "none.desktop", path));
  // An id is a file name, never a path.
  EXPECT_FALSE(findDesktopEntry(dirs, "../applications/mail.desktop", path));
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

// An entry whose TryExec program is not installed is not used: it does not
// give way to a later directory's entry of the same id either.
TEST(DesktopEntryTest, EntryWithAMissingTryExecProgramIsNotUsed) {
  const testing_support::ScratchDirectory scratch;
  namespace fs = std::filesystem;
  const fs::path dir = fs::path(scratch.path()) / "data";
  const fs::path bin = fs::path(scratch.path()) / "bin";
  fs::create_directories(dir / "applications");
  fs::create_directories(bin);
  std::ofstream(bin / "present") << "#!/bin/sh\n";
  fs::permissions(bin / "present", fs::perms::owner_all);
  std::ofstream(bin / "not-executable") << "#!/bin/sh\n";
  fs::permissions(bin / "not-executable", fs::perms::owner_read);
  const Words dirs = {dir.string()};
  const std::string path = "relative:" + bin.string();
  for (const auto& [tryExec, used] : std::vector<std::pair<std::string, bool>>{
           {"present", true}, {(bin / "present").string(), true}, {"missing", false}, {"not-executable", false},
           {(bin / "missing").string(), false}, {"bin/present", false}}) {
    std::ofstream(dir / "applications" / "mail.desktop") << "[Desktop Entry]\nExec=mail %u\nTryExec=" << tryExec << "\n";
    EXPECT_EQ(findDesktopEntry(dirs, "mail.desktop", path).has_value(), used) << tryExec;
  }
}

}  // namespace
}  // namespace mail
