// support-draft-portal MILLISECONDS RESPONSE_MILLISECONDS < DRAFT
//
// Asks the desktop portal's Email interface for a draft, from inside a
// Flatpak sandbox where the portal is the only way to the user's mail
// client. A program of its own so that the main executable never loads the
// D-Bus library: only a sandboxed job starts it.
//
// DRAFT, its standard input, holds four words (helper_words.h): the
// recipient's address, the subject, the body and the log's path, the
// address and the path empty when there is none. They come through a
// descriptor rather than the arguments so that no other user can read the
// draft in this process's command line.
//
// One deadline, MILLISECONDS from the start, covers connecting to the
// session bus, the reply to ComposeEmail and the request's Response; once
// the call has replied, the Response is awaited until RESPONSE_MILLISECONDS
// after the call was sent, or a little longer when the portal was slow to
// take it (responseDeadline). When either passes, the request is closed,
// so that a backend that answers late cannot open a draft after the caller
// has been told that none opened.
//
// The log, when given, goes as a descriptor in attachment_fds: opened
// without following a link and judged again as the user's private file on
// the open descriptor. The address, when not empty, goes in the `address`
// option as the caller encoded it (never in `addresses`, on which a
// backend is reported to fail after starting the client). The exit status
// says what the portal answered (PortalStatus in portal_answer.h); what the
// answer means depends on the backend and is the caller's to judge.
#include <fcntl.h>
#include <sys/stat.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "mail/bus/bus.h"
#include "mail/helper_words.h"
#include "mail/portal_answer.h"
#include "platform/directory.h"
#include "platform/file_io.h"

