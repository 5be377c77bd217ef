#include "mail/portal_answer.h"

#include <algorithm>
#include <string>
#include <string_view>

#include "platform/text.h"

namespace mail {
namespace {

// UseIn= of the backends that implement Email, as Debian 12 installs them
// (gtk.portal: "gnome"; kde.portal: "KDE").
PortalBackend backendClaiming(std::string_view desktop) {
  const std::string name = platform::foldAsciiCase(std::string(desktop));
  if (name == "gnome") return PortalBackend::Gtk;
  if (name == "kde") return PortalBackend::Kde;
  return PortalBackend::Unknown;
}

bool isHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// A '%' and two hexadecimal digits: what a URI decoder reads as one byte.
bool holdsPercentEscape(std::string_view text) {
  for (auto at = text.find('%'); at != std::string_view::npos; at = text.find('%', at + 1)) {
    if (at + 2 < text.size() && isHexDigit(text[at + 1]) && isHexDigit(text[at + 2])) return true;
  }
  return false;
}

// An apostrophe followed by a comma: where Thunderbird's -compose parser
// ends a quoted value.
bool endsQuotedField(std::string_view text) { return text.find("',") != std::string_view::npos; }

}  // namespace

PortalBackend portalBackendForDesktop(const char* currentDesktop) {
  if (currentDesktop == nullptr) return PortalBackend::Unknown;
  std::string_view rest = currentDesktop;
  while (true) {
    const auto colon = rest.find(':');
    const PortalBackend backend = backendClaiming(rest.substr(0, colon));
    if (backend != PortalBackend::Unknown) return backend;
    if (colon == std::string_view::npos) return PortalBackend::Unknown;
    rest.remove_prefix(colon + 1);
  }
}

bool carriesAttachments(PortalBackend backend) { return backend == PortalBackend::Kde; }

bool carriesText(PortalBackend backend, std::string_view text) {
  return backend != PortalBackend::Kde || (!endsQuotedField(text) && !holdsPercentEscape(text));
}

bool carriesLogPath(PortalBackend backend, std::string_view path) {
  if (holdsPercentEscape(path)) return false;
  if (backend == PortalBackend::Kde) return path.find(',') == std::string_view::npos;
  for (const char c : path) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '/' ||
                       c == '.' || c == '_' || c == '~' || c == '-';
    if (!plain) return false;
  }
  return true;
}

std::chrono::milliseconds portalResponseTime(PortalBackend backend, std::chrono::milliseconds deadline) {
  return backend == PortalBackend::Kde ? std::min(kKdeResponseTime, deadline) : deadline;
}

std::chrono::steady_clock::time_point responseDeadline(std::chrono::steady_clock::time_point sent,
                                                       std::chrono::steady_clock::time_point replied,
                                                       std::chrono::milliseconds responseTime,
                                                       std::chrono::steady_clock::time_point deadline) {
  return std::min(deadline, std::max(sent + responseTime, replied + std::min(responseTime, kLeastResponseTimeAfterReply)));
}

bool carriesAddress(std::string_view address) {
  for (const char c : address) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                       c == '-' || c == '_' || c == '+' || c == '@';
    if (!plain) return false;
  }
  return true;
}

PortalMeaning meaningOf(PortalBackend backend, int helperStatus) {
  switch (helperStatus) {
    case kPortalAccessDenied:
      return PortalMeaning::PermissionDenied;
    case kPortalResponse0:
      return backend == PortalBackend::Kde ? PortalMeaning::Failed : PortalMeaning::Opened;
    case kPortalResponse1:
      // The KDE backend shows no chooser: its 1 is a started client.
      return backend == PortalBackend::Kde ? PortalMeaning::Opened : PortalMeaning::Cancelled;
    case kPortalNoResponse:
      // The KDE backend sends its Response only when the client it started
      // has ended (measured: a Thunderbird started cold answered when it
      // was closed), so a call it took and has not answered is a client
      // still running with the draft, as a client in the foreground is on
      // the direct routes. Elsewhere it is a chooser nobody answered.
      return backend == PortalBackend::Kde ? PortalMeaning::Opened : PortalMeaning::Failed;
    default:
      return PortalMeaning::Failed;
  }
}

}  // namespace mail
