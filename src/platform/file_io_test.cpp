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
  EXPECT_EQ(Directory::openWithoutLinks(root_ + "/a/./b/")->path(), root_ + "/a/b") << "the path walked";
}

// The path kept is the one walked: ".." over a component that does not
// exist (or that someone may later make a link) is not handed on.
TEST_F(FileIo, OpenedDirectoriesKeepTheStandardisedPath) {
  std::filesystem::create_directories(root_ + "/a/b");
  const auto b = Directory::openWithoutLinks(root_ + "/missing/../a//b");
  ASSERT_TRUE(b);
  EXPECT_EQ(b->path(), root_ + "/a/b");
  EXPECT_EQ(childOf(*b, "log.txt").path(), root_ + "/a/b/log.txt");
  std::filesystem::create_directory_symlink(root_ + "/a", root_ + "/a/b/link");
  const auto a = Directory::openWithoutLinks(root_ + "/a");
  ASSERT_TRUE(a);
  EXPECT_EQ(Directory::openChildWithoutLinks(*a, "b")->path(), root_ + "/a/b");
  EXPECT_FALSE(Directory::openChildWithoutLinks(*b, "link")) << "a link";
  for (const char* name : {"", ".", "..", "b/", "missing"}) {
    EXPECT_FALSE(Directory::openChildWithoutLinks(*a, name)) << "[" << name << "]";
  }
}

TEST_F(FileIo, AtomicWriteReplacesWholeAndLeavesNoTemporary) {
  std::ofstream(root_ + "/result.json") << "an older and much longer document";
  ASSERT_TRUE(writeFileAtomically(childOf(*directory_, "result.json"), "{}", 0600));
  EXPECT_EQ(contents("result.json"), "{}");
  EXPECT_EQ(entries(), 1u);
  struct stat st {};
  ASSERT_EQ(::stat((root_ + "/result.json").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 077, 0u) << "created closed to group and others";
}

TEST_F(FileIo, AtomicWriteOverALinkReplacesTheLinkNotItsTarget) {
  std::ofstream(root_ + "/target") << "keep";
  std::filesystem::create_symlink(root_ + "/target", root_ + "/result.json");
  ASSERT_TRUE(writeFileAtomically(childOf(*directory_, "result.json"), "new", 0600));
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
  const bool written = writeFileAtomically(childOf(*directory_, "result.json"), std::string(100, 'n'), 0600);
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previousHandler);
  EXPECT_FALSE(written);
  EXPECT_EQ(contents("result.json"), "old");
  EXPECT_EQ(entries(), 1u) << "the temporary file is gone";
}

mode_t modeOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
  return st.st_mode & 07777;
}

// Under a strict umask the document is made stricter, then opened up to
// exactly the mode asked for once it is in place.
TEST_F(FileIo, AtomicWriteEndsWithTheModeAskedFor) {
  const mode_t saved = ::umask(0777);
  const bool written = writeFileAtomically(childOf(*directory_, "result.json"), "{}", 0600);
  ::umask(saved);
  ASSERT_TRUE(written);
  EXPECT_EQ(modeOf(root_ + "/result.json"), 0600u);
  EXPECT_EQ(contents("result.json"), "{}");
}

// Leftovers of writes ended between naming their file and the rename go;
// names of other shapes, and files that are not the user's alone, stay.
TEST_F(FileIo, AtomicWriteRemovesLeftoverTemporariesOnly) {
  const std::string leftover = ".result.json.0123456789abcdef";
  std::ofstream(root_ + "/" + leftover) << "half";
  std::ofstream(root_ + "/.result.json.0123456789ABCDEF") << "other";
  std::ofstream(root_ + "/.other.json.0123456789abcdef") << "other";
  std::ofstream(root_ + "/.result.json.0123456789abcde") << "short";
  std::ofstream(root_ + "/result.json.0123456789abcdef") << "no dot";
  std::ofstream(root_ + "/linked") << "linked";
  std::filesystem::create_hard_link(root_ + "/linked", root_ + "/.result.json.fedcba9876543210");
  std::filesystem::create_directory(root_ + "/.result.json.aaaaaaaaaaaaaaaa");
  ASSERT_TRUE(writeFileAtomically(childOf(*directory_, "result.json"), "{}", 0600));
  EXPECT_FALSE(std::filesystem::exists(root_ + "/" + leftover));
  EXPECT_EQ(entries(), 8u) << "result.json and everything but the one leftover";
  EXPECT_EQ(contents(".result.json.fedcba9876543210"), "linked");
}

// Only a regular file of the user's own with no other link has its mode
// changed; whatever else stands at the name, and whatever it leads to,
// stays as it was.
TEST_F(FileIo, PermissionsAreSetOnlyOnTheUsersOwnSoleFile) {
  const auto setAt = [&](const char* name) { return setPermissionsOfOwnFile(childOf(*directory_, name), 0600); };
  std::ofstream(root_ + "/file") << "x";
  ASSERT_EQ(::chmod((root_ + "/file").c_str(), 0644), 0);
  EXPECT_TRUE(setAt("file"));
  EXPECT_EQ(modeOf(root_ + "/file"), 0600u);

  std::ofstream(root_ + "/target") << "x";
  ASSERT_EQ(::chmod((root_ + "/target").c_str(), 0644), 0);
  std::filesystem::create_symlink(root_ + "/target", root_ + "/link");
  std::filesystem::create_hard_link(root_ + "/target", root_ + "/hard");
  std::filesystem::create_directory(root_ + "/dir");
  ASSERT_EQ(::chmod((root_ + "/dir").c_str(), 0755), 0);
  ASSERT_EQ(::mkfifo((root_ + "/fifo").c_str(), 0644), 0);
  for (const char* name : {"link", "hard", "dir", "fifo", "missing"}) EXPECT_FALSE(setAt(name)) << name;
  EXPECT_EQ(modeOf(root_ + "/target"), 0644u);
  EXPECT_EQ(modeOf(root_ + "/dir"), 0755u);
  EXPECT_EQ(modeOf(root_ + "/fifo"), 0644u);
  if (::geteuid() == 0) {
    std::ofstream(root_ + "/theirs") << "x";
    ASSERT_EQ(::chmod((root_ + "/theirs").c_str(), 0644), 0);
    ASSERT_EQ(::chown((root_ + "/theirs").c_str(), 65534, 65534), 0);
    EXPECT_FALSE(setAt("theirs"));
    EXPECT_EQ(modeOf(root_ + "/theirs"), 0644u);
  }
}

TEST_F(FileIo, ReadWholeFileHonoursItsLimit) {
  std::ofstream(root_ + "/f") << "12345";
  EXPECT_EQ(readWholeFile(root_ + "/f", 5), "12345");
  EXPECT_EQ(readWholeFile(root_ + "/f", 4), std::nullopt);
  EXPECT_EQ(readWholeFile(root_, 100), std::nullopt) << "a directory";
}

}  // namespace
}  // namespace platform
