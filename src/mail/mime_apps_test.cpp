#include "mail/mime_apps.h"

#include <gtest/gtest.h>

#include <set>

namespace mail {
namespace {

using Ids = std::vector<std::string>;
using Kind = MimeAppsFile::Kind;
constexpr std::string_view kMailto = "x-scheme-handler/mailto";

TEST(MimeAppsTest, ListedIdsReadsTheFirstKeyOfTheGroup) {
  const std::string text =
      "# x-scheme-handler/mailto=comment.desktop\n"
      "[Added Associations]\nx-scheme-handler/mailto=added.desktop;\n"
      "[Default Applications]\r\n"
      "x-scheme-handler/mailtox=longer.desktop\n"
      "#x-scheme-handler/mailto=commented.desktop\n"
      "  x-scheme-handler/mailto = a.desktop; ;b.desktop ;\r\n"
      "x-scheme-handler/mailto=second.desktop\n"
      "[Default Applications]\nx-scheme-handler/mailto=third.desktop\n";
  EXPECT_EQ(listedIds(text, "Default Applications", kMailto), (Ids{"a.desktop", "b.desktop"}));
  EXPECT_EQ(listedIds(text, "Added Associations", kMailto), (Ids{"added.desktop"}));
  EXPECT_EQ(listedIds(text, "Removed Associations", kMailto), Ids{});
  EXPECT_EQ(listedIds("[Default Applications] x\nx-scheme-handler/mailto=a\n", "Default Applications", kMailto),
            Ids{});
}

// Made-up files in order of precedence and a made-up set of installed ids.
class DefaultApplicationTest : public ::testing::Test {
 protected:
  void add(Kind kind, std::size_t level, std::string text) { files_.push_back({kind, level, std::move(text)}); }
  std::string decide() const {
    return defaultApplication(files_, kMailto, [this](const std::string& id) { return installed_.count(id) > 0; });
  }
  static std::string defaults(std::string_view ids) {
    return "[Default Applications]\nx-scheme-handler/mailto=" + std::string(ids) + "\n";
  }

  std::vector<MimeAppsFile> files_;
  std::set<std::string> installed_{"a.desktop", "b.desktop", "c.desktop", "d.desktop"};
};

TEST_F(DefaultApplicationTest, FirstListNamingAnInstalledIdDecides) {
  EXPECT_EQ(decide(), "");
  add(Kind::DesktopList, 0, "[Default Applications]\nimage/png=d.desktop\n");
  add(Kind::List, 0, defaults("gone.desktop;b.desktop;a.desktop"));
  add(Kind::List, 0, defaults("c.desktop"));
  EXPECT_EQ(decide(), "b.desktop");
  // A desktop's own list goes before the plain one.
  files_.insert(files_.begin(), {Kind::DesktopList, 0, defaults("d.desktop")});
  EXPECT_EQ(decide(), "d.desktop");
  // A list naming nothing installed gives way to the next one.
  installed_ = {"c.desktop", "d.desktop"};
  files_.erase(files_.begin());
  EXPECT_EQ(decide(), "c.desktop");
}

TEST_F(DefaultApplicationTest, DefaultsListComesAfterEveryListAndBeforeAssociations) {
  add(Kind::List, 0, "[Added Associations]\nx-scheme-handler/mailto=a.desktop\n");
  add(Kind::OldDefaults, 1, defaults("gone.desktop;b.desktop"));
  add(Kind::List, 2, defaults("gone.desktop"));
  add(Kind::Cache, 2, "[MIME Cache]\nx-scheme-handler/mailto=c.desktop;\n");
  EXPECT_EQ(decide(), "b.desktop");
  files_.push_back({Kind::List, 3, defaults("d.desktop")});
  EXPECT_EQ(decide(), "d.desktop");
}

TEST_F(DefaultApplicationTest, WithoutDefaultsTheMostPreferredAssociationDecides) {
  add(Kind::Cache, 1, "[MIME Cache]\nx-scheme-handler/mailto=gone.desktop;c.desktop;d.desktop;\n");
  add(Kind::Cache, 2, "[MIME Cache]\nx-scheme-handler/mailto=a.desktop;\n");
  EXPECT_EQ(decide(), "c.desktop");
  add(Kind::List, 2, "[Added Associations]\nx-scheme-handler/mailto=gone.desktop;b.desktop\n");
  EXPECT_EQ(decide(), "b.desktop");
  // Associations in a desktop's own list are not read.
  files_.insert(files_.begin(), {Kind::DesktopList, 0, "[Added Associations]\nx-scheme-handler/mailto=a.desktop\n"});
  EXPECT_EQ(decide(), "b.desktop");
}

// A removed association holds for the entries of its own directory and of
// every later one, and for the defaults of its own list and later lists.
TEST_F(DefaultApplicationTest, RemovedAssociationsArePassedOver) {
  add(Kind::List, 0, "[Removed Associations]\nx-scheme-handler/mailto=a.desktop;b.desktop\n" + defaults("b.desktop"));
  add(Kind::List, 1, defaults("a.desktop;c.desktop"));
  EXPECT_EQ(decide(), "c.desktop");

  files_ = {{Kind::List, 0, defaults("a.desktop")},
            {Kind::List, 1, "[Removed Associations]\nx-scheme-handler/mailto=a.desktop\n"}};
  EXPECT_EQ(decide(), "a.desktop") << "a later list cannot take back an earlier default";

  files_ = {{Kind::List, 2, "[Removed Associations]\nx-scheme-handler/mailto=c.desktop;d.desktop\n"},
            {Kind::Cache, 1, "[MIME Cache]\nx-scheme-handler/mailto=c.desktop;\n"},
            {Kind::Cache, 2, "[MIME Cache]\nx-scheme-handler/mailto=d.desktop;a.desktop;\n"}};
  EXPECT_EQ(decide(), "c.desktop") << "an earlier directory's entry stays associated";
  files_.erase(files_.begin() + 1);
  EXPECT_EQ(decide(), "a.desktop");

  // A desktop's own list removes nothing.
  files_ = {{Kind::DesktopList, 0, "[Removed Associations]\nx-scheme-handler/mailto=a.desktop\n"},
            {Kind::List, 1, defaults("a.desktop")}};
  EXPECT_EQ(decide(), "a.desktop");
}

// A list of a megabyte that removes and names tens of thousands of ids:
// the removals at its far end still hold for installed ids.
TEST_F(DefaultApplicationTest, RemovalsAtTheEndOfAListOfAMegabyteHold) {
  installed_.insert("r7.desktop");
  std::string removed, named;
  for (int n = 0; n < 60000; ++n) {
    removed += "r" + std::to_string(n) + ".desktop;";
    named += "n" + std::to_string(n) + ".desktop;";
  }
  add(Kind::List, 0, "[Removed Associations]\nx-scheme-handler/mailto=" + removed + "b.desktop\n" +
                         defaults(named + "b.desktop;r7.desktop;c.desktop"));
  EXPECT_EQ(decide(), "c.desktop");
}

}  // namespace
}  // namespace mail
