#include "mail/helper_words.h"

#include <gtest/gtest.h>

namespace mail {
namespace {

using Words = std::vector<std::string>;

// Empty words, blanks, quotes and line breaks come back as they went.
TEST(HelperWordsTest, WordsComeBackAsTheyWent) {
  const Words words = {"", "Support Request - Quorvel it's", "line 1\n\tline 2 $(id) \"q\"", "", "/home/a,b/log.txt"};
  const auto packed = packWords(words);
  ASSERT_TRUE(packed);
  EXPECT_EQ(unpackWords(*packed, words.size()), words);
  EXPECT_EQ(unpackWords("", 4), Words{});
}

// A word with a NUL byte cannot be packed; a list cut short, too long or
// with more words than asked for is not read.
TEST(HelperWordsTest, WhatCannotBeReadAsTheList) {
  EXPECT_FALSE(packWords({std::string("a\0b", 3)}));
  EXPECT_FALSE(packWords({std::string(kMaxHelperWordsSize, 'x')}));
  EXPECT_TRUE(packWords({std::string(kMaxHelperWordsSize - 1, 'x')}));
  EXPECT_FALSE(unpackWords(std::string_view("a\0b", 3), 4));
  EXPECT_FALSE(unpackWords(std::string_view("a\0b\0c\0", 6), 2));
  EXPECT_EQ(unpackWords(std::string_view("a\0b\0", 4), 2), (Words{"a", "b"}));
  EXPECT_FALSE(unpackWords(std::string(kMaxHelperWordsSize + 1, '\0'), kMaxHelperWordsSize + 1));
}

}  // namespace
}  // namespace mail
