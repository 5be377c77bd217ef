#include "mail/draft_route.h"

#include <array>
#include <optional>
#include <string_view>
#include <utility>

#include "mail/command_shape.h"
#include "mail/header_line.h"
#include "mail/mail_address.h"
#include "mail/mailer_command.h"
#include "mail/percent_encoding.h"

namespace mail {
namespace {

DraftRoute refuse(std::string why) {
  DraftRoute route;
  route.kind = DraftRoute::Kind::Refuse;
  route.why = std::move(why);
  return route;
}

DraftRoute start(std::vector<std::string> argv, Verdict verdict = Verdict::ExitStatus) {
  DraftRoute route;
  route.kind = DraftRoute::Kind::Start;
  route.argv = std::move(argv);
  route.verdict = verdict;
  return route;
}

// What a known client is handed after its program: its arguments, and the
// texts file's bytes when it reads the texts from there.
struct ClientHandOff {
  std::vector<std::string> arguments;
  std::optional<std::string> textsFileBytes;
};

// Whether Thunderbird's -compose takes `path` as a message= value: in double
// quotes, which a comma or an apostrophe of the path cannot end (its file:
// URL is not taken there). A path with a double quote, a backslash, a '%'
// (whose reading there was not measured) or a control character goes
// another way.
bool thunderbirdTakesMessagePath(const std::string& path) {
  for (const char c : path) {
    if (c == '"' || c == '\\' || c == '%' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
  }
  return !path.empty();
}

// Thunderbird ignores attach= in a mailto: URI; its -compose option takes
// comma-separated fields instead. Subject and body stay percent-encoded
// (Thunderbird decodes them), as does the recipient's local part, and the
// log goes as a file: URL, so no character of any text can end a value or
// add a field. With a texts file the body goes there instead (message=,
// read as UTF-8 plain text, the running instance's as well as a cold
// start's), out of the command line; subject and recipient have no such
// field and stay in it.
ClientHandOff thunderbirdHandOff(const Draft& draft, const std::string& textsFile) {
  std::string fields;
  if (!draft.recipient.empty()) fields = "to=" + encodedAddress(draft.recipient) + ",";
  fields += "subject=" + percentEncode(draft.subject);
  std::optional<std::string> bytes;
  if (!draft.body.empty() && thunderbirdTakesMessagePath(textsFile)) {
    fields += ",message=\"" + textsFile + "\"";
    bytes = draft.body;
  } else {
    fields += ",body=" + percentEncode(draft.body);
  }
  if (!draft.attachment.empty()) fields += ",attachment='" + fileUrl(draft.attachment) + "'";
  return {{"-compose", std::move(fields)}, std::move(bytes)};
}

// NeoMutt reads a draft file (-H) at its start, headers and body, and
// works on a copy of its own from then on.
ClientHandOff neomuttHandOff(const Draft& draft, const std::string& textsFile) {
  const bool log = !draft.attachment.empty();
  if (textsFile.empty()) {
    // -a takes files up to "--"; the mailto: URL stands as the address.
    if (!log) return {{mailtoUri(draft, false)}, std::nullopt};
    return {{"-a", draft.attachment, "--", mailtoUri(draft, false)}, std::nullopt};
  }
  if (!log) return {{"-H", textsFile}, neomuttDraftFile(draft)};
  return {{"-H", textsFile, "-a", draft.attachment, "--"}, neomuttDraftFile(draft)};
}

// The arguments after the client's program, for the clients whose mailto:
// handling drops attachments their own compose options are used.
// `textsFile`: where a client that can read the texts from a file gets
// them ("" for none).
ClientHandOff clientHandOff(Client client, const Draft& draft, const std::string& textsFile) {
  const bool log = !draft.attachment.empty();
  switch (client) {
    case Client::Thunderbird:
      return thunderbirdHandOff(draft, textsFile);
    case Client::Sylpheed:
      if (!log) return {{"--compose", mailtoUri(draft, false)}, std::nullopt};
      return {{"--compose", mailtoUri(draft, false), "--attach", draft.attachment}, std::nullopt};
    case Client::Balsa:
      // --compose takes the mailto: URI; --attach takes a file: URL (a
      // plain path gives "Operation not supported").
      if (!log) return {{"--compose=" + mailtoUri(draft, false)}, std::nullopt};
      return {{"--compose=" + mailtoUri(draft, false), "--attach=" + fileUrl(draft.attachment)}, std::nullopt};
    case Client::NeoMutt:
      return neomuttHandOff(draft, textsFile);
    case Client::Evolution:
    case Client::ClawsMail:
    case Client::Geary:
    case Client::KMail:
    case Client::Unknown:
      break;
  }
  // These take attach= from the mailto: URI.
  return {{mailtoUri(draft, true)}, std::nullopt};
}

// A terminal entry (NeoMutt) runs in the terminal emulator Debian's
// alternatives name, which takes the command and its arguments after -e.
// A constant of the program's image: nothing is built for it at start.
constexpr std::array<std::string_view, 2> kTerminal = {"x-terminal-emulator", "-e"};

// The client started through `launcher`, with the helper between them to
// report the client's own end: a terminal's exit says nothing about it.
// Without a private place to hear the report, nothing is started.
DraftRoute watched(std::vector<std::string> launcher, std::vector<std::string> argv, Verdict verdict,
                   const MailFacts& facts) {
  if (!facts.privateChannel) {
    return refuse("The mail client runs in a terminal, and there is no private runtime directory "
                  "(XDG_RUNTIME_DIR) to learn from whether it opened the draft.");
  }
  DraftRoute route = start(std::move(argv), verdict);
  route.kind = DraftRoute::Kind::Watched;
  route.launcher = std::move(launcher);
  return route;
}

Verdict verdictFor(Client client) {
  return client == Client::Geary ? Verdict::ForwarderMayExit255 : Verdict::ExitStatus;
}

using Words = std::vector<std::string>;

Words slice(const Words& words, std::size_t from, std::size_t to) {
  return Words(words.begin() + static_cast<std::ptrdiff_t>(from), words.begin() + static_cast<std::ptrdiff_t>(to));
}

// The words of a command with `arguments` in the place of its target (a
// desktop entry's %u), or after its last word when it has none. For a
// known client an option of its own right before the target ("balsa -m
// %U") goes too: its own arguments stand for it. A Flatpak entry's
// file-forwarding marks around the target go as well, since the client's
// own arguments are no files to forward.
Words withTarget(const Words& words, std::optional<std::size_t> target, const Words& arguments, Client client,
                 bool flatpak) {
  Words out;
  const std::size_t at = target.value_or(words.size());
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (i == at) {
      out.insert(out.end(), arguments.begin(), arguments.end());
      continue;
    }
    if (i + 1 == at && isComposeOption(client, words[i])) continue;
    if (flatpak && client != Client::Unknown && (words[i] == "@@" || words[i] == "@@u")) continue;
    out.push_back(words[i]);
  }
  if (!target) {
    if (!out.empty() && isComposeOption(client, out.back())) out.pop_back();
    out.insert(out.end(), arguments.begin(), arguments.end());
  }
  return out;
}

// How a command whose words are `words` (a desktop entry's Exec line, or
// one MAILER command) gives `draft` to its client. `target` is where the
// entry takes its URI (MAILER's command takes it last); `takesUri` whether
// it takes a URI there at all (an entry's %f or none takes files only);
// `terminal` its Terminal key; `uriClient` the client the handler's desktop
// id names, which says whether a program that is not itself the client may
// be handed attach= (a shell running Claws Mail).
DraftRoute commandRoute(const Words& words, std::optional<std::size_t> target, bool takesUri, bool terminal,
                        Client uriClient, const MailFacts& facts, const Draft& draft) {
  const bool log = !draft.attachment.empty();
  const CommandShape shape = commandShape(words);
  const Client client = shape.client;
  // A terminal runs the client; the helper goes right before the client's
  // program, so that its report is of the client, not of the terminal.
  Words launcher = slice(words, 0, shape.program);
  const bool watchedStart = terminal || shape.inTerminal || (client == Client::NeoMutt && !shape.flatpak);
  if (terminal || (client == Client::NeoMutt && !shape.inTerminal && !shape.flatpak)) {
    launcher.insert(launcher.begin(), kTerminal.begin(), kTerminal.end());
  }
  Words argv;
  Verdict verdict;
  std::optional<std::string> textsFileBytes;
  if (client != Client::Unknown) {
    if (shape.flatpak && log) {
      return refuse("The mail client runs in a Flatpak sandbox, which cannot read the log.");
    }
    // A Flatpak client cannot read the job's files: its texts stay in its arguments.
    ClientHandOff handOff = clientHandOff(client, draft, shape.flatpak ? std::string() : facts.textsFile);
    textsFileBytes = std::move(handOff.textsFileBytes);
    argv = withTarget(words, target, handOff.arguments, client, shape.flatpak);
    verdict = verdictFor(client);
  } else {
    const bool attach = takesAttachInUri(uriClient);
    if (!takesUri) return refuse("The default mail client's entry takes no URI.");
    if (log && !attach) {
      return refuse("The default mail client's entry runs a program not known to take the log.");
    }
    argv = withTarget(words, target, {mailtoUri(draft, attach)}, Client::Unknown, false);
    verdict = verdictFor(uriClient);
  }
  if (watchedStart) {
    // The helper starts the client's program with the words from it on.
    const std::size_t before = shape.program;
    DraftRoute route = watched(std::move(launcher), slice(argv, before, argv.size()), verdict, facts);
    if (route.kind == DraftRoute::Kind::Watched) {
      route.client = client;
      route.textsFileBytes = std::move(textsFileBytes);
    }
    return route;
  }
  DraftRoute route = start(argv, verdict);
  route.client = client;
  route.textsFileBytes = std::move(textsFileBytes);
  if (client == Client::Balsa) route.startAloneFirst = withTarget(words, target, {}, client, false);
  // Claws Mail's --status is served in turn with the requests forwarded
  // before it; when none runs, the start only says so and exits.
  if (client == Client::ClawsMail) route.busyProbe = withTarget(words, target, {"--status"}, client, shape.flatpak);
  return route;
}

DraftRoute defaultHandlerRoute(const MailFacts& facts, const Draft& draft) {
  std::optional<std::size_t> target;
  for (std::size_t i = 0; i < facts.exec.size(); ++i) {
    if (facts.exec[i].target) target = i;
  }
  const bool takesUri = target && (facts.exec[*target].text == "%u" || facts.exec[*target].text == "%U");
  return commandRoute(execTexts(facts.exec), target, takesUri, facts.terminal, clientForDesktopId(facts.handlerId),
                      facts, draft);
}

// One MAILER command: a plain one is looked through to the program it
// finally runs; one only a shell can run is the user's own composer, run
// by the shell as the desktop's hand-off runs it, with the URI and attach=
// (`uri`, the draft's mailto: URI with the log).
DraftRoute mailerCommandRoute(const MailerCommand& command, const std::string& uri, const MailFacts& facts,
                              const Draft& draft) {
  if (command.needsShell()) return start(shellCommand(command, uri));
  const CommandShape shape = commandShape(command.words);
  if (shape.client == Client::Unknown) {
    Words argv = command.words;
    argv.push_back(uri);
    if (shape.inTerminal) return watched(slice(argv, 0, shape.program), slice(argv, shape.program, argv.size()),
                                         Verdict::ExitStatus, facts);
    return start(std::move(argv));
  }
  return commandRoute(command.words, std::nullopt, true, false, Client::Unknown, facts, draft);
}

// More commands than anyone lists by hand: the 128 KiB an environment
// string may hold would make tens of thousands, each route holding the
// draft's URI (gigabytes at the longest body).
constexpr std::size_t kMaxMailerCommands = 64;

DraftRoute mailerRoute(const MailFacts& facts, const Draft& draft) {
  const std::vector<MailerCommand> commands = mailerCommands(facts.mailer);
  if (commands.empty()) return refuse("MAILER names no command.");
  if (commands.size() > kMaxMailerCommands) return refuse("MAILER lists more than 64 commands.");
  // Encoded once: a MAILER of many commands would otherwise encode the
  // whole draft again for each of them.
  const std::string uri = mailtoUri(draft, true);
  DraftRoute route = mailerCommandRoute(commands.front(), uri, facts, draft);
  for (std::size_t i = 1; i < commands.size(); ++i) {
    route.fallbacks.push_back(mailerCommandRoute(commands[i], uri, facts, draft));
  }
  return route;
}

}  // namespace

bool watchedClientOpened(const ClientReport& report, Verdict verdict) {
  switch (report.state) {
    case ClientReport::State::Started:
      return true;
    case ClientReport::State::Ended:
      if (report.end.signalled) return false;
      return report.end.number == 0 ||
             (verdict == Verdict::ForwarderMayExit255 && report.end.number == kForwarderExitStatus);
    case ClientReport::State::Silent:
    case ClientReport::State::Unstartable:
    case ClientReport::State::Malformed:
    case ClientReport::State::Lost:
      break;
  }
  return false;
}

std::string mailtoUri(const Draft& draft, bool withAttachment) {
  std::string uri = "mailto:" + encodedAddress(draft.recipient) + "?subject=" + percentEncode(draft.subject) +
                    "&body=" + percentEncode(draft.body);
  if (withAttachment && !draft.attachment.empty()) uri += "&attach=" + percentEncode(draft.attachment);
  return uri;
}

std::string fileUrl(const std::string& path) {
  // Each component encoded on its own, the separators between them kept.
  std::string url = "file://";
  std::string_view rest = path;
  for (auto slash = rest.find('/'); slash != std::string_view::npos; slash = rest.find('/')) {
    url += percentEncode(rest.substr(0, slash)) + "/";
    rest.remove_prefix(slash + 1);
  }
  return url + percentEncode(rest);
}

std::string neomuttDraftFile(const Draft& draft) {
  std::string file;
  if (!draft.recipient.empty()) file = "To: " + draft.recipient + "\n";
  return file + "Subject: " + encodedWords(draft.subject) + "\n\n" + draft.body;
}

DraftRoute decideRoute(const MailFacts& facts, const Draft& draft) {
  const bool log = !draft.attachment.empty();
  // Inside a sandbox that may run a command on the host, the host takes the
  // route a job outside the sandbox would, log and all. Otherwise the portal
  // is the only way out. Only a backend known
  // to carry the log into the client is asked for a draft with one: the
  // others would open a draft without it.
  if (facts.sandboxed && !facts.hostDesktopHelper.empty()) {
    DraftRoute route;
    route.kind = DraftRoute::Kind::Host;
    route.argv = {facts.hostDesktopHelper};
    return route;
  }
  if (facts.sandboxed) {
    // The GTK backend hands the log on as attachment= in a mailto: URI,
    // which of the known clients only a running Evolution takes.
    const bool gtkToEvolution = facts.portalBackend == PortalBackend::Gtk &&
                                clientForDesktopId(facts.userMailtoHandler) == Client::Evolution;
    if (log && !carriesAttachments(facts.portalBackend) && !gtkToEvolution) {
      return refuse("The desktop portal's backend for this desktop does not carry attachments into the mail client.");
    }
    if (!carriesText(facts.portalBackend, draft.subject) || !carriesText(facts.portalBackend, draft.body) ||
        !carriesLogPath(facts.portalBackend, draft.attachment) || !carriesAddress(draft.recipient)) {
      return refuse("The desktop portal's backend for this desktop would alter the draft.");
    }
    DraftRoute route;
    route.kind = DraftRoute::Kind::Portal;
    route.portalBackend = facts.portalBackend;
    return route;
  }
  // MAILER is the user's explicit choice of composer, run as the user wrote
  // it; a command running a known client gives it that client's own start.
  if (!facts.mailer.empty()) return mailerRoute(facts, draft);
  if (facts.exec.empty()) return refuse("No default mail client is set up.");
  return defaultHandlerRoute(facts, draft);
}

}  // namespace mail
