#include "job/job_invocation.h"

#include <gtest/gtest.h>

#include "job/job_contract.h"

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

}  // namespace
