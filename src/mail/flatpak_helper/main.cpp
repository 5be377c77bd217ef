// support-draft-flatpak HOST_PROGRAM MILLISECONDS < REQUEST
//
// From inside a Flatpak sandbox that may talk to the Flatpak session
// service, runs HOST_PROGRAM (the bundle's desktop helper, by its path on
// the host) on the host through org.freedesktop.Flatpak.Development's
// HostCommand, and waits for its HostCommandExited signal. A program of its
// own so that the main executable never loads the D-Bus library.
//
// The request (the draft's texts and the log's path) comes on standard
// input and goes on to the host program as its descriptor 3, never in an
// argument vector, which every local user can read. Its standard streams
// are /dev/null, its environment the session service's own (the host's
// desktop, MAILER and data directories), its working directory /. The
// service is asked to end it should this helper leave the bus first.
//
// One deadline, MILLISECONDS from the start, covers connecting, the call
// and the command's end; when it passes, the command's process group is
// killed, so that a late draft cannot open after the caller was told none
// did. The exit status is the host program's own (below 64), or one of
// FlatpakStatus (host_route.h); kFlatpakNotStarted only when the service
// surely ran nothing.
#include <sys/wait.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "mail/bus/bus.h"
#include "mail/host_route.h"
#include "platform/unique_fd.h"

