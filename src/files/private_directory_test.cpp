#include "files/private_directory.h"

#include <gtest/gtest.h>

namespace {

constexpr std::uint32_t kUser = 501;

platform::FileFacts directoryFacts(std::int64_t owner, std::int64_t mode) {
  return platform::FileFacts{false, false, std::int64_t{4096},
                             platform::FileAttributes{platform::AttributeValue{owner}, platform::AttributeValue{mode}},
                             true};
}

bool isPrivate(const std::optional<platform::FileFacts>& facts, std::uint32_t user) {
  return !privateDirectoryProblem(facts, user);
}

TEST(PrivateDirectoryDecision, OwnerMustBeTheUserOrTheSuperuser) {
  EXPECT_TRUE(isPrivate(directoryFacts(kUser, 0700), kUser));
  EXPECT_TRUE(isPrivate(directoryFacts(0, 0755), kUser)) << "a home made by the administrator";
  EXPECT_FALSE(isPrivate(directoryFacts(kUser + 1, 0700), kUser));
  EXPECT_FALSE(isPrivate(directoryFacts(65534, 0755), kUser));
  EXPECT_TRUE(isPrivate(directoryFacts(0, 0700), 0)) << "the superuser's own";
}

TEST(PrivateDirectoryDecision, NoOneElseMayWrite) {
  for (std::int64_t mode : {0700, 0755, 0711, 0500, 0000, 0555, 01755, 02750, 04700}) {
    EXPECT_TRUE(isPrivate(directoryFacts(kUser, mode), kUser)) << std::oct << mode;
  }
  // The sticky bit keeps others from removing entries they do not own, but
  // not from adding their own links.
  for (std::int64_t mode : {0720, 0702, 0770, 0707, 0777, 01777, 0730, 0703, 0722}) {
    EXPECT_FALSE(isPrivate(directoryFacts(kUser, mode), kUser)) << std::oct << mode;
    EXPECT_FALSE(isPrivate(directoryFacts(0, mode), kUser)) << "root-owned " << std::oct << mode;
  }
}

TEST(PrivateDirectoryDecision, MissingOrOddFactsFail) {
  EXPECT_FALSE(isPrivate(std::nullopt, kUser));
  auto facts = directoryFacts(kUser, 0700);
  facts.attributes.reset();
  EXPECT_FALSE(isPrivate(facts, kUser)) << "no attributes";
  facts = directoryFacts(kUser, 0700);
  facts.attributes->ownerAccountId = platform::AttributeValue{std::nullopt};
  EXPECT_FALSE(isPrivate(facts, kUser)) << "owner not a number";
  facts = directoryFacts(kUser, 0700);
  facts.attributes->posixPermissions.reset();
  EXPECT_FALSE(isPrivate(facts, kUser)) << "no permissions";
}

TEST(PrivateDirectoryDecision, NamesTheFirstProblem) {
  EXPECT_EQ(privateDirectoryProblem(std::nullopt, kUser), Reason::directoryUnreadable);
  auto facts = directoryFacts(kUser + 1, 0777);
  facts.isSymbolicLink = true;
  facts.isDirectory = false;
  EXPECT_EQ(privateDirectoryProblem(facts, kUser), Reason::directoryLinked) << "a link, whoever owns it";
  facts.isSymbolicLink = false;
  EXPECT_EQ(privateDirectoryProblem(facts, kUser), Reason::directoryNotDirectory);
  facts.isDirectory.reset();
  EXPECT_EQ(privateDirectoryProblem(facts, kUser), Reason::directoryNotDirectory) << "unknown kind";
  facts.isDirectory = true;
  EXPECT_EQ(privateDirectoryProblem(facts, kUser), Reason::directoryNotOwned) << "owner before mode";
  EXPECT_EQ(privateDirectoryProblem(directoryFacts(kUser, 0777), kUser), Reason::directoryWritableByOthers);
  EXPECT_EQ(privateDirectoryProblem(directoryFacts(kUser, 0700), kUser), std::nullopt);
}

}  // namespace
