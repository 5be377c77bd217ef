#include "platform/file_io.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

#include "testing/scratch_directory.h"

namespace platform {
namespace {

class FileIo : public ::testing::Test {
 protected:
  void SetUp() override {
    directory_ = Directory::openWithoutLinks(root_);
    ASSERT_TRUE(directory_);
  }
  std::string contents(const std::string& name) {
    std::ifstream in(root_ + "/" + name);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  std::size_t entries() {
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(root_), {}));
  }
  testing_support::ScratchDirectory scratch_;
  const std::string& root_ = scratch_.path();
  std::optional<Directory> directory_;
};

TEST_F(FileIo, OpeningRefusesALinkAnywhereOnThePath) {
  std::filesystem::create_directories(root_ + "/a/b");
  std::filesystem::create_directory_symlink(root_ + "/a", root_ + "/link");
  EXPECT_TRUE(Directory::openWithoutLinks(root_ + "/a/b"));
  EXPECT_TRUE(Directory::openWithoutLinks(root_ + "/a/./b/"));
  EXPECT_FALSE(Directory::openWithoutLinks(root_ + "/link/b"));
  EXPECT_FALSE(Directory::openWithoutLinks(root_ + "/link"));
  EXPECT_FALSE(Directory::openWithoutLinks(root_ + "/missing"));
  EXPECT_FALSE(Directory::openWithoutLinks("relative"));
  EXPECT_EQ(Directory::openWithoutLinks(root_ + "/a/./b/")->path(), root_ + "/a/./b/") << "the path as given";
}

TEST_F(FileIo, AtomicWriteReplacesWholeAndLeavesNoTemporary) {
  std::ofstream(root_ + "/result.json") << "an older and much longer document";
  ASSERT_TRUE(writeFileAtomically(childOf(*directory_, "result.json"), "{}"));
  EXPECT_EQ(contents("result.json"), "{}");
  EXPECT_EQ(entries(), 1u);
  struct stat st {};
  ASSERT_EQ(::stat((root_ + "/result.json").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 077, 0u) << "created closed to group and others";
}

TEST_F(FileIo, AtomicWriteOverALinkReplacesTheLinkNotItsTarget) {
  std::ofstream(root_ + "/target") << "keep";
  std::filesystem::create_symlink(root_ + "/target", root_ + "/result.json");
  ASSERT_TRUE(writeFileAtomically(childOf(*directory_, "result.json"), "new"));
  EXPECT_EQ(contents("target"), "keep");
  EXPECT_FALSE(std::filesystem::is_symlink(root_ + "/result.json"));
}

TEST_F(FileIo, FailedWriteLeavesTheOldFileAndNoTemporary) {
  std::ofstream(root_ + "/result.json") << "old";
  // A file-size limit makes the write fail part-way, for root as well.
  struct rlimit saved {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit tight = saved;
  tight.rlim_cur = 4;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &tight), 0);
  const bool written = writeFileAtomically(childOf(*directory_, "result.json"), std::string(100, 'n'));
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previousHandler);
  EXPECT_FALSE(written);
  EXPECT_EQ(contents("result.json"), "old");
  EXPECT_EQ(entries(), 1u) << "the temporary file is gone";
}

TEST_F(FileIo, PermissionsAreSetOnFilesButNeverThroughLinks) {
  std::ofstream(root_ + "/file") << "x";
  ASSERT_EQ(::chmod((root_ + "/file").c_str(), 0644), 0);
  EXPECT_TRUE(setPermissionsWithoutFollowing(childOf(*directory_, "file"), 0600));
  std::filesystem::create_symlink(root_ + "/file", root_ + "/link");
  ASSERT_EQ(::chmod((root_ + "/file").c_str(), 0644), 0);
  EXPECT_FALSE(setPermissionsWithoutFollowing(childOf(*directory_, "link"), 0600));
  struct stat st {};
  ASSERT_EQ(::stat((root_ + "/file").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
}

TEST_F(FileIo, ReadWholeFileHonoursItsLimit) {
  std::ofstream(root_ + "/f") << "12345";
  EXPECT_EQ(readWholeFile(root_ + "/f", 5), "12345");
  EXPECT_EQ(readWholeFile(root_ + "/f", 4), std::nullopt);
  EXPECT_EQ(readWholeFile(root_, 100), std::nullopt) << "a directory";
}

}  // namespace
}  // namespace platform
