#include "files/private_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

#include "testing/scratch_directory.h"

namespace {

constexpr std::uint32_t kUser = 501;
constexpr PrivateFileReasons kLog{Reason::logUnreadable, Reason::logLinked,   Reason::logIsDirectory,
                                  Reason::logNotRegularFile, Reason::logTooLarge, Reason::logNotOwned,
                                  Reason::logNotPrivate};

platform::FileFacts goodFacts() {
  return platform::FileFacts{true, false, std::int64_t{100},
                             platform::FileAttributes{platform::AttributeValue{kUser}, platform::AttributeValue{0600}},
                             false};
}

TEST(PrivateFileDecision, AcceptsAPrivateRegularFile) {
  EXPECT_TRUE(isPrivateFile(goodFacts(), 100, kUser));
}

TEST(PrivateFileDecision, FailsOnMissingOrOddFacts) {
  EXPECT_FALSE(isPrivateFile(std::nullopt, 100, kUser));
  auto facts = goodFacts();
  facts.isRegularFile.reset();
  EXPECT_FALSE(isPrivateFile(facts, 100, kUser)) << "no regular-file fact";
  facts = goodFacts();
  facts.isSymbolicLink.reset();
  EXPECT_TRUE(isPrivateFile(facts, 100, kUser)) << "an absent link fact counts as no link";
  facts = goodFacts();
  facts.size.reset();
  EXPECT_FALSE(isPrivateFile(facts, 100, kUser)) << "no size";
  facts = goodFacts();
  facts.attributes.reset();
  EXPECT_FALSE(isPrivateFile(facts, 100, kUser)) << "no attributes";
  facts = goodFacts();
  facts.attributes->ownerAccountId.reset();
  EXPECT_FALSE(isPrivateFile(facts, 100, kUser)) << "no owner";
  facts = goodFacts();
  facts.attributes->ownerAccountId = platform::AttributeValue{std::nullopt};
  EXPECT_FALSE(isPrivateFile(facts, 100, kUser)) << "owner not a number";
  facts = goodFacts();
  facts.attributes->posixPermissions.reset();
  EXPECT_FALSE(isPrivateFile(facts, 100, kUser)) << "no permissions";
  facts = goodFacts();
  facts.attributes->posixPermissions = platform::AttributeValue{std::nullopt};
  EXPECT_FALSE(isPrivateFile(facts, 100, kUser)) << "permissions not a number";
}

TEST(PrivateFileDecision, EachConditionFailsOnItsOwn) {
  auto facts = goodFacts();
  facts.isRegularFile = false;
  EXPECT_FALSE(isPrivateFile(facts, 100, kUser));
  facts = goodFacts();
  facts.isSymbolicLink = true;
  EXPECT_FALSE(isPrivateFile(facts, 100, kUser));
  facts = goodFacts();
  EXPECT_FALSE(isPrivateFile(facts, 99, kUser)) << "one byte over";
  EXPECT_FALSE(isPrivateFile(facts, 100, kUser + 1)) << "another owner";
  // The owner is compared as 32 bits, as the platform reports it.
  facts.attributes->ownerAccountId = platform::AttributeValue{std::int64_t{kUser} + (std::int64_t{1} << 32)};
  EXPECT_TRUE(isPrivateFile(facts, 100, kUser));
}

TEST(PrivateFileDecision, NamesTheFirstProblem) {
  EXPECT_EQ(privateFileProblem(std::nullopt, 100, kUser, kLog), Reason::logUnreadable);
  // A link is named as one even when it looks like nothing else would pass.
  auto facts = goodFacts();
  facts.isSymbolicLink = true;
  facts.isRegularFile = false;
  facts.size = 1 << 20;
  EXPECT_EQ(privateFileProblem(facts, 100, kUser, kLog), Reason::logLinked);
  facts = goodFacts();
  facts.isRegularFile = false;
  facts.isDirectory = true;
  EXPECT_EQ(privateFileProblem(facts, 100, kUser, kLog), Reason::logIsDirectory);
  facts.isDirectory.reset();
  EXPECT_EQ(privateFileProblem(facts, 100, kUser, kLog), Reason::logNotRegularFile) << "a FIFO or a device";
  EXPECT_EQ(privateFileProblem(goodFacts(), 99, kUser + 1, kLog), Reason::logTooLarge) << "size before owner";
  facts = goodFacts();
  facts.attributes->posixPermissions = platform::AttributeValue{0644};
  EXPECT_EQ(privateFileProblem(facts, 100, kUser + 1, kLog), Reason::logNotOwned) << "owner before mode";
  EXPECT_EQ(privateFileProblem(facts, 100, kUser, kLog), Reason::logNotPrivate);
  EXPECT_EQ(privateFileProblem(goodFacts(), 100, kUser, kLog), std::nullopt);
}

TEST(PrivateFileDecision, OnlyGroupAndOtherBitsCount) {
  for (std::int64_t mode : {0600, 0400, 0700, 0000, 04600, 02600, 01600}) {
    auto facts = goodFacts();
    facts.attributes->posixPermissions = platform::AttributeValue{mode};
    EXPECT_TRUE(isPrivateFile(facts, 100, kUser)) << std::oct << mode;
  }
  for (std::int64_t mode : {0640, 0660, 0644, 0604, 0610, 0601}) {
    auto facts = goodFacts();
    facts.attributes->posixPermissions = platform::AttributeValue{mode};
    EXPECT_FALSE(isPrivateFile(facts, 100, kUser)) << std::oct << mode;
  }
}

class PrivateFileOnDisk : public ::testing::Test {
 protected:
  void SetUp() override {
    directory_ = platform::Directory::openWithoutLinks(root_);
    ASSERT_TRUE(directory_);
  }

