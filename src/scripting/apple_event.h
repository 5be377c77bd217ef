// An event sent to a script: class and identifier codes, the return and
// transaction identifiers, and keyword parameters in the order they were
// stored. Events here always go to the script object they are executed on,
// so they carry no target.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "scripting/descriptor.h"

namespace scripting {

class AppleEvent {
 public:
  AppleEvent(FourCharCode eventClass, FourCharCode eventID, std::int16_t returnID,
             std::int32_t transactionID)
      : eventClass_(eventClass), eventID_(eventID), returnID_(returnID), transactionID_(transactionID) {}

  FourCharCode eventClass() const { return eventClass_; }
  FourCharCode eventID() const { return eventID_; }
  std::int16_t returnID() const { return returnID_; }
  std::int32_t transactionID() const { return transactionID_; }

  // Stores `value` under `keyword`. A keyword stored before keeps its place
  // and gets the new value.
  void setParam(Descriptor value, FourCharCode keyword);

  // The parameter stored under `keyword`, or null.
  const Descriptor* param(FourCharCode keyword) const;

 private:
  FourCharCode eventClass_;
  FourCharCode eventID_;
  std::int16_t returnID_;
  std::int32_t transactionID_;
  std::vector<std::pair<FourCharCode, Descriptor>> params_;
};

// The handler call event and its parameters.
constexpr FourCharCode kScriptEventClass = fourCharCode("ascr");
constexpr FourCharCode kHandlerCallEventID = fourCharCode("psbr");
constexpr FourCharCode kHandlerNameKeyword = fourCharCode("snam");
constexpr FourCharCode kDirectObjectKeyword = fourCharCode("----");
constexpr std::int16_t kAutoGenerateReturnID = -1;
constexpr std::int32_t kAnyTransactionID = 0;

}  // namespace scripting
