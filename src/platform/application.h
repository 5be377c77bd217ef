// The process-wide application object. The program opens no window, so the
// event loop only has to deliver the launch callback and then let the
// delegate end the process.
#pragma once

namespace platform {

class ApplicationDelegate {
 public:
  virtual ~ApplicationDelegate() = default;
  // Called once, on the main thread, when launching has finished.
  virtual void applicationDidFinishLaunching() = 0;
};

enum class ActivationPolicy { regular = 0, accessory = 1, prohibited = 2 };

class Application {
 public:
  // The one application object, created on first use.
  static Application& shared();

  // The delegate is not owned: whoever sets it keeps it alive.
  void setDelegate(ApplicationDelegate* delegate) { delegate_ = delegate; }
  ApplicationDelegate* delegate() const { return delegate_; }

  // Always succeeds and changes nothing: there is no dock or menu bar to
  // keep out of.
  bool setActivationPolicy(ActivationPolicy policy);

  // Finishes launching, delivers the launch callback exactly once, and
  // returns when nothing else is pending.
  void run();

  // Flushes standard output and ends the process with status 0.
  [[noreturn]] void terminate();

 private:
  Application() = default;
  ApplicationDelegate* delegate_ = nullptr;
  bool launched_ = false;
};

}  // namespace platform
