#include "entry/run_mode.h"

#include <gtest/gtest.h>

namespace {

TEST(RunMode, InspectOnlyForTheExactSingleWord) {
  EXPECT_EQ(chooseRunMode({"prog", "--inspect"}), RunMode::inspect);
  for (const std::vector<std::string>& other : std::vector<std::vector<std::string>>{
           {}, {"prog"}, {"--inspect"}, {"prog", "--inspect", "x"}, {"prog", "--inspect", "--inspect"},
           {"prog", "--INSPECT"}, {"prog", "-inspect"}, {"prog", "--inspect "}, {"prog", "--inspect=1"},
           {"prog", "--insp"}, {"prog", "--job", "x"}}) {
    EXPECT_EQ(chooseRunMode(other), RunMode::app) << other.size();
  }
}

}  // namespace
