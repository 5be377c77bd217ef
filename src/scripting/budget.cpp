#include "scripting/budget.h"

#include "scripting/errors.h"

namespace scripting {
namespace {

std::uintptr_t stackPosition() { return reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0)); }

[[noreturn]] void stackOverflow(const char* what) {
  throw ScriptError{kErrorStackOverflow, std::string("Stack overflow: ") + what};
}

[[noreturn]] void timedOut() { throw ScriptError{kErrorTimedOut, "The script took too long."}; }

}  // namespace

Budget::Budget(const Limits& limits) : limits_(limits), stackBase_(stackPosition()) {}

Budget::Level::Level(Budget& budget) : budget_(budget) {
  if (++budget_.steps_ > budget_.limits_.maxSteps) timedOut();
  if (budget_.depth_ >= budget_.limits_.maxEvaluationDepth) stackOverflow("the script nests too deeply.");
  // The stack grows downwards on every platform this runs on.
  if (budget_.stackBase_ - stackPosition() > budget_.limits_.maxStackBytes) {
    stackOverflow("the script nests too deeply.");
  }
  ++budget_.depth_;
}

Budget::Call::Call(Budget& budget) : budget_(budget) {
  if (budget_.callDepth_ >= budget_.limits_.maxCallDepth) stackOverflow("handler calls nest too deeply.");
  ++budget_.callDepth_;
}

void Budget::chargeCaughtError() {
  steps_ += limits_.stepsPerCaughtError;
  if (steps_ > limits_.maxSteps) timedOut();
}

void Budget::chargeCreated(std::size_t units) {
  if (units > limits_.maxCreated - created_) {
    created_ = limits_.maxCreated;
    throw ScriptError{kErrorOutOfMemory, "Out of memory: the script made too much text or too many list items."};
  }
  created_ += units;
}

void Budget::chargeWork(std::size_t units) {
  if (units > limits_.maxWork - work_) {
    work_ = limits_.maxWork;
    timedOut();
  }
  work_ += units;
}

Descriptor Budget::checkedList(std::vector<Descriptor> items) const {
  Descriptor list = Descriptor::list(std::move(items));
  if (list.nesting() > limits_.maxListNesting) stackOverflow("lists nest too deeply.");
  return list;
}

}  // namespace scripting
