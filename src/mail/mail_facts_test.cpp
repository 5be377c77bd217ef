#include "mail/mail_facts.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "testing/scratch_directory.h"

namespace mail {
namespace {

namespace fs = std::filesystem;

void write(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path) << text;
}

std::string mailto(const std::string& ids) { return "[Default Applications]\nx-scheme-handler/mailto=" + ids + "\n"; }

// The user's own lists decide in their order; a list that is there but
// cannot be read leaves the choice unknown.
TEST(MailFactsTest, UserMailtoHandlerIsReadFromTheUsersOwnLists) {
  const testing_support::ScratchDirectory scratch;
  const fs::path home = scratch.path();
  const fs::path config = home / ".config";
  EXPECT_EQ(userMailtoHandler(home.string(), "GNOME"), "");
  write(config / "mimeapps.list", "[Added Associations]\nx-scheme-handler/mailto=a.desktop\n");
  EXPECT_EQ(userMailtoHandler(home.string(), "GNOME"), "");
  write(config / "mimeapps.list", mailto("org.gnome.Evolution.desktop;thunderbird.desktop;"));
  EXPECT_EQ(userMailtoHandler(home.string(), "GNOME"), "org.gnome.Evolution.desktop");
  EXPECT_EQ(userMailtoHandler(home.string(), ""), "org.gnome.Evolution.desktop");
  write(config / "gnome-mimeapps.list", mailto("thunderbird.desktop"));
  EXPECT_EQ(userMailtoHandler(home.string(), "ubuntu:GNOME"), "thunderbird.desktop");
  EXPECT_EQ(userMailtoHandler(home.string(), "KDE"), "org.gnome.Evolution.desktop");
  EXPECT_EQ(userMailtoHandler("relative", "GNOME"), "");
  EXPECT_EQ(userMailtoHandler("", "GNOME"), "");
  if (geteuid() != 0) {
    ASSERT_EQ(chmod((config / "gnome-mimeapps.list").c_str(), 0), 0);
    EXPECT_EQ(userMailtoHandler(home.string(), "GNOME"), "");
  }
  fs::remove(config / "gnome-mimeapps.list");
  fs::create_directory(config / "gnome-mimeapps.list");
  EXPECT_EQ(userMailtoHandler(home.string(), "GNOME"), "") << "a list that cannot be read";
}

}  // namespace
}  // namespace mail
