#include "entry/delegate.h"

#include "job/process_job.h"

void Delegate::applicationDidFinishLaunching() {
  processJob();
  platform::Application::shared().terminate();
}
