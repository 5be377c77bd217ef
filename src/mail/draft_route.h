// Which way a draft goes to the user's mail client: a pure decision on facts
// gathered elsewhere (mail_facts.h), so that every route can be tried with
// facts a test makes up.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "mail/client_report.h"
#include "mail/exec_line.h"
#include "mail/known_clients.h"
#include "mail/portal_answer.h"

namespace mail {

// What the job asks the mail client to show.
struct Draft {
  std::string subject;
  std::string body;
  std::string attachment;  // absolute path of the log; empty when none is asked for
  std::string recipient;   // one plain address (mail_address.h); empty when none
};

// What the desktop says about the user's mail set-up.
struct MailFacts {
  std::string mailer;      // MAILER, the user's own composer command(s); "" when unset
  bool sandboxed = false;  // running inside a Flatpak sandbox (/.flatpak-info)
  // Inside the sandbox: the bundle's desktop helper by its path on the
  // host, when the sandbox may ask the Flatpak service to run it there;
  // "" otherwise.
  std::string hostDesktopHelper;
  // Inside the sandbox: the portal backend the desktop's name points to,
  // and the mailto handler that the user's own MIME applications list names
  // at its place outside the sandbox, when the sandbox can read it there
  // ("" otherwise).
  PortalBackend portalBackend = PortalBackend::Unknown;
  std::string userMailtoHandler;
  // XDG_RUNTIME_DIR is a private directory of the user's, where a client
  // started in a terminal can report back to this process.
  bool privateChannel = false;
  std::string handlerId;   // desktop id of the default mailto handler; "" when none
  // The handler's desktop entry: its Exec line as words (exec_line.h) and
  // its Terminal key. Empty when the entry was not found.
  std::vector<ExecWord> exec;
  bool terminal = false;
  // A file of the user's alone (in the job's private directory) where a
  // client that reads the draft's texts from a file gets them, out of other
  // users' sight; "" when there is none and the texts go in the client's
  // arguments.
  std::string textsFile;
};

// How the end of the client is read.
enum class Verdict {
  // 0, or still running when the wait ends, is "opened"; any other status
  // or a signal is a failure.
  ExitStatus,
  // As ExitStatus, but status 255 is also "opened": the process only
  // forwards the request to an instance already running, which opens the
  // draft, and then exits 255 (Geary).
  ForwarderMayExit255,
};

// What a forwarding Geary exits with once the running one has the draft.
inline constexpr int kForwarderExitStatus = 255;

// What a route's "opened" proves.
enum class Assurance {
  // The client's own configuration and state were read and say it shows
  // its composer for the request (route_admission.h).
  Checked,
  // Nothing of the kind could be known (an unknown handler, MAILER naming
  // no known client, the sandbox's portal, a client whose files do not
  // tell): "opened" only means the program was started and still ran at
  // the end of the grace time, or took the request.
  StartOnly,
};

struct DraftRoute {
  enum class Kind {
    Start,    // start `argv`, read its end by `verdict`
    // Start `launcher` (a terminal, or the user's own wrapper) with the
    // bundle's client helper and `argv` after it: the helper starts the
    // client and reports its start and end, read by `verdict`. The
    // launcher's own exit says nothing about the client.
    Watched,
    Portal,   // ask the desktop portal from inside the sandbox
    // Run the desktop helper on the host (argv: its host path) through the
    // Flatpak service, which takes the route a job outside a sandbox takes.
    Host,
    Refuse,   // no route known to carry what was asked: start nothing
  };
  Kind kind = Kind::Refuse;
  std::vector<std::string> launcher;  // Watched only
  std::vector<std::string> argv;
  Verdict verdict = Verdict::ExitStatus;
  // For Start: start this alone first, waiting the grace time, and then
  // `argv`, whose end is the outcome. Balsa started cold with a draft to
  // compose crashes, at times only after the grace time (measured: 8 s
  // after the start, with no composer shown), so that its still running at
  // the end of the grace proves nothing. Started alone it runs; a running
  // Balsa takes that start's request (it shows its main window) and the
  // start exits at once. Either way `argv` then reaches a running Balsa
  // from a second process, which exits 0 once the composer is open and 1
  // when the request crashed it.
  std::vector<std::string> startAloneFirst;
  // For Start: run this first and wait at most the context's busyProbeTime
  // for its end; one that has not ended by then is ended and nothing is
  // started. A client whose running instance serves the requests of its
  // later starts one at a time answers this query only once the requests
  // before it are done, and a dialog a request opened (Claws Mail's notice
  // that a file was attached) holds every later one, a draft included,
  // until the user closes it. Empty: no query.
  std::vector<std::string> busyProbe;
  std::string why;  // for Refuse: the reason, for messages
  // For Portal: the backend that answers, which says how to read its answer.
  PortalBackend portalBackend = PortalBackend::Unknown;
  // MAILER's later commands, each tried in turn while the ones before it
  // have not opened the draft.
  std::vector<DraftRoute> fallbacks;
  // For Start and Watched: what the route's client reads from the facts'
  // texts file, written there (mode 0600, replacing any earlier one) before
  // the client is started; nothing is started when it cannot be written.
  // Nothing: the route hands the texts in the client's arguments.
  std::optional<std::string> textsFileBytes;
  // For Start and Watched: the known client the route starts, if any.
  Client client = Client::Unknown;
  Assurance assurance = Assurance::StartOnly;
};

// The route for `draft` given `facts`.
DraftRoute decideRoute(const MailFacts& facts, const Draft& draft);

// Whether a client started through the helper counts as an open draft by
// what the helper reported at the end of the wait: still running, or ended
// with a status `verdict` reads as opened. Anything else (never started,
// never heard, a crash) is a failure.
bool watchedClientOpened(const ClientReport& report, Verdict verdict);

// "mailto:<recipient>?subject=…&body=…" with every field percent-encoded
// (the recipient as encodedAddress gives it; none when the draft has none),
// and "&attach=<path>" when `withAttachment` and the draft has a log.
std::string mailtoUri(const Draft& draft, bool withAttachment);

// The file: URL of an absolute path: every byte but the unreserved ASCII
// characters and '/' percent-encoded, so no quote, comma or blank remains.
std::string fileUrl(const std::string& path);

// The draft file NeoMutt reads with -H: the recipient (when the draft has
// one) and the subject as headers, the subject as encoded words
// (encodedWords) so that no text of it is read as a header's syntax, then
// a blank line and the body as it is.
std::string neomuttDraftFile(const Draft& draft);

}  // namespace mail
