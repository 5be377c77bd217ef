// The application's delegate: runs the one job, then ends the process.
#pragma once

#include "platform/application.h"

class Delegate final : public platform::ApplicationDelegate {
 public:
  Delegate() = default;
  void applicationDidFinishLaunching() override;
};
