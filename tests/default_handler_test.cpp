// The default mailto handler as the program finds it, side by side with
// the desktop's own `xdg-mime query default` on the same made-up trees of
// configuration and data directories. Each case also names the handler it
// was built to have, so that agreeing on a wrong answer fails too.
//
// Only trees on which xdg-mime keeps the rules stand here. Where it departs
// from them (it reads only the first id of a list, ignores removed
// associations, and counts an entry only when its program is on PATH) the
// unit tests of the decision (mime_apps_test.cpp) hold the rules.
#include <gtest/gtest.h>
#include <unistd.h>

#include <map>
#include <string>

#include "harness.h"
#include "mail/mime_apps_files.h"

namespace {

using namespace harness;

struct TreeCase {
  std::string name;
  std::string currentDesktop;                // "" leaves XDG_CURRENT_DESKTOP unset
  std::map<std::string, std::string> files;  // path under the tree's root → text
  std::string expected;                      // the handler's desktop id; "" for none
};

void PrintTo(const TreeCase& c, std::ostream* os) { *os << c.name; }

std::string defaults(const std::string& ids) {
  return "[Default Applications]\nx-scheme-handler/mailto=" + ids + "\n";
}

// Every tree has a.desktop, b.desktop and c.desktop in the last data
// directory, none of them naming a MIME type itself; "gone.desktop" is
// installed nowhere. "config/" stands for ~/.config: XDG_CONFIG_HOME stays
// unset.
std::vector<TreeCase> treeCases() {
  const std::string png = "[Default Applications]\nimage/png=a.desktop\n";
  return {
      {"UserListOverridesTheSystemDefaults", "",
       {{"config/mimeapps.list", defaults("a.desktop")}, {"sys1/mimeapps.list", defaults("b.desktop")},
        {"share1/applications/mimeapps.list", defaults("c.desktop")}},
       "a.desktop"},
      {"DesktopListGoesBeforeThePlainOne", "X-Test:GNOME",
       {{"config/mimeapps.list", defaults("a.desktop")}, {"config/gnome-mimeapps.list", defaults("b.desktop")},
        {"config/kde-mimeapps.list", defaults("c.desktop")}},
       "b.desktop"},
      {"FirstDesktopNameGoesFirst", "X-Test:GNOME",
       {{"config/gnome-mimeapps.list", defaults("b.desktop")}, {"config/x-test-mimeapps.list", defaults("c.desktop")}},
       "c.desktop"},
      {"ListNamingNothingInstalledGivesWay", "",
       {{"config/mimeapps.list", defaults("gone.desktop;")}, {"sys1/mimeapps.list", png},
        {"sys2/mimeapps.list", defaults("c.desktop")}, {"share1/applications/mimeapps.list", defaults("b.desktop")}},
       "c.desktop"},
      {"DataHomeListGoesBeforeTheDataDirectories", "",
       {{"data/applications/mimeapps.list", defaults("b.desktop")},
        {"share1/applications/mimeapps.list", defaults("c.desktop")}},
       "b.desktop"},
      {"DefaultsListOfADataDirectory", "", {{"share2/applications/defaults.list", defaults("c.desktop")}}, "c.desktop"},
      {"CacheWhenNothingNamesADefault", "",
       {{"share1/applications/mimeinfo.cache", "[MIME Cache]\nx-scheme-handler/mailto=c.desktop;a.desktop;\n"}},
       "c.desktop"},
      {"NoHandler", "", {{"config/mimeapps.list", "[Default Applications]\nx-scheme-handler/http=a.desktop\n"}}, ""},
  };
}

class DefaultHandler : public ::testing::TestWithParam<TreeCase> {};

TEST_P(DefaultHandler, AgreesWithXdgMime) {
  if (::access("/usr/bin/xdg-mime", X_OK) != 0) GTEST_SKIP() << "xdg-utils is not installed";
  const TreeCase& c = GetParam();
  TempDir tree;
  const fs::path& root = tree.path();
  for (const char* dir : {"home/.config", "sys1", "sys2", "data/applications", "share1/applications",
                          "share2/applications"}) {
    fs::create_directories(root / dir);
  }
  for (const char* entry : {"a.desktop", "b.desktop", "c.desktop"}) {
    writeFile(root / "share2/applications" / entry, "[Desktop Entry]\nType=Application\nExec=/bin/true %u\n", 0644);
  }
  for (const auto& [path, text] : c.files) {
    writeFile(path.starts_with("config/") ? root / "home/.config" / path.substr(7) : root / path, text, 0644);
  }

  const mail::XdgEnvironment ours{(root / "home").string(),
                                            "",
                                            (root / "sys1").string() + ":" + (root / "sys2").string(),
                                            (root / "data").string(),
                                            (root / "share1").string() + ":" + (root / "share2").string(),
                                            c.currentDesktop,
                                            "/usr/bin:/bin"};
  Environment env = minimalEnvironment(root / "home");
  env["XDG_CONFIG_DIRS"] = ours.configDirs;
  env["XDG_DATA_HOME"] = ours.dataHome;
  env["XDG_DATA_DIRS"] = ours.dataDirs;
  if (!c.currentDesktop.empty()) env["XDG_CURRENT_DESKTOP"] = c.currentDesktop;

  const RunResult reference = run("/usr/bin/xdg-mime", {"query", "default", "x-scheme-handler/mailto"}, env);
  ASSERT_EQ(reference.exitStatus, 0) << describe(reference);
  std::string answer = reference.out.substr(0, reference.out.find('\n'));

  const auto found = mail::findDefaultApplication(ours, "x-scheme-handler/mailto");
  EXPECT_EQ(found ? found->desktopId : "", answer);
  EXPECT_EQ(answer, c.expected) << "the tree does not have the handler it was made for";
  if (found) {
    EXPECT_EQ(mail::execTexts(found->entry.exec), (std::vector<std::string>{"/bin/true", "%u"}));
  }
}

INSTANTIATE_TEST_SUITE_P(Trees, DefaultHandler, ::testing::ValuesIn(treeCases()),
                         [](const auto& info) { return info.param.name; });

// An environment and files no session has: thousands of desktop names and
// configuration directories, lists of a megabyte each, an id of many
// dashes (each a possible subdirectory) and one holding a NUL. The lookup
// reads a bounded part of them and still finds the handler the first list
// names.
TEST(DefaultHandlerLimits, CraftedEnvironmentAndFilesAreReadOnlyInPart) {
  TempDir tree;
  const fs::path& root = tree.path();
  for (const char* dir : {"home/.config", "sys", "share/applications"}) fs::create_directories(root / dir);
  writeFile(root / "share/applications/c.desktop", "[Desktop Entry]\nType=Application\nExec=/bin/true %u\n", 0644);
  std::string dashed = "a";
  while (dashed.size() < 200000) dashed += "-a";
  using namespace std::string_literals;
  writeFile(root / "home/.config/mimeapps.list", defaults(dashed + ".desktop;c.desktop\0.x;c.desktop;"s), 0644);
  writeFile(root / "sys/mimeapps.list", "#" + std::string(1024 * 1024 - 2, 'x') + "\n", 0644);

  std::string desktops = "d0";
  for (int n = 1; n < 2000; ++n) desktops += ":d" + std::to_string(n);
  std::string configDirs = (root / "sys").string();
  for (int n = 1; n < 3000; ++n) configDirs += ":" + (root / "sys").string();
  const mail::XdgEnvironment crafted{(root / "home").string(), "", configDirs, "",
                                               (root / "share").string(), desktops, "/usr/bin:/bin"};

  const auto found = mail::findDefaultApplication(crafted, "x-scheme-handler/mailto");
  ASSERT_TRUE(found);
  EXPECT_EQ(found->desktopId, "c.desktop");
}

}  // namespace
