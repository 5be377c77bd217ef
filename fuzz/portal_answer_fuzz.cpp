// Feeds arbitrary desktop names (XDG_CURRENT_DESKTOP) and portal helper
// statuses to what is read from the portal inside a sandbox: the backend
// the desktop points to, what its answer means, and the route decided on
// them for an arbitrary draft. Only the portal's refusal is a refusal;
// only an answer the backend gives for a launch is an open draft; an
// unknown backend is read as the cautious one; and a draft the backend
// would alter or lose part of is never handed to it.
//
// Input, cut at NUL bytes: switches, XDG_CURRENT_DESKTOP, subject, body,
// log path, recipient, then the helper's statuses as bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_input.h"
#include "mail/draft_route.h"
#include "mail/portal_answer.h"
#include "route_check.h"

namespace {

using fuzz_input::flag;
using fuzz_input::pieceOr;
using fuzz_input::require;
using mail::PortalBackend;
using mail::PortalMeaning;

bool sameIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// Whether one of the colon-separated names of `desktops` is `name`.
bool names(std::string_view desktops, std::string_view name) {
  while (true) {
    const auto colon = desktops.find(':');
    if (sameIgnoringAsciiCase(desktops.substr(0, colon), name)) return true;
    if (colon == std::string_view::npos) return false;
    desktops.remove_prefix(colon + 1);
  }
}

// `text` with every '%' and two hexadecimal digits read as one byte, as a
// URI decoder reads them.
std::string percentDecoded(std::string_view text) {
  const auto hex = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  std::string decoded;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && hex(text[i + 1]) >= 0 && hex(text[i + 2]) >= 0) {
      decoded += static_cast<char>(hex(text[i + 1]) * 16 + hex(text[i + 2]));
      i += 2;
    } else {
      decoded += text[i];
    }
  }
  return decoded;
}

void checkMeanings(int status) {
  for (const PortalBackend backend : {PortalBackend::Gtk, PortalBackend::Kde, PortalBackend::Unknown}) {
    const PortalMeaning meaning = mail::meaningOf(backend, status);
    if (status == mail::kPortalAccessDenied) require(meaning == PortalMeaning::PermissionDenied);
    if (meaning == PortalMeaning::PermissionDenied) require(status == mail::kPortalAccessDenied);
    if (meaning == PortalMeaning::Opened) {
      require(status == mail::kPortalResponse0 || status == mail::kPortalResponse1 || status == mail::kPortalNoResponse);
    }
  }
  require(mail::meaningOf(PortalBackend::Unknown, status) == mail::meaningOf(PortalBackend::Gtk, status));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto pieces = fuzz_input::piecesAtNul(fuzz_input::bytesOf(data, size));
  const std::string& switches = pieces[0];
  const std::string& desktops = pieceOr(pieces, 1);

  const PortalBackend backend = mail::portalBackendForDesktop(flag(switches, 0) ? nullptr : desktops.c_str());
  if (backend == PortalBackend::Gtk) require(names(desktops, "gnome"));
  if (backend == PortalBackend::Kde) require(names(desktops, "kde"));
  if (backend == PortalBackend::Unknown && !flag(switches, 0)) {
    require(!names(desktops, "gnome") && !names(desktops, "kde"));
  }
  require(mail::carriesAttachments(backend) == (backend == PortalBackend::Kde));

  // Each byte a status, less one, so that 0 can be written.
  for (const char status : pieceOr(pieces, 6)) checkMeanings(static_cast<signed char>(status) - 1);

  mail::MailFacts facts;
  facts.sandboxed = true;
  facts.portalBackend = backend;
  // Whatever else the desktop says, inside the sandbox only the portal counts.
  facts.mailer = flag(switches, 1) ? "thunderbird" : "";
  facts.privateChannel = flag(switches, 2);
  if (flag(switches, 4)) facts.userMailtoHandler = flag(switches, 5) ? "org.gnome.Evolution.desktop" : "thunderbird.desktop";
  const mail::Draft draft = route_check::madeUpDraft(pieceOr(pieces, 2), pieceOr(pieces, 3),
                                                     flag(switches, 3) ? pieceOr(pieces, 4) : "", pieceOr(pieces, 5));
  const mail::DraftRoute route = mail::decideRoute(facts, draft);
  route_check::requireSound(route, facts, draft);
  if (route.kind == mail::DraftRoute::Kind::Portal) {
    // The log goes only where the backend hands it to the client: the KDE
    // backend always, the GTK one only to Evolution.
    const bool gtkToEvolution = backend == PortalBackend::Gtk && facts.userMailtoHandler == "org.gnome.Evolution.desktop";
    require(draft.attachment.empty() || backend == PortalBackend::Kde || gtkToEvolution);
    // The portal decodes the log's path; the KDE backend splits it at
    // commas, the GTK backend puts it into its URI unencoded.
    require(percentDecoded(draft.attachment) == draft.attachment);
    if (backend == PortalBackend::Kde) require(draft.attachment.find(',') == std::string::npos);
    if (backend == PortalBackend::Gtk) {
      require(draft.attachment.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789/._~-") ==
              std::string::npos);
    }
    // The KDE backend hands the texts on unencoded: inside a mailto: URI
    // they must decode to themselves, inside Thunderbird's quoted fields
    // nothing may end the value.
    if (backend == PortalBackend::Kde) {
      for (const std::string* text : {&draft.subject, &draft.body}) {
        require(percentDecoded(*text) == *text);
        require(text->find("',") == std::string::npos);
      }
    }
    require(mail::carriesAddress(draft.recipient));
  }
  return 0;
}
