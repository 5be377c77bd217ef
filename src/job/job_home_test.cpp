#include "job/job_home.h"

#include <gtest/gtest.h>

namespace {

std::optional<Reason> refusal(const JobHome& home) {
  return home.breach ? std::optional(home.breach->reason) : std::nullopt;
}

TEST(JobHome, HomeFirstThenThePasswordEntry) {
  EXPECT_EQ(jobHome({"/home/u", "/var/pw"}).home, "/home/u");
  EXPECT_EQ(jobHome({"relative", "/var/pw"}).home, "/var/pw");
  EXPECT_EQ(jobHome({std::nullopt, "/var/pw"}).home, "/var/pw");
  EXPECT_EQ(jobHome({"", "/var/pw"}).home, "/var/pw") << "an empty HOME holds no path";
  EXPECT_EQ(refusal(jobHome({"/home/u", std::nullopt})), std::nullopt);
  // Without a home, the reason says what was wrong with HOME.
  EXPECT_EQ(refusal(jobHome({std::nullopt, std::nullopt})), Reason::homeMissing);
  EXPECT_EQ(refusal(jobHome({std::nullopt, "pw-relative"})), Reason::homeMissing);
  EXPECT_EQ(refusal(jobHome({"home/u", std::nullopt})), Reason::homeNotAbsolute);
  EXPECT_EQ(refusal(jobHome({"", std::nullopt})), Reason::homeNotAbsolute);
  EXPECT_FALSE(jobHome({"home/u", std::nullopt}).home);
}

TEST(HostHome, APathAHostCannotPrintOrUseIsRefused) {
  EXPECT_EQ(hostHomeBreach("/home/\xc3\xbc"), std::nullopt);
  EXPECT_EQ(hostHomeBreach("/home/\xfc")->reason, Reason::homeNotUtf8);
  EXPECT_EQ(hostHomeBreach("/")->reason, Reason::homeIsRoot);
  EXPECT_EQ(hostHomeBreach("/home/..//")->reason, Reason::homeIsRoot);
}

}  // namespace
