// support-draft-portal --address=ADDRESS SUBJECT BODY [LOG]
//
// Asks the desktop portal's Email interface for a draft, from inside a
// Flatpak sandbox where the portal is the only way to the user's mail
// client. A program of its own so that the main executable never loads the
// D-Bus library: only a sandboxed job without a log starts it.
//
// The log, when given, goes as a descriptor in attachment_fds: opened
// without following a link and judged again as the user's private file on
// the open descriptor. ADDRESS, when not empty, goes in the `address`
// option as the caller encoded it (never in `addresses`, on which a
// backend is reported to fail after starting the client). The exit status
// is the portal's answer (PortalStatus in mail_service.h).
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>

#include "files/private_file.h"
#include "platform/file_io.h"
#include "platform/mail/mail_service.h"

namespace {

using platform::mail::PortalStatus;

constexpr const char* kPortalService = "org.freedesktop.portal.Desktop";
constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";
// The answer must come before the caller stops waiting (five seconds):
// a helper still running then would count as success.
constexpr std::chrono::milliseconds kAnswerTime{4000};

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

class BusError {
 public:
  ~BusError() { sd_bus_error_free(&error_); }
  sd_bus_error* get() { return &error_; }

 private:
  sd_bus_error error_{};  // SD_BUS_ERROR_NULL: no name, no message
};

// The log opened without following a link, if it is still the user's
// private regular file once open.
std::optional<platform::UniqueFd> openPrivateLog(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return std::nullopt;
  const auto directory = platform::Directory::openWithoutLinks(slash == 0 ? "/" : path.substr(0, slash));
  if (!directory) return std::nullopt;
  auto file = platform::openForReading(platform::childOf(*directory, path.substr(slash + 1)));
  if (!file) return std::nullopt;
  // Its size was the job's to check; here it must still be private.
  constexpr std::int64_t kAnySize = std::numeric_limits<std::int64_t>::max() - 1;
  if (!isPrivateFile(platform::fileFacts(*file), kAnySize, platform::effectiveUserId())) return std::nullopt;
  return file;
}

// The request object path the portal will use for `token`: the caller's
// unique name without ':' and with '.' as '_'.
std::string requestPath(const char* uniqueName, const std::string& token) {
  std::string sender = uniqueName[0] == ':' ? uniqueName + 1 : uniqueName;
  for (char& c : sender) {
    if (c == '.') c = '_';
  }
  return std::string(kPortalPath) + "/request/" + sender + "/" + token;
}

int onResponse(sd_bus_message* message, void* answer, sd_bus_error*) {
  std::uint32_t response = 2;
  if (sd_bus_message_read(message, "u", &response) < 0) response = 2;
  *static_cast<std::int64_t*>(answer) = response;
  return 0;
}

bool appendText(sd_bus_message* m, const char* key, const char* value) {
  return sd_bus_message_append(m, "{sv}", key, "s", value) >= 0;
}

bool appendDescriptor(sd_bus_message* m, int fd) {
  return sd_bus_message_open_container(m, 'e', "sv") >= 0 && sd_bus_message_append(m, "s", "attachment_fds") >= 0 &&
         sd_bus_message_open_container(m, 'v', "ah") >= 0 && sd_bus_message_append(m, "ah", 1, fd) >= 0 &&
         sd_bus_message_close_container(m) >= 0 && sd_bus_message_close_container(m) >= 0;
}

Message composeCall(sd_bus* bus, const std::string& token, const std::string& address, const char* subject,
                    const char* body, int log) {
  sd_bus_message* raw = nullptr;
  if (sd_bus_message_new_method_call(bus, &raw, kPortalService, kPortalPath, "org.freedesktop.portal.Email",
                                     "ComposeEmail") < 0) {
    return nullptr;
  }
  Message call(raw);
  const bool built = sd_bus_message_append(raw, "s", "") >= 0 && sd_bus_message_open_container(raw, 'a', "{sv}") >= 0 &&
                     appendText(raw, "handle_token", token.c_str()) &&
                     (address.empty() || appendText(raw, "address", address.c_str())) &&
                     appendText(raw, "subject", subject) &&
                     appendText(raw, "body", body) && (log < 0 || appendDescriptor(raw, log)) &&
                     sd_bus_message_close_container(raw) >= 0;
  return built ? std::move(call) : nullptr;
}

// Waits for the Response signal; -1 when none came in time.
std::int64_t awaitAnswer(sd_bus* bus, const std::int64_t& answer) {
  const auto deadline = std::chrono::steady_clock::now() + kAnswerTime;
  while (answer < 0) {
    const int processed = sd_bus_process(bus, nullptr);
    if (processed < 0) return -1;
    if (processed > 0) continue;
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return -1;
    if (sd_bus_wait(bus, static_cast<std::uint64_t>(left.count())) < 0) return -1;
  }
  return answer;
}

int composeEmail(const std::string& address, const char* subject, const char* body, int log) {
  sd_bus* raw = nullptr;
  if (sd_bus_open_user(&raw) < 0) return PortalStatus::kPortalFailed;
  const Bus bus(raw);
  const char* unique = nullptr;
  if (sd_bus_get_unique_name(raw, &unique) < 0) return PortalStatus::kPortalFailed;
  const std::string token = "support_draft_" + std::to_string(::getpid());
  std::int64_t answer = -1;
  // Subscribed before the call, so that a quick answer is not missed.
  sd_bus_slot* slot = nullptr;
  if (sd_bus_match_signal(raw, &slot, kPortalService, requestPath(unique, token).c_str(),
                          "org.freedesktop.portal.Request", "Response", onResponse, &answer) < 0) {
    return PortalStatus::kPortalFailed;
  }
  const Slot subscription(slot);
  const Message call = composeCall(raw, token, address, subject, body, log);
  if (!call) return PortalStatus::kPortalFailed;
  BusError error;
  sd_bus_message* reply = nullptr;
  const auto timeout = std::chrono::duration_cast<std::chrono::microseconds>(kAnswerTime).count();
  if (sd_bus_call(raw, call.get(), static_cast<std::uint64_t>(timeout), error.get(), &reply) < 0) {
    return sd_bus_error_has_name(error.get(), SD_BUS_ERROR_ACCESS_DENIED) ? PortalStatus::kPortalAccessDenied
                                                                          : PortalStatus::kPortalFailed;
  }
  const Message replied(reply);
  const std::int64_t response = awaitAnswer(raw, answer);
  if (response == 0) return PortalStatus::kPortalOpened;
  if (response == 1) return PortalStatus::kPortalCancelled;
  return PortalStatus::kPortalFailed;
}

}  // namespace

int main(int argc, char** argv) {
  constexpr std::string_view kAddressOption = "--address=";
  if (argc != 4 && argc != 5) return PortalStatus::kPortalUsage;
  const std::string_view option = argv[1];
  if (!option.starts_with(kAddressOption)) return PortalStatus::kPortalUsage;
  std::optional<platform::UniqueFd> log;
  if (argc == 5) {
    log = openPrivateLog(argv[4]);
    if (!log) return PortalStatus::kPortalBadFile;
  }
  return composeEmail(std::string(option.substr(kAddressOption.size())), argv[2], argv[3], log ? log->get() : -1);
}