  platform::FileLocation write(const std::string& name, std::size_t size, mode_t mode = 0600) {
    const std::string path = root_ + "/" + name;
    std::ofstream(path) << std::string(size, 'x');
    EXPECT_EQ(::chmod(path.c_str(), mode), 0);
    return platform::childOf(*directory_, name);
  }

  testing_support::ScratchDirectory scratch_;
  const std::string& root_ = scratch_.path();
  std::optional<platform::Directory> directory_;
};

TEST_F(PrivateFileOnDisk, SizeLimitIsInclusive) {
  EXPECT_TRUE(privateFile(write("at", 16384), 16384));
  EXPECT_FALSE(privateFile(write("over", 16385), 16384));
  EXPECT_TRUE(privateFile(write("empty", 0), 16384));
}

TEST_F(PrivateFileOnDisk, PermissionBitsOnRealFiles) {
  for (mode_t mode : {0600, 0400, 0700, 0000, 04600}) {
    EXPECT_TRUE(privateFile(write("ok", 10, mode), 100)) << std::oct << mode;
  }
  for (mode_t mode : {0640, 0604, 0644, 0610, 0601}) {
    EXPECT_FALSE(privateFile(write("open", 10, mode), 100)) << std::oct << mode;
  }
}

TEST_F(PrivateFileOnDisk, LinksDirectoriesAndMissingItemsFail) {
  write("good", 10);
  std::filesystem::create_symlink(root_ + "/good", root_ + "/link");
  std::filesystem::create_directory(root_ + "/dir");
  EXPECT_FALSE(privateFile(platform::childOf(*directory_, "link"), 100));
  EXPECT_FALSE(privateFile(platform::childOf(*directory_, "dir"), 100));
  EXPECT_FALSE(privateFile(platform::childOf(*directory_, "missing"), 100));
}

TEST_F(PrivateFileOnDisk, FileOfAnotherOwnerFails) {
  if (::geteuid() != 0) GTEST_SKIP() << "changing a file's owner needs root";
  const auto location = write("theirs", 10);
  ASSERT_EQ(::chown((root_ + "/theirs").c_str(), 65534, 65534), 0);
  EXPECT_FALSE(privateFile(location, 100));
}

TEST_F(PrivateFileOnDisk, SafeReadReadsAGoodFileWhole) {
  EXPECT_EQ(readPrivateFile(write("good", 5), 5), "xxxxx");
  EXPECT_EQ(readPrivateFile(write("empty", 0), 5), "");
}

// Called directly, the safe read refuses by itself whatever the check would
// have refused, so a file swapped in after the check is never read.
TEST_F(PrivateFileOnDisk, SafeReadRefusesWhatTheCheckWould) {
  write("good", 5);
  std::filesystem::create_symlink(root_ + "/good", root_ + "/link");
  ASSERT_EQ(::mkfifo((root_ + "/fifo").c_str(), 0600), 0);
  EXPECT_FALSE(readPrivateFile(platform::childOf(*directory_, "link"), 100));
  EXPECT_FALSE(readPrivateFile(platform::childOf(*directory_, "fifo"), 100)) << "and it did not hang";
  EXPECT_FALSE(readPrivateFile(write("grouped", 5, 0640), 100));
  EXPECT_FALSE(readPrivateFile(write("big", 101), 100));
  EXPECT_FALSE(readPrivateFile(platform::childOf(*directory_, "missing"), 100));
  if (::geteuid() == 0) {
    const auto theirs = write("theirs", 5);
    ASSERT_EQ(::chown((root_ + "/theirs").c_str(), 65534, 65534), 0);
    EXPECT_FALSE(readPrivateFile(theirs, 100));
  }
}

}  // namespace
