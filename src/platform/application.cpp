#include "platform/application.h"

#include <cstdio>
#include <cstdlib>

namespace platform {

Application& Application::shared() {
  static Application instance;
  return instance;
}

bool Application::setActivationPolicy(ActivationPolicy) { return true; }

void Application::run() {
  if (launched_) return;
  launched_ = true;
  if (delegate_ != nullptr) delegate_->applicationDidFinishLaunching();
}

void Application::terminate() {
  std::fflush(nullptr);
  std::exit(0);
}

}  // namespace platform
