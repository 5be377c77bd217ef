// Process entry: "--inspect" alone runs the self-check; every other command
// line starts the application, whose delegate runs one job and quits.
#include "entry/delegate.h"
#include "entry/run_mode.h"
#include "entry/self_inspection.h"
#include "platform/abnormal_end.h"
#include "platform/application.h"
#include "platform/child_signal.h"
#include "platform/standard_streams.h"

// Set once in app mode and never released; both stay empty in inspect mode.
platform::Application* app = nullptr;
Delegate* delegate = nullptr;

int main() {
  // Whatever the parent's signal setup, a started program can be waited
  // for. Should this fail, that wait fails and the job reports a failed
  // draft rather than a wrong success.
  platform::restoreDefaultChildSignal();
  if (chooseProcessRunMode() == RunMode::inspect) runSelfInspection();

  // App mode ends with 0 and says nothing, even when memory runs out before
  // the job runner can catch it, before an exception can be made at all, or
  // inside a library that does not survive a failed allocation. Whatever
  // such a library or the C library would print goes nowhere.
  platform::discardStandardOutputAndError();
  platform::endOnTerminate(0);
  app = &platform::Application::shared();
  delegate = new Delegate();
  app->setDelegate(delegate);
  app->setActivationPolicy(platform::ActivationPolicy::accessory);
  app->run();
  return 0;
}