namespace {

using namespace mail;
using namespace mail::bus;

constexpr const char* kService = "org.freedesktop.Flatpak";
constexpr const char* kPath = "/org/freedesktop/Flatpak/Development";
constexpr const char* kInterface = "org.freedesktop.Flatpak.Development";
// Kill the command when this connection leaves the bus.
constexpr std::uint32_t kWatchBus = 1u << 1;

// An end the service announced: the command's pid, its wait status, and
// the unique name that sent it.
struct Ended {
  std::uint32_t pid = 0;
  std::uint32_t waitStatus = 0;
  std::string sender;
};

struct Exchange {
  std::optional<int> status;         // set once the outcome is known
  std::optional<std::uint32_t> pid;  // the command's, once the call replied
  std::string service;               // the unique name that replied
  // Ends heard so far: one may come before the reply that names its pid
  // has been read.
  std::vector<Ended> ends;
};

int statusOf(std::uint32_t waitStatus) {
  const int status = static_cast<int>(waitStatus);
  if (WIFSIGNALED(status)) return kFlatpakHostSignalled;
  if (!WIFEXITED(status)) return kFlatpakHostOther;
  return WEXITSTATUS(status) < kFlatpakUsage ? WEXITSTATUS(status) : kFlatpakHostOther;
}

// The outcome once the reply named the pid and the service announced
// that pid's end.
void settle(Exchange& exchange) {
  if (exchange.status || !exchange.pid) return;
  for (const Ended& end : exchange.ends) {
    if (end.pid == *exchange.pid && end.sender == exchange.service) {
      exchange.status = statusOf(end.waitStatus);
      return;
    }
  }
}

int onExited(sd_bus_message* message, void* data, sd_bus_error*) {
  auto& exchange = *static_cast<Exchange*>(data);
  Ended end;
  const char* sender = sd_bus_message_get_sender(message);
  if (sender == nullptr || sd_bus_message_read(message, "uu", &end.pid, &end.waitStatus) < 0) return 0;
  end.sender = sender;
  exchange.ends.push_back(std::move(end));
  settle(exchange);
  return 0;
}

// The service left the bus: no end of the command will be heard.
int onOwnerChanged(sd_bus_message* message, void* data, sd_bus_error*) {
  auto& exchange = *static_cast<Exchange*>(data);
  const char* name = nullptr;
  const char* oldOwner = nullptr;
  const char* newOwner = nullptr;
  if (sd_bus_message_read(message, "sss", &name, &oldOwner, &newOwner) < 0) return 0;
  if (exchange.pid && !exchange.status && std::strcmp(name, kService) == 0 && exchange.service == oldOwner) {
    exchange.status = kFlatpakLost;
  }
  return 0;
}

int onReply(sd_bus_message* reply, void* data, sd_bus_error*) {
  auto& exchange = *static_cast<Exchange*>(data);
  if (const sd_bus_error* error = sd_bus_message_get_error(reply); error != nullptr) {
    // The service answers an error only before or instead of starting the
    // command; a call that got no reply at all may have started it.
    const bool unknown = sd_bus_error_has_name(error, SD_BUS_ERROR_NO_REPLY) ||
                         sd_bus_error_has_name(error, SD_BUS_ERROR_TIMEOUT) ||
                         sd_bus_error_has_name(error, SD_BUS_ERROR_DISCONNECTED);
    exchange.status = unknown ? kFlatpakLost : kFlatpakNotStarted;
    return 0;
  }
  std::uint32_t pid = 0;
  const char* sender = sd_bus_message_get_sender(reply);
  if (sender == nullptr || sd_bus_message_read(reply, "u", &pid) < 0) {
    exchange.status = kFlatpakLost;
    return 0;
  }
  exchange.pid = pid;
  exchange.service = sender;
  settle(exchange);
  return 0;
}

// A text as a D-Bus byte string: its bytes and the NUL the service expects.
int appendBytes(sd_bus_message* m, std::string_view text) {
  std::string bytes(text);
  bytes.push_back('\0');
  return sd_bus_message_append_array(m, 'y', bytes.data(), bytes.size());
}

sd_bus_message* hostCommandCall(sd_bus* bus, const std::string& program, int null, int request) {
  sd_bus_message* raw = nullptr;
  if (sd_bus_message_new_method_call(bus, &raw, kService, kPath, kInterface, "HostCommand") < 0) return nullptr;
  Message call(raw);
  const bool built =
      appendBytes(raw, "/") >= 0 && sd_bus_message_open_container(raw, 'a', "ay") >= 0 &&
      appendBytes(raw, program) >= 0 && sd_bus_message_close_container(raw) >= 0 &&
      sd_bus_message_append(raw, "a{uh}", 4, 0u, null, 1u, null, 2u, null,
                            static_cast<std::uint32_t>(kHostRequestDescriptor), request) >= 0 &&
      sd_bus_message_append(raw, "a{ss}", 0) >= 0 && sd_bus_message_append(raw, "u", kWatchBus) >= 0;
  return built ? call.release() : nullptr;
}

// Kills the command's process group; the caller leaves at once after.
void killCommand(sd_bus* bus, std::uint32_t pid) {
  sd_bus_message* reply = nullptr;
  if (sd_bus_call_method(bus, kService, kPath, kInterface, "HostCommandSignal", nullptr, &reply, "uub", pid,
                         static_cast<std::uint32_t>(SIGKILL), 1) >= 0) {
    sd_bus_message_unref(reply);
  }
}

int runOnHost(Clock::time_point deadline, const std::string& program, int request) {
  const platform::UniqueFd null(::open("/dev/null", O_RDWR | O_CLOEXEC));
  if (!null) return kFlatpakNotStarted;
  sd_bus* raw = nullptr;
  // No bus: nothing can have run on the host.
  if (sd_bus_open_user(&raw) < 0) return kFlatpakNotStarted;
  const Bus bus(raw);
  bool broken = false;
  if (!workUntil(raw, deadline, broken, [&] { return sd_bus_is_ready(raw) > 0; }) || broken) {
    return kFlatpakNotStarted;
  }
  Exchange exchange;
  // Subscribed before the call, so that a quick end is not missed.
  sd_bus_slot* exitSlot = nullptr;
  sd_bus_slot* ownerSlot = nullptr;
  if (sd_bus_match_signal_async(raw, &exitSlot, nullptr, kPath, kInterface, "HostCommandExited", onExited, nullptr,
                                &exchange) < 0 ||
      sd_bus_add_match_async(raw, &ownerSlot,
                             "type='signal',sender='org.freedesktop.DBus',interface='org.freedesktop.DBus',"
                             "member='NameOwnerChanged',arg0='org.freedesktop.Flatpak'",
                             onOwnerChanged, nullptr, &exchange) < 0) {
    return kFlatpakNotStarted;
  }
  const Slot exits(exitSlot);
  const Slot owners(ownerSlot);
  const Message call(hostCommandCall(raw, program, null.get(), request));
  if (!call) return kFlatpakNotStarted;
  sd_bus_slot* callSlot = nullptr;
  const std::uint64_t timeout = microsecondsLeft(deadline);
  if (timeout == 0 || sd_bus_call_async(raw, &callSlot, call.get(), onReply, &exchange, timeout) < 0) {
    return kFlatpakNotStarted;
  }
  const Slot pending(callSlot);
  const bool ended = workUntil(raw, deadline, broken, [&] { return exchange.status.has_value(); });
  if (broken) return kFlatpakLost;
  if (!ended) {
    if (exchange.pid) killCommand(raw, *exchange.pid);
    return kFlatpakNoAnswer;
  }
  return *exchange.status;
}

}  // namespace

int main(int argc, char** argv) {
  const auto start = Clock::now();
  if (argc != 3 || argv[1][0] != '/') return kFlatpakUsage;
  const auto deadline = deadlineMilliseconds(argv[2]);
  if (!deadline) return kFlatpakUsage;
  return runOnHost(start + std::chrono::milliseconds(*deadline), argv[1], STDIN_FILENO);
}
