// What one execution of a script may spend, and what it has spent so far.
//
// Without loops in the language, time and memory can only run away through
// recursion that calls more than once per level, or through values that
// double with every `&`; stack use grows with nesting and recursion. Each
// bound raises a ScriptError when crossed, and stays crossed, so a `try`
// cannot get past it.
#pragma once

#include <cstdint>

#include "scripting/descriptor.h"

namespace scripting {

struct Limits {
  // Handler calls active at once; one more raises kErrorStackOverflow.
  int maxCallDepth = 256;
  // Statements and expressions being evaluated at once, over all active
  // calls. kErrorStackOverflow.
  int maxEvaluationDepth = 3000;
  // Bytes of stack the evaluation may use. The depth limit above is what
  // normally stops it; this one catches builds whose frames are much larger
  // (sanitizers) before the thread's stack runs out. kErrorStackOverflow.
  std::uintptr_t maxStackBytes = std::uintptr_t{3} << 20;
  // Statements and expressions evaluated in all. kErrorTimedOut.
  std::uint64_t maxSteps = 1'000'000;
  // Steps an error caught by `try` counts for: raising, unwinding and
  // catching one costs tens of steps' time, so a script that keeps catching
  // its own errors (each level's call past the depth limit) would otherwise
  // run ten times as long as the steps allow.
  std::uint64_t stepsPerCaughtError = 64;
  // Bytes and list items walked by comparisons. kErrorTimedOut.
  std::uint64_t maxWork = std::uint64_t{256} << 20;
  // Bytes of text and list items made. kErrorOutOfMemory.
  std::uint64_t maxCreated = std::uint64_t{64} << 20;
  // Lists inside lists. kErrorStackOverflow.
  std::size_t maxListNesting = 256;
};

class Budget {
 public:
  // The stack is measured from the frame that makes the budget.
  explicit Budget(const Limits& limits);

  // Held while one statement or expression is evaluated: counts the step,
  // the depth and the stack in use.
  class Level {
   public:
    explicit Level(Budget& budget);
    ~Level() { --budget_.depth_; }
    Level(const Level&) = delete;
    Level& operator=(const Level&) = delete;

   private:
    Budget& budget_;
  };

  // Held while one handler call runs.
  class Call {
   public:
    explicit Call(Budget& budget);
    ~Call() { --budget_.callDepth_; }
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;

   private:
    Budget& budget_;
  };

  // An error caught by `try`, before its handler block runs.
  void chargeCaughtError();
  void chargeCreated(std::size_t units);
  void chargeWork(std::size_t units);
  // A list made by the script, once its nesting is checked.
  Descriptor checkedList(std::vector<Descriptor> items) const;

 private:
  const Limits limits_;
  const std::uintptr_t stackBase_;
  int callDepth_ = 0;
  int depth_ = 0;
  std::uint64_t steps_ = 0;
  std::uint64_t work_ = 0;
  std::uint64_t created_ = 0;
};

}  // namespace scripting