namespace {

using namespace mail;
using namespace mail::bus;

constexpr const char* kPortalService = "org.freedesktop.portal.Desktop";
constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";
constexpr const char* kRequestInterface = "org.freedesktop.portal.Request";

// The log opened without following a link, if it is still the user's
// private regular file once open.
std::optional<platform::UniqueFd> openPrivateLog(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return std::nullopt;
  const auto directory = platform::Directory::openWithoutLinks(slash == 0 ? "/" : path.substr(0, slash));
  if (!directory) return std::nullopt;
  auto file = platform::openForReading(platform::childOf(*directory, path.substr(slash + 1)));
  if (!file) return std::nullopt;
  // Its size was the job's to check; here it must still be a regular file
  // of the user's, closed to everyone else, as the report channel's
  // directory is.
  struct stat facts {};
  if (fstat(file->get(), &facts) != 0 || !S_ISREG(facts.st_mode) || facts.st_uid != geteuid() ||
      (facts.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
    return std::nullopt;
  }
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

// What has come back so far; the callbacks below fill it in.
struct Exchange {
  std::optional<int> status;  // set once the outcome is known
  std::string handle;         // the request object, once the call replied
};

int onResponse(sd_bus_message* message, void* data, sd_bus_error*) {
  auto& exchange = *static_cast<Exchange*>(data);
  std::uint32_t response = 2;
  if (sd_bus_message_read(message, "u", &response) < 0) response = 2;
  exchange.status = response == 0 ? kPortalResponse0 : response == 1 ? kPortalResponse1 : kPortalResponseOther;
  return 0;
}

int onReply(sd_bus_message* reply, void* data, sd_bus_error*) {
  auto& exchange = *static_cast<Exchange*>(data);
  if (const sd_bus_error* error = sd_bus_message_get_error(reply); error != nullptr) {
    // A call the bus gave up on (its own timeout) is no answer, not a refusal.
    exchange.status = sd_bus_error_has_name(error, SD_BUS_ERROR_ACCESS_DENIED) ? kPortalAccessDenied
                      : sd_bus_error_has_name(error, SD_BUS_ERROR_TIMEOUT)     ? kPortalNoAnswer
                                                                               : kPortalUnreachable;
    return 0;
  }
  const char* handle = nullptr;
  if (sd_bus_message_read(reply, "o", &handle) < 0) {
    exchange.status = kPortalUnreachable;
    return 0;
  }
  exchange.handle = handle;
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

// Closes the request, so that the backend's dialog goes and a late answer
// is dropped by the portal; waits at most kPortalCloseTime for the portal
// to confirm, so that the close has been handled before failure is
// reported.
void closeRequest(sd_bus* bus, const std::string& handle) {
  sd_bus_message* raw = nullptr;
  if (sd_bus_message_new_method_call(bus, &raw, kPortalService, handle.c_str(), kRequestInterface, "Close") < 0) {
    return;
  }
  const Message call(raw);
  sd_bus_message* reply = nullptr;
  const auto wait = std::chrono::duration_cast<std::chrono::microseconds>(kPortalCloseTime).count();
  // Its error (a request already gone) changes nothing.
  if (sd_bus_call(bus, call.get(), static_cast<std::uint64_t>(wait), nullptr, &reply) >= 0) sd_bus_message_unref(reply);
}

int composeEmail(Clock::time_point deadline, std::chrono::milliseconds responseTime, const std::string& address,
                 const char* subject, const char* body, int log) {
  sd_bus* raw = nullptr;
  // Opening starts the connection without waiting for the bus's greeting.
  if (sd_bus_open_user(&raw) < 0) return kPortalUnreachable;
  const Bus bus(raw);
  bool broken = false;
  if (!workUntil(raw, deadline, broken, [&] { return sd_bus_is_ready(raw) > 0; })) return kPortalNoAnswer;
  if (broken) return kPortalUnreachable;
  const char* unique = nullptr;
  if (sd_bus_get_unique_name(raw, &unique) < 0) return kPortalUnreachable;
  const std::string token = "support_draft_" + std::to_string(::getpid());
  const std::string expected = requestPath(unique, token);
  Exchange exchange;
  // Subscribed before the call (the bus handles both in order), so that a
  // quick answer is not missed.
  sd_bus_slot* matchSlot = nullptr;
  if (sd_bus_match_signal_async(raw, &matchSlot, kPortalService, expected.c_str(), kRequestInterface, "Response",
                                onResponse, nullptr, &exchange) < 0) {
    return kPortalUnreachable;
  }
  const Slot subscription(matchSlot);
  const Message call = composeCall(raw, token, address, subject, body, log);
  if (!call) return kPortalUnreachable;
  sd_bus_slot* callSlot = nullptr;
  const std::uint64_t timeout = microsecondsLeft(deadline);
  const auto sent = Clock::now();
  if (timeout == 0 || sd_bus_call_async(raw, &callSlot, call.get(), onReply, &exchange, timeout) < 0) {
    return timeout == 0 ? kPortalNoAnswer : kPortalUnreachable;
  }
  const Slot pending(callSlot);
  bool answered = workUntil(raw, deadline, broken, [&] { return exchange.status.has_value() || !exchange.handle.empty(); });
  if (answered && !broken && !exchange.status) {
    // The call replied: the Response has the response time from the call,
    // at least a little time from the reply, within the deadline.
    const auto until = responseDeadline(sent, Clock::now(), responseTime, deadline);
    answered = workUntil(raw, until, broken, [&] { return exchange.status.has_value(); });
  }
  if (broken) return kPortalUnreachable;
  // The deadline passed, here or as the call's own timeout.
  if (!answered || *exchange.status == kPortalNoAnswer) {
    // The portal names the request after the token; before its reply the
    // expected path is the one to close.
    closeRequest(raw, exchange.handle.empty() ? expected : exchange.handle);
    return exchange.handle.empty() ? kPortalNoAnswer : kPortalNoResponse;
  }
  return *exchange.status;
}

// The draft's four words from standard input: address, subject, body, log.
std::optional<std::vector<std::string>> draftWords() {
  const platform::UniqueFd input(::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0));
  if (!input) return std::nullopt;
  const auto bytes = platform::readAtMost(input, kMaxHelperWordsSize + 1);
  if (!bytes) return std::nullopt;
  auto words = unpackWords(*bytes, 4);
  if (!words || words->size() != 4) return std::nullopt;
  return words;
}

}  // namespace

int main(int argc, char** argv) {
  const auto start = Clock::now();
  if (argc != 3) return kPortalUsage;
  const auto deadline = deadlineMilliseconds(argv[1]);
  const auto responseTime = deadlineMilliseconds(argv[2]);
  if (!deadline || !responseTime) return kPortalUsage;
  const auto words = draftWords();
  if (!words) return kPortalUsage;
  const auto& [address, subject, body, logPath] = std::tie((*words)[0], (*words)[1], (*words)[2], (*words)[3]);
  std::optional<platform::UniqueFd> log;
  if (!logPath.empty()) {
    log = openPrivateLog(logPath);
    if (!log) return kPortalBadFile;
  }
  return composeEmail(start + std::chrono::milliseconds(*deadline), std::chrono::milliseconds(*responseTime), address,
                      subject.c_str(), body.c_str(), log ? log->get() : -1);
}
