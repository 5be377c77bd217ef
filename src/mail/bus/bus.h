// What the bundle's D-Bus helpers share: owning handles of the bus library's
// objects and a loop that works the bus until a condition holds or a
// deadline passes. Only the helpers include it: the program itself never
// loads the D-Bus library.
#pragma once

#include <systemd/sd-bus.h>

#include <charconv>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

namespace mail::bus {

using Clock = std::chrono::steady_clock;

struct BusClose {
  void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
struct MessageUnref {
  void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};
struct SlotUnref {
  void operator()(sd_bus_slot* slot) const { sd_bus_slot_unref(slot); }
};
using Bus = std::unique_ptr<sd_bus, BusClose>;
using Message = std::unique_ptr<sd_bus_message, MessageUnref>;
using Slot = std::unique_ptr<sd_bus_slot, SlotUnref>;

inline std::uint64_t microsecondsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::microseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<std::uint64_t>(left.count()) : 0;
}

// Works the bus until `done` holds or the deadline passes; false when the
// deadline passed first. A broken connection counts as done, with `broken`.
template <typename Done>
bool workUntil(sd_bus* bus, Clock::time_point deadline, bool& broken, Done done) {
  while (!done()) {
    const int processed = sd_bus_process(bus, nullptr);
    if (processed < 0) {
      broken = true;
      return true;
    }
    if (processed > 0) continue;
    const std::uint64_t left = microsecondsLeft(deadline);
    if (left == 0) return false;
    if (sd_bus_wait(bus, left) < 0) {
      broken = true;
      return true;
    }
  }
  return true;
}

// A helper's deadline argument: whole milliseconds, from 0 to a day.
inline std::optional<std::int64_t> deadlineMilliseconds(std::string_view text) {
  constexpr std::int64_t kLongest = 24LL * 60 * 60 * 1000;
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < 0 || value > kLongest) return std::nullopt;
  return value;
}

}  // namespace mail::bus
