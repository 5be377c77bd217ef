#include "scripting/apple_event.h"

namespace scripting {

void AppleEvent::setParam(Descriptor value, FourCharCode keyword) {
  for (auto& [storedKeyword, storedValue] : params_) {
    if (storedKeyword == keyword) {
      storedValue = std::move(value);
      return;
    }
  }
  params_.emplace_back(keyword, std::move(value));
}

const Descriptor* AppleEvent::param(FourCharCode keyword) const {
  for (const auto& [storedKeyword, storedValue] : params_) {
    if (storedKeyword == keyword) return &storedValue;
  }
  return nullptr;
}

}  // namespace scripting
