#include "platform/mail/mime_apps_files.h"

#include <gtest/gtest.h>

namespace platform::mail {
namespace {

using Kind = MimeAppsFile::Kind;

std::vector<std::string> described(const std::vector<MimeAppsPlace>& places) {
  std::vector<std::string> lines;
  for (const MimeAppsPlace& place : places) {
    const char* kind = place.kind == Kind::List          ? "list"
                       : place.kind == Kind::DesktopList ? "desktop"
                       : place.kind == Kind::OldDefaults ? "defaults"
                                                         : "cache";
    lines.push_back(std::string(kind) + " " + std::to_string(place.level) + " " + place.path);
  }
  return lines;
}

TEST(MimeAppsFilesTest, PlacesFollowTheDirectoriesAndTheDesktopNames) {
  XdgEnvironment environment{"/h", "/c", "/etc/one:relative::/etc/two", "/d", "/usr/share", "X-Cinnamon::GNOME"};
  EXPECT_EQ(described(mimeAppsPlaces(environment)),
            (std::vector<std::string>{
                "desktop 0 /c/x-cinnamon-mimeapps.list",
                "desktop 0 /c/gnome-mimeapps.list",
                "list 0 /c/mimeapps.list",
                "desktop 0 /etc/one/x-cinnamon-mimeapps.list",
                "desktop 0 /etc/one/gnome-mimeapps.list",
                "list 0 /etc/one/mimeapps.list",
                "desktop 0 /etc/two/x-cinnamon-mimeapps.list",
                "desktop 0 /etc/two/gnome-mimeapps.list",
                "list 0 /etc/two/mimeapps.list",
                "desktop 1 /d/applications/x-cinnamon-mimeapps.list",
                "desktop 1 /d/applications/gnome-mimeapps.list",
                "list 1 /d/applications/mimeapps.list",
                "defaults 1 /d/applications/defaults.list",
                "cache 1 /d/applications/mimeinfo.cache",
                "desktop 2 /usr/share/applications/x-cinnamon-mimeapps.list",
                "desktop 2 /usr/share/applications/gnome-mimeapps.list",
                "list 2 /usr/share/applications/mimeapps.list",
                "defaults 2 /usr/share/applications/defaults.list",
                "cache 2 /usr/share/applications/mimeinfo.cache",
            }));
}

TEST(MimeAppsFilesTest, UnsetOrRelativeDirectoriesTakeTheirDefaults) {
  const auto places = described(mimeAppsPlaces({"/h", "", "", "relative", "", "../evil"}));
  EXPECT_EQ(places, (std::vector<std::string>{
                        "list 0 /h/.config/mimeapps.list",
                        "list 0 /etc/xdg/mimeapps.list",
                        "list 1 /usr/local/share/applications/mimeapps.list",
                        "defaults 1 /usr/local/share/applications/defaults.list",
                        "cache 1 /usr/local/share/applications/mimeinfo.cache",
                        "list 2 /usr/share/applications/mimeapps.list",
                        "defaults 2 /usr/share/applications/defaults.list",
                        "cache 2 /usr/share/applications/mimeinfo.cache",
                    }));
  // Without a home, nothing stands for the user's own directories.
  EXPECT_EQ(described(mimeAppsPlaces({"", "", "/etc/xdg", "", "/usr/share", ""})).front(),
            "list 0 /etc/xdg/mimeapps.list");
}

}  // namespace
}  // namespace platform::mail
