#include "platform/application.h"

#include <cstdio>
#include <gtest/gtest.h>

namespace platform {
namespace {

class CountingDelegate : public ApplicationDelegate {
 public:
  void applicationDidFinishLaunching() override { ++launches; }
  int launches = 0;
};

TEST(Application, DeliversTheLaunchCallbackExactlyOnce) {
  CountingDelegate delegate;
  Application& app = Application::shared();
  EXPECT_EQ(&app, &Application::shared());
  app.setDelegate(&delegate);
  app.run();
  app.run();
  EXPECT_EQ(delegate.launches, 1);
  app.setDelegate(nullptr);
}

TEST(ApplicationDeathTest, TerminateFlushesAndExitsWithZero) {
  EXPECT_EXIT(
      {
        std::fputs("pending", stdout);
        Application::shared().terminate();
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace platform
