// The desktop portal's Email interface as seen from inside a sandbox: which
// backend answers for the desktop, whether it carries a log into the
// client, and what its answer means. Pure decisions on facts gathered
// elsewhere (mail_facts.h) and on the portal helper's exit status.
#pragma once

#include <chrono>
#include <string_view>

namespace mail {

// The portal backend that serves the Email interface. Backends differ in
// what they hand the client and in how they answer:
// - Gtk starts the client with a mailto: URI whose attachment= field the
//   clients ignore (the log is lost) and answers Response 0 for a launch,
//   1 when the user cancels its chooser, 2 otherwise;
// - Kde hands the log on in each client's own way and answers the
//   launcher's success as a truth value: Response 1 for a started client,
//   0 for a start that failed.
// Unknown is any other: the portal then falls back to whichever backend is
// installed, which the sandbox cannot see, so it is read as Gtk, the
// cautious reading (no log is admitted).
enum class PortalBackend { Gtk, Kde, Unknown };

// The backend the portal picks for XDG_CURRENT_DESKTOP (a colon-separated
// list; null or empty when unset): the first name, in order, that a
// backend's UseIn= list holds, compared without ASCII case as the portal
// does. Names no Email backend claims are passed over.
PortalBackend portalBackendForDesktop(const char* currentDesktop);

// Whether the backend is known to carry the log into the client.
bool carriesAttachments(PortalBackend backend);

// Whether the backend hands `text` (a subject or a body) to every client
// unchanged. The KDE backend puts the texts into the client's arguments
// without encoding them: into Thunderbird's -compose fields as
// `subject='<text>'`, where an apostrophe followed by a comma ends the
// value, and into a mailto: URI for every other client, where a '%'
// followed by two hexadecimal digits is decoded ("%20" arrives as a blank,
// "%41" as "A"). Which client it starts the sandbox cannot tell, so a text
// holding either sequence is not carried; an apostrophe or a '%' alone
// arrives as it is. The GTK backend encodes the texts itself.
bool carriesText(PortalBackend backend, std::string_view text);

// The same for the log's path. The portal itself decodes '%' sequences in
// it, so such a path names another file on every backend. The KDE backend
// puts it into Thunderbird's `attachment='<path>'` field, whose commas
// separate files (an apostrophe is safe there unless a comma follows it);
// the GTK backend puts it into its mailto: URI as it stands, unencoded,
// where '&', '#', a blank and more end or alter the field: there only
// letters, digits and "/._~-" are carried.
bool carriesLogPath(PortalBackend backend, std::string_view path);

// How long the portal may take, from connecting to the bus to the
// Response: long enough for a person to pick a mail program in the
// backend's chooser, short enough that the program answers inside the
// host command's default time bound (30 seconds), with the time to close
// the request and the caller's backstop.
inline constexpr std::chrono::milliseconds kPortalDeadline{25000};
// How long the backend's Response is awaited, counted from the call. The
// KDE backend answers for a client it starts cold only when that client
// ends: its silence this long after the call is a client running with the
// draft, told about as soon as the direct routes tell theirs (their grace
// time, counted from the start). Any other backend may be showing a chooser
// that waits for a person, and keeps the whole deadline.
inline constexpr std::chrono::milliseconds kKdeResponseTime{5000};
std::chrono::milliseconds portalResponseTime(PortalBackend backend, std::chrono::milliseconds deadline);
// The least time the Response is awaited after the portal has taken the
// call, however late it took it: the KDE backend says that it could not
// start a client (Response 0) some 0.2-0.5 s after the portal hands it the
// call, and a portal that is slow to start must not leave it no time.
inline constexpr std::chrono::milliseconds kLeastResponseTimeAfterReply{1500};
// When the Response stops being awaited, for a call sent at `sent` that the
// portal took at `replied`: `responseTime` after the call, but no sooner
// than kLeastResponseTimeAfterReply (or `responseTime` itself, when that is
// shorter) after the reply, and never past the whole exchange's `deadline`.
std::chrono::steady_clock::time_point responseDeadline(std::chrono::steady_clock::time_point sent,
                                                       std::chrono::steady_clock::time_point replied,
                                                       std::chrono::milliseconds responseTime,
                                                       std::chrono::steady_clock::time_point deadline);
// How long after the deadline the helper waits for the portal to confirm
// that the request is closed.
inline constexpr std::chrono::milliseconds kPortalCloseTime{1000};
// How long the caller waits for the helper before ending it: the deadline,
// the close, and a tenth of the deadline for starting and ending.
constexpr std::chrono::milliseconds portalBackstop(std::chrono::milliseconds deadline) {
  return deadline + kPortalCloseTime + deadline / 10;
}
// The exit statuses of the portal helper (Contents/MacOS/support-draft-portal):
// what the portal said, not yet what it means.
enum PortalStatus : int {
  kPortalResponse0 = 0,     // Response 0
  kPortalResponse1 = 1,     // Response 1
  kPortalResponseOther = 2, // Response 2, or any other code
  kPortalAccessDenied = 3,  // the call failed with org.freedesktop.DBus.Error.AccessDenied
  kPortalBadFile = 4,       // the attachment is not a private regular file of the user
  kPortalNoAnswer = 5,      // the deadline passed before the call's reply: the request was closed
  kPortalNoResponse = 7,    // the call replied, the deadline passed before the Response: the request was closed
  kPortalUnreachable = 6,   // no session bus, or the call failed otherwise
  kPortalUsage = 64,
};

// Whether the portal carries `address` (already known to be one plain
// address) to the client as it is. The portal takes the address itself,
// not a URI part, and a backend either escapes it (GTK) or puts it into the
// client's arguments as it stands (KDE); either way only an address of
// letters, digits and ". - _ + @" reads the same to every client.
bool carriesAddress(std::string_view address);

enum class PortalMeaning {
  Opened,            // the backend started the client with the draft
  Cancelled,         // the user cancelled the backend's chooser
  Failed,            // the backend could not start the client, or said nothing in time
  PermissionDenied,  // the portal does not let this application compose mail
};

// What the helper's exit status means on `backend`.
PortalMeaning meaningOf(PortalBackend backend, int helperStatus);

}  // namespace mail
