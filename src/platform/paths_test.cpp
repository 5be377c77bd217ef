#include "platform/paths.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>

#include "testing/scratch_directory.h"

namespace platform {
namespace {

TEST(StandardizedPath, RemovesDotsAndDoubleSeparators) {
  EXPECT_EQ(standardizedPath("/a/./b//c/"), "/a/b/c");
  EXPECT_EQ(standardizedPath("/a/b/../c"), "/a/c");
  EXPECT_EQ(standardizedPath("/.."), "/");
  EXPECT_EQ(standardizedPath("/"), "/");
  EXPECT_EQ(standardizedPath("/a/../../b"), "/b");
}

TEST(AppendingPathComponent, JoinsWithOneSeparator) {
  EXPECT_EQ(appendingPathComponent("/home/u", "x"), "/home/u/x");
  EXPECT_EQ(appendingPathComponent("/home/u/", "x"), "/home/u/x");
  EXPECT_EQ(appendingPathComponent("/", "x"), "/x");
}

class ResolvingLinks : public ::testing::Test {
 protected:
  void SetUp() override { std::filesystem::create_directories(root_ + "/real/inner"); }
  testing_support::ScratchDirectory scratch_;
  const std::string& root_ = scratch_.path();
};

TEST_F(ResolvingLinks, PathWithoutLinksIsUnchanged) {
  EXPECT_EQ(resolvingSymlinksInPath(root_ + "/real/inner"), root_ + "/real/inner");
  EXPECT_EQ(resolvingSymlinksInPath(root_ + "/real/./inner/../inner"), root_ + "/real/inner");
}

TEST_F(ResolvingLinks, MissingComponentsStayAsTheyAre) {
  EXPECT_EQ(resolvingSymlinksInPath(root_ + "/real/missing/deeper"), root_ + "/real/missing/deeper");
}

TEST_F(ResolvingLinks, AbsoluteAndRelativeLinksAreReplaced) {
  std::filesystem::create_symlink(root_ + "/real", root_ + "/absolute");
  std::filesystem::create_symlink("real/inner", root_ + "/relative");
  EXPECT_EQ(resolvingSymlinksInPath(root_ + "/absolute/inner"), root_ + "/real/inner");
  EXPECT_EQ(resolvingSymlinksInPath(root_ + "/relative/missing"), root_ + "/real/inner/missing");
}

TEST_F(ResolvingLinks, DotDotAfterALinkLeavesTheTarget) {
  std::filesystem::create_symlink(root_ + "/real/inner", root_ + "/deep");
  EXPECT_EQ(resolvingSymlinksInPath(root_ + "/deep/../x"), root_ + "/real/x");
}

TEST_F(ResolvingLinks, LinkLoopsGiveNothing) {
  std::filesystem::create_symlink(root_ + "/loop", root_ + "/loop");
  EXPECT_EQ(resolvingSymlinksInPath(root_ + "/loop/x"), std::nullopt);
  EXPECT_EQ(resolvingSymlinksInPath("relative/path"), std::nullopt);
}

// Links are followed to what they lead to; a loop or nothing is none.
TEST_F(ResolvingLinks, KindsFollowLinks) {
  std::filesystem::create_symlink(root_ + "/real", root_ + "/to-dir");
  std::filesystem::create_symlink(root_ + "/loop", root_ + "/loop");
  EXPECT_EQ(pathKindFollowingLinks(root_ + "/to-dir"), PathKind::directory);
  EXPECT_EQ(pathKindFollowingLinks(root_ + "/loop"), PathKind::none);
  EXPECT_EQ(pathKindFollowingLinks(root_ + "/missing"), PathKind::none);
  EXPECT_EQ(pathKindFollowingLinks("/dev/null"), PathKind::other);
  EXPECT_EQ(absolutePath("/a/b"), "/a/b");
  EXPECT_EQ(absolutePath("b"), appendingPathComponent(std::filesystem::current_path().string(), "b"));
}

}  // namespace
}  // namespace platform
