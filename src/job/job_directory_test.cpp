#include "job/job_directory.h"

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <utility>

#include "testing/scratch_directory.h"

namespace {

TEST(JobDirectory, IsBuiltFromTheHome) {
  EXPECT_EQ(jobDirectoryPath("/home/u", ".t", "id"), "/home/u/.t/support-drafts/id");
  EXPECT_EQ(jobDirectoryPath("/home/u/", ".t", "id"), "/home/u/.t/support-drafts/id");
}

class JobPlace : public ::testing::Test {
 protected:
  void SetUp() override { std::filesystem::create_directories(root_ + "/home/.t/support-drafts/id"); }
  testing_support::ScratchDirectory scratch_;
  const std::string& root_ = scratch_.path();
};

TEST_F(JobPlace, PathsWithoutLinksPass) {
  EXPECT_TRUE(hasNoSymbolicLinkOnPath(root_ + "/home/.t/support-drafts/id"));
  EXPECT_TRUE(hasNoSymbolicLinkOnPath(root_ + "/home/.t/support-drafts/missing"));
  EXPECT_TRUE(hasNoSymbolicLinkOnPath(root_ + "/home/./.t/support-drafts/id"));
  EXPECT_TRUE(hasNoSymbolicLinkOnPath(root_ + "/other/../home/.t/support-drafts/id"));
}

// The reason a job directory is refused for, and the path it names.
std::pair<std::optional<Reason>, std::string> refusal(const DirectoryOpening& opening) {
  if (!opening.breach) return {std::nullopt, ""};
  return {opening.breach->reason, opening.breach->path};
}

std::pair<std::optional<Reason>, std::string> expected(Reason reason, const std::string& path) {
  return {reason, path};
}

TEST_F(JobPlace, DirectoryIsLocatedUnderTheHomeItIsGiven) {
  const auto found = locateJobDirectory(root_ + "/home", ".t", "id");
  ASSERT_TRUE(found.directory);
  EXPECT_FALSE(found.breach);
  EXPECT_EQ(found.directory->path(), root_ + "/home/.t/support-drafts/id");
  EXPECT_EQ(refusal(locateJobDirectory(root_ + "/home", ".t", "missing")),
            expected(Reason::directoryMissing, root_ + "/home/.t/support-drafts/missing"));
  EXPECT_EQ(refusal(locateJobDirectory(root_ + "/home", ".other", "id")),
            expected(Reason::directoryMissing, root_ + "/home/.other"));
  EXPECT_EQ(refusal(locateJobDirectory(root_ + "/elsewhere", ".t", "id")),
            expected(Reason::homeNotFound, root_ + "/elsewhere"));
  EXPECT_EQ(refusal(locateJobDirectory(root_ + "/nowhere/home", ".t", "id")),
            expected(Reason::homeNotFound, root_ + "/nowhere/home"))
      << "a missing directory above the home";
  EXPECT_EQ(refusal(locateJobDirectory("home", ".t", "id")), expected(Reason::homeNotAbsolute, "home"));
}

TEST_F(JobPlace, AMissingLevelLeavesItsParentOpenForAHostToMakeIt) {
  const auto opening = openJobLevels(root_ + "/home", {".t", "support-drafts", "new", "deeper"});
  ASSERT_TRUE(opening.parent);
  EXPECT_EQ(opening.parent->path(), root_ + "/home/.t/support-drafts");
  EXPECT_EQ(opening.missingName, "new");
  ASSERT_EQ(::mkdirat(opening.parent->fd(), "new", 0700), 0);
  const auto again = openJobLevels(root_ + "/home", {".t", "support-drafts", "new"});
  ASSERT_TRUE(again.directory);
  EXPECT_FALSE(again.parent) << "only a missing level leaves a parent";
}

TEST_F(JobPlace, LinksAndLevelsOthersCanWriteAreRefused) {
  std::filesystem::create_directory_symlink(root_ + "/home", root_ + "/home-link");
  EXPECT_FALSE(hasNoSymbolicLinkOnPath(root_ + "/home-link/.t/support-drafts/id"));
  EXPECT_EQ(refusal(locateJobDirectory(root_ + "/home-link", ".t", "id")),
            expected(Reason::directoryLinked, root_ + "/home-link"));
  // The link named is the first on the way, also when ".." leaves it: ".."
  // after a link leaves the link's target, not the link's parent.
  std::filesystem::create_directories(root_ + "/elsewhere/deep");
  std::filesystem::create_directory_symlink(root_ + "/elsewhere/deep", root_ + "/home/jump");
  EXPECT_FALSE(hasNoSymbolicLinkOnPath(root_ + "/home/jump/../.t/support-drafts/id"));
  EXPECT_EQ(refusal(locateJobDirectory(root_ + "/home/jump/../deep", ".t", "id")),
            expected(Reason::directoryLinked, root_ + "/home/jump"));
  std::filesystem::create_directory_symlink("id", root_ + "/home/.t/support-drafts/id-link");
  EXPECT_FALSE(hasNoSymbolicLinkOnPath(root_ + "/home/.t/support-drafts/id-link"));
  EXPECT_EQ(refusal(locateJobDirectory(root_ + "/home", ".t", "id-link")),
            expected(Reason::directoryLinked, root_ + "/home/.t/support-drafts/id-link"));
  // Every level from the home down is judged, the home included.
  for (const std::string level : {"/home", "/home/.t", "/home/.t/support-drafts", "/home/.t/support-drafts/id"}) {
    const std::string path = root_ + level;
    ASSERT_EQ(::chmod(path.c_str(), 0770), 0);
    EXPECT_EQ(refusal(locateJobDirectory(root_ + "/home", ".t", "id")),
              expected(Reason::directoryWritableByOthers, path));
    ASSERT_EQ(::chmod(path.c_str(), 0700), 0);
  }
  EXPECT_TRUE(locateJobDirectory(root_ + "/home", ".t", "id").directory);
}

TEST_F(JobPlace, WhatIsNotADirectoryIsNamed) {
  std::ofstream(root_ + "/home/.t/support-drafts/file") << "x";
  EXPECT_EQ(refusal(locateJobDirectory(root_ + "/home", ".t", "file")),
            expected(Reason::directoryNotDirectory, root_ + "/home/.t/support-drafts/file"));
  std::ofstream(root_ + "/plain") << "x";
  EXPECT_EQ(refusal(locateJobDirectory(root_ + "/plain/home", ".t", "id")),
            expected(Reason::directoryNotDirectory, root_ + "/plain"))
      << "above the home";
}

TEST_F(JobPlace, ADirectoryThatCannotBeSearchedIsNotCalledMissing) {
  if (::geteuid() == 0) GTEST_SKIP() << "the superuser searches any directory";
  const std::string drafts = root_ + "/home/.t/support-drafts";
  ASSERT_EQ(::chmod(drafts.c_str(), 0600), 0);
  EXPECT_EQ(refusal(locateJobDirectory(root_ + "/home", ".t", "id")),
            expected(Reason::directoryUnreadable, drafts + "/id"));
  ASSERT_EQ(::chmod(drafts.c_str(), 0700), 0);
}

}  // namespace
