#include "mail/program_search.h"

#include <gtest/gtest.h>

namespace mail {
namespace {

using Strings = std::vector<std::string>;

TEST(ProgramSearchTest, OnlyAbsoluteDirectoriesAreSearched) {
  EXPECT_EQ(absoluteSearchPath("/usr/bin:/bin"), "/usr/bin:/bin");
  // Empty entries (leading, doubled, trailing) and relative ones stand for
  // the current directory or a place below it.
  EXPECT_EQ(absoluteSearchPath(":/usr/bin::.:bin:../x:/bin/:"), "/usr/bin:/bin/");
  EXPECT_EQ(absoluteSearchPath(".:"), "");
  EXPECT_EQ(absoluteSearchPath(""), "");

  EXPECT_EQ(programCandidates("xdg-email", ".::/usr/bin:bin:/opt/"), (Strings{"/usr/bin/xdg-email", "/opt/xdg-email"}));
  EXPECT_EQ(programCandidates("xdg-email", ":."), Strings{});
  // A name with a '/' is used as it stands; an empty name is nothing.
  EXPECT_EQ(programCandidates("./xdg-email", "/usr/bin"), Strings{"./xdg-email"});
  EXPECT_EQ(programCandidates("", "/usr/bin"), Strings{});
}

TEST(ProgramSearchTest, HandedOnPathKeepsOnlyAbsoluteDirectoriesOnce) {
  // The first PATH entry counts, as for getenv; later ones would be what
  // some shells take, so they go.
  EXPECT_EQ(handedOnEnvironment({"HOME=/h", "PATH=.:/usr/bin::/bin", "LANG=C", "PATH=."}),
            (Strings{"HOME=/h", "PATH=/usr/bin:/bin", "LANG=C"}));
  EXPECT_EQ(handedOnEnvironment({"PATHX=.", "MYPATH=."}), (Strings{"PATHX=.", "MYPATH=."}));
  EXPECT_EQ(searchPathOf({"PATHX=/x", "PATH=.:/usr/bin", "PATH=/y"}), ".:/usr/bin");
  EXPECT_EQ(searchPathOf({"HOME=/h"}), kDefaultSearchPath);
  EXPECT_EQ(environmentValue({"MAILERS=a", "MAILER=", "MAILER=b"}, "MAILER"), "");
  EXPECT_EQ(environmentValue({"MAILER", "=MAILER=x", "MAILE=x"}, "MAILER"), std::nullopt);
}

}  // namespace
}  // namespace mail
