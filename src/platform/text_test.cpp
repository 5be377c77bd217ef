#include "platform/text.h"

#include <string>

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(CanonicalEquality, PrecomposedAndDecomposedLettersAreEqual) {
  EXPECT_TRUE(canonicallyEqual("T\xC3\xBCrk\xC3\xA7" "e", "Tu\xCC\x88rkc\xCC\xA7" "e"));
  // Combining marks in another order but the same canonical order.
  EXPECT_TRUE(canonicallyEqual("q\xCC\xA3\xCC\x87", "q\xCC\x87\xCC\xA3"));
  EXPECT_TRUE(canonicallyEqual("", ""));
}

TEST(CanonicalEquality, SingletonDecompositionsEqualTheirAsciiLetter) {
  EXPECT_TRUE(canonicallyEqual("K", "\xE2\x84\xAA"));  // KELVIN SIGN
  EXPECT_TRUE(canonicallyEqual("\xE2\x84\xAA" "elvin", "Kelvin"));
  EXPECT_FALSE(canonicallyEqual("k", "\xE2\x84\xAA"));
}

TEST(CanonicalEquality, CaseBlanksAndLineBreaksStillDiffer) {
  EXPECT_FALSE(canonicallyEqual("--job", "--JOB"));
  EXPECT_FALSE(canonicallyEqual("dev", " dev"));
  EXPECT_FALSE(canonicallyEqual("dev", "dev "));
  EXPECT_FALSE(canonicallyEqual("a\nb", "a\rb"));
  EXPECT_FALSE(canonicallyEqual("\xC3\xBC", "u"));
}

// The longer text is decomposed only when it has no more code points than
// the shorter one's decomposition; either may be the precomposed one.
TEST(CanonicalEquality, TextsOfDifferentLengthsCompareEitherWay) {
  EXPECT_TRUE(canonicallyEqual("\xC3\x85", "\xE2\x84\xAB"));  // A WITH RING ABOVE, ANGSTROM SIGN
  EXPECT_TRUE(canonicallyEqual("\xE2\x84\xAB", "A\xCC\x8A"));
  EXPECT_TRUE(canonicallyEqual("A\xCC\x8A", "\xC3\x85"));
  std::string composed;
  std::string decomposed;
  std::string marks;
  for (int i = 0; i < 1000; ++i) {
    composed += "\xC3\xBC";
    decomposed += "u\xCC\x88";
    marks += "\xCC\x81\xCC\xA3";
  }
  EXPECT_TRUE(canonicallyEqual(composed, decomposed));
  EXPECT_TRUE(canonicallyEqual(decomposed, composed));
  EXPECT_FALSE(canonicallyEqual(marks, "--job"));
  EXPECT_FALSE(canonicallyEqual("\xC3\xBC", "u\xCC\x88\xCC\x88"));
}

TEST(CanonicalEquality, TextsWithNulCompareWhole) {
  EXPECT_FALSE(canonicallyEqual(std::string_view("ab\0c", 4), std::string_view("ab\0d", 4)));
  EXPECT_TRUE(canonicallyEqual(std::string_view("\xC3\xBC\0", 3), std::string_view("u\xCC\x88\0", 4)));
}

TEST(CanonicalEquality, InvalidUtf8EqualsOnlyTheSameBytes) {
  EXPECT_TRUE(canonicallyEqual("\xFF\xFE", "\xFF\xFE"));
  EXPECT_FALSE(canonicallyEqual("\xFF", "\xC3\xBF"));
  EXPECT_FALSE(canonicallyEqual("u\xCC\x88\xFF", "\xC3\xBC\xFF"));
}

TEST(Utf8Validity, RejectsMalformedSequences) {
  EXPECT_TRUE(isValidUtf8("plain \xC3\xBC \xF0\x9F\x98\x80"));
  EXPECT_FALSE(isValidUtf8("\xC0\xAF"));          // overlong "/"
  EXPECT_FALSE(isValidUtf8("\xED\xA0\x80"));      // a surrogate
  EXPECT_FALSE(isValidUtf8("\xF4\x90\x80\x80"));  // above U+10FFFF
  EXPECT_FALSE(isValidUtf8("\xC3"));              // cut short
}

TEST(TextPrefix, MatchesWholeCharactersOnly) {
  EXPECT_TRUE(hasTextPrefix("Support Request - x", "Support "));
  EXPECT_TRUE(hasTextPrefix("Caf\xC3\xA9 au lait", "Cafe\xCC\x81"));
  EXPECT_FALSE(hasTextPrefix("Support \xCC\x81x", "Support "));  // the blank takes an accent
  EXPECT_FALSE(hasTextPrefix("support x", "Support "));
  EXPECT_FALSE(hasTextPrefix(" Support x", "Support "));
  EXPECT_TRUE(hasTextPrefix("Support ", "Support "));
}

TEST(FoldAsciiCase, OnlyAsciiLettersChange) {
  EXPECT_EQ(foldAsciiCase("Org.KDE.KMail2-@[`{Z"), "org.kde.kmail2-@[`{z");
  EXPECT_EQ(foldAsciiCase("\xC3\x9C\xC3\x96"), "\xC3\x9C\xC3\x96");
}

}  // namespace
}  // namespace platform
