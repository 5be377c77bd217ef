#include "job/job_invocation.h"

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>

#include "testing/scratch_directory.h"

namespace {

TEST(JobCommandLine, OnlyTheExactFormPasses) {
  EXPECT_EQ(jobIdArgument({"prog", "--job", "x"}), "x");
  EXPECT_FALSE(jobIdArgument({}));
  EXPECT_FALSE(jobIdArgument({"prog"}));
  EXPECT_FALSE(jobIdArgument({"prog", "--job"}));
  EXPECT_FALSE(jobIdArgument({"prog", "--job", "x", "y"}));
  EXPECT_FALSE(jobIdArgument({"prog", "--JOB", "x"}));
  EXPECT_FALSE(jobIdArgument({"prog", "-job", "x"}));
  EXPECT_FALSE(jobIdArgument({"prog", "--job=x"}));
}

TEST(JobId, CanonicalLowerCaseFormOnly) {
  EXPECT_TRUE(isCanonicalJobId("00000000-0000-0000-0000-000000000000"));
  EXPECT_TRUE(isCanonicalJobId("0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0"));
  EXPECT_TRUE(isCanonicalJobId("ffffffff-ffff-ffff-ffff-ffffffffffff"));
  for (const char* bad : {"0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0", "0f1e2d3c-4b5a-6978-8796-A5b4c3d2e1f0",
                          "{0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0}", "0f1e2d3c4b5a69788796a5b4c3d2e1f0",
                          " 0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0", "0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0 ",
                          "0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1fg", "0f1e2d3c-4b5a-6978-87960a5b4c3d2e1f0",
                          "0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f", "", "../../../../etc/passwd-0000000000"}) {
    EXPECT_FALSE(isCanonicalJobId(bad)) << bad;
  }
}

TEST(Channel, OnlyTheTwoExactTexts) {
  using platform::PlistValue;
  const PlistValue dev{std::string("dev")};
  const PlistValue prod{std::string("prod")};
  EXPECT_EQ(toolDirectoryForChannel(&dev), ".vantrel-devtool-dev");
  EXPECT_EQ(toolDirectoryForChannel(&prod), ".vantrel-devtool");
  EXPECT_FALSE(toolDirectoryForChannel(nullptr));
  for (const PlistValue& bad :
       {PlistValue{std::int64_t{1}}, PlistValue{true}, PlistValue{platform::PlistDate{}},
        PlistValue{platform::PlistData{"dev"}}, PlistValue{platform::PlistArray{dev}},
        PlistValue{std::string("")}, PlistValue{std::string("Dev")}, PlistValue{std::string("PROD")},
        PlistValue{std::string(" dev")}, PlistValue{std::string("production")}}) {
    EXPECT_FALSE(toolDirectoryForChannel(&bad));
  }
}

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

TEST_F(JobPlace, ALinkAtAnyComponentFails) {
  std::filesystem::create_directory_symlink(root_ + "/home", root_ + "/home-link");
  EXPECT_FALSE(hasNoSymbolicLinkOnPath(root_ + "/home-link/.t/support-drafts/id"));
  std::filesystem::create_directory_symlink("id", root_ + "/home/.t/support-drafts/id-link");
  EXPECT_FALSE(hasNoSymbolicLinkOnPath(root_ + "/home/.t/support-drafts/id-link"));
  // ".." after a link leaves the link's target, not the link's parent.
  std::filesystem::create_directories(root_ + "/elsewhere/deep");
  std::filesystem::create_directory_symlink(root_ + "/elsewhere/deep", root_ + "/home/jump");
  EXPECT_FALSE(hasNoSymbolicLinkOnPath(root_ + "/home/jump/../.t/support-drafts/id"));
}

TEST_F(JobPlace, DirectoryIsLocatedUnderTheHomeItIsGiven) {
  const auto found = locateJobDirectory(root_ + "/home", ".t", "id");
  ASSERT_TRUE(found);
  EXPECT_EQ(found->path(), root_ + "/home/.t/support-drafts/id");
  EXPECT_FALSE(locateJobDirectory(root_ + "/home", ".t", "missing"));
  EXPECT_FALSE(locateJobDirectory(root_ + "/home", ".other", "id"));
  EXPECT_FALSE(locateJobDirectory(root_ + "/elsewhere", ".t", "id"));
}

TEST_F(JobPlace, LinksAndLevelsOthersCanWriteAreRefused) {
  std::filesystem::create_directory_symlink(root_ + "/home", root_ + "/home-link");
  EXPECT_FALSE(locateJobDirectory(root_ + "/home-link", ".t", "id"));
  // Every level from the home down is judged, the home included.
  for (const std::string level : {"/home", "/home/.t", "/home/.t/support-drafts", "/home/.t/support-drafts/id"}) {
    const std::string path = root_ + level;
    ASSERT_EQ(::chmod(path.c_str(), 0770), 0);
    EXPECT_FALSE(locateJobDirectory(root_ + "/home", ".t", "id")) << level;
    ASSERT_EQ(::chmod(path.c_str(), 0700), 0);
  }
  EXPECT_TRUE(locateJobDirectory(root_ + "/home", ".t", "id"));
}

}  // namespace
