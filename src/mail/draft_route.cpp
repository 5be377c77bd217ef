#include "mail/draft_route.h"

#include <array>
#include <optional>
#include <string_view>
#include <utility>

#include "mail/mail_address.h"
#include "platform/percent_encoding.h"
#include "platform/text.h"

namespace mail {
namespace {

using platform::percentEncode;

constexpr std::string_view kDesktopSuffix = ".desktop";

// The program names Debian's packages give the known clients. Each is also
// the client's desktop id there.
constexpr std::array<std::pair<std::string_view, Client>, 10> kKnownPrograms{{
    {"thunderbird", Client::Thunderbird},
    {"icedove", Client::Thunderbird},
    {"betterbird", Client::Thunderbird},
    {"evolution", Client::Evolution},
    {"claws-mail", Client::ClawsMail},
    {"sylpheed", Client::Sylpheed},
    {"balsa", Client::Balsa},
    {"neomutt", Client::NeoMutt},
    {"geary", Client::Geary},
    {"kmail", Client::KMail},
}};

// The other desktop ids, folded to lower case without ".desktop", that
// Debian's packages and Flathub give the clients' entries.
constexpr std::array<std::pair<std::string_view, Client>, 12> kOtherDesktopIds{{
    {"org.mozilla.thunderbird", Client::Thunderbird},
    {"net.thunderbird.thunderbird", Client::Thunderbird},
    {"eu.betterbird.betterbird", Client::Thunderbird},
    {"org.gnome.evolution", Client::Evolution},
    {"org.claws_mail.claws-mail", Client::ClawsMail},
    {"balsa-mailto-handler", Client::Balsa},
    {"org.desktop.balsa", Client::Balsa},
    {"org.gnome.geary", Client::Geary},
    {"org.kde.kmail2", Client::KMail},
    {"org.kde.kmail", Client::KMail},
    {"kmail2", Client::KMail},
    {"kmail_view", Client::KMail},
}};

template <std::size_t N>
Client lookUp(const std::array<std::pair<std::string_view, Client>, N>& table, std::string_view name) {
  for (const auto& [known, client] : table) {
    if (name == known) return client;
  }
  return Client::Unknown;
}

bool isFieldCode(const std::string& word) { return word.size() >= 2 && word[0] == '%' && word != "%%"; }

std::string_view baseName(std::string_view path) {
  const auto slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// Flatpak exports its applications' entries with Exec lines that start
// `flatpak run … <app id>`.
bool startsThroughFlatpak(const std::vector<std::string>& exec) { return baseName(exec.front()) == "flatpak"; }

// What starts the client itself: the program of the Exec line, or for a
// Flatpak entry every word before the first field code or file-forwarding
// mark, since `flatpak run` needs its options and the application id.
std::vector<std::string> clientProgram(const std::vector<std::string>& exec) {
  if (!startsThroughFlatpak(exec)) return {exec.front()};
  std::vector<std::string> words;
  for (const std::string& word : exec) {
    if (isFieldCode(word) || word.starts_with("@@")) break;
    words.push_back(word);
  }
  return words;
}

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

// Thunderbird ignores attach= in a mailto: URI; its -compose option takes
// comma-separated fields instead. Subject and body stay percent-encoded
// (Thunderbird decodes them), as does the recipient's local part, and the
// log goes as a file: URL, so no character of any text can end a value or
// add a field.
std::vector<std::string> thunderbirdArguments(const Draft& draft) {
  std::string fields;
  if (!draft.recipient.empty()) fields = "to=" + encodedAddress(draft.recipient) + ",";
  fields += "subject=" + percentEncode(draft.subject) + ",body=" + percentEncode(draft.body);
  if (!draft.attachment.empty()) fields += ",attachment='" + fileUrl(draft.attachment) + "'";
  return {"-compose", std::move(fields)};
}

// The arguments after the client's program, for the clients whose mailto:
// handling drops attachments their own compose options are used.
std::vector<std::string> clientArguments(Client client, const Draft& draft) {
  const bool log = !draft.attachment.empty();
  switch (client) {
    case Client::Thunderbird:
      return thunderbirdArguments(draft);
    case Client::Sylpheed:
      if (!log) return {"--compose", mailtoUri(draft, false)};
      return {"--compose", mailtoUri(draft, false), "--attach", draft.attachment};
    case Client::Balsa:
      // --compose takes the mailto: URI; --attach takes a file: URL (a
      // plain path gives "Operation not supported").
      if (!log) return {"--compose=" + mailtoUri(draft, false)};
      return {"--compose=" + mailtoUri(draft, false), "--attach=" + fileUrl(draft.attachment)};
    case Client::NeoMutt:
      // -a takes files up to "--"; the mailto: URL stands as the address.
      if (!log) return {mailtoUri(draft, false)};
      return {"-a", draft.attachment, "--", mailtoUri(draft, false)};
    case Client::Evolution:
    case Client::ClawsMail:
    case Client::Geary:
    case Client::KMail:
    case Client::Unknown:
      break;
  }
  // These take attach= from the mailto: URI.
  return {mailtoUri(draft, true)};
}

// A terminal entry (NeoMutt) runs in the terminal emulator Debian's
// alternatives name, which takes the command and its arguments after -e.
const std::vector<std::string> kTerminal = {"x-terminal-emulator", "-e"};

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

// The client's own start: `program` with the draft's arguments for it,
// through `launcher` when there is one.
DraftRoute clientStart(Client client, std::vector<std::string> program, std::vector<std::string> launcher,
                       const MailFacts& facts, const Draft& draft) {
  std::vector<std::string> argv = program;
  for (std::string& word : clientArguments(client, draft)) argv.push_back(std::move(word));
  const bool direct = launcher.empty();
  DraftRoute route = direct ? start(std::move(argv), verdictFor(client))
                            : watched(std::move(launcher), std::move(argv), verdictFor(client), facts);
  if (route.kind != DraftRoute::Kind::Refuse) route.client = client;
  if (client == Client::Balsa && direct) route.startAloneAfterCrash = std::move(program);
  return route;
}

DraftRoute knownClientRoute(Client client, const MailFacts& facts, const Draft& draft) {
  if (startsThroughFlatpak(facts.exec) && !draft.attachment.empty()) {
    return refuse("The mail client runs in a Flatpak sandbox, which may not see the log.");
  }
  return clientStart(client, clientProgram(facts.exec), facts.terminal ? kTerminal : std::vector<std::string>{},
                     facts, draft);
}

// MAILER's first command split as its own user's shell would split it,
// when it is plain words: `before` the client's program, the program, and
// the user's own `options` after it. Nothing when the command holds shell
// syntax (quotes, expansions, operators, a leading variable assignment)
// or names no known client: then it is the user's own composer, run as
// they wrote it.
struct MailerClient {
  std::vector<std::string> before;
  std::string program;
  std::vector<std::string> options;
  Client client = Client::Unknown;
};

// MAILER naming a known client: the client's own start, with the user's
// options after its program, through the words the user put before it. A
// terminal client named alone gets the desktop's terminal, as its entry
// would.
DraftRoute mailerClientRoute(const MailerClient& named, const MailFacts& facts, const Draft& draft) {
  std::vector<std::string> program = {named.program};
  program.insert(program.end(), named.options.begin(), named.options.end());
  std::vector<std::string> launcher = named.before;
  if (launcher.empty() && named.client == Client::NeoMutt) launcher = kTerminal;
  return clientStart(named.client, std::move(program), std::move(launcher), facts, draft);
}

// Characters that make a shell read a command as more than plain words
// separated by blanks: quoting, expansions, operators, globs, comments.
constexpr std::string_view kShellSyntax = "'\"\\$`;&|<>(){}*?[]#~!";

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n'; }

// NAME=value before a command's name sets a variable for it instead of
// naming a program.
bool isAssignment(std::string_view word) {
  const auto equals = word.find('=');
  if (equals == std::string_view::npos || equals == 0) return false;
  for (std::size_t i = 0; i < equals; ++i) {
    const char c = word[i];
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
    if (!letter && !(i > 0 && c >= '0' && c <= '9')) return false;
  }
  return true;
}

// xdg-email splits MAILER at ':' and runs the first command that succeeds;
// the first that is not empty is the one the user means.
std::string_view firstCommand(std::string_view mailer) {
  while (true) {
    const auto colon = mailer.find(':');
    const std::string_view command = mailer.substr(0, colon);
    const bool empty = command.find_first_not_of(" \t\n") == std::string_view::npos;
    if (!empty || colon == std::string_view::npos) return command;
    mailer.remove_prefix(colon + 1);
  }
}

// The client a program path names by its last component ("neomutt",
// "/usr/bin/thunderbird"); Unknown for any other.
Client clientForProgram(std::string_view program) { return lookUp(kKnownPrograms, baseName(program)); }

std::optional<MailerClient> mailerClient(std::string_view mailer) {
  const std::string_view command = firstCommand(mailer);
  if (command.find_first_of(kShellSyntax) != std::string_view::npos) return std::nullopt;
  std::vector<std::string> words;
  for (std::size_t i = 0; i < command.size();) {
    if (isBlank(command[i])) {
      ++i;
      continue;
    }
    const std::size_t start = i;
    while (i < command.size() && !isBlank(command[i])) ++i;
    words.emplace_back(command.substr(start, i - start));
  }
  if (words.empty() || isAssignment(words.front())) return std::nullopt;
  for (std::size_t i = 0; i < words.size(); ++i) {
    const Client client = clientForProgram(words[i]);
    if (client == Client::Unknown) continue;
    MailerClient named;
    named.before.assign(words.begin(), words.begin() + static_cast<std::ptrdiff_t>(i));
    named.program = words[i];
    named.options.assign(words.begin() + static_cast<std::ptrdiff_t>(i) + 1, words.end());
    named.client = client;
    return named;
  }
  return std::nullopt;
}

}  // namespace

Client clientForDesktopId(const std::string& desktopId) {
  std::string id = platform::foldAsciiCase(desktopId);
  if (id.ends_with(kDesktopSuffix)) id.resize(id.size() - kDesktopSuffix.size());
  const Client client = lookUp(kKnownPrograms, id);
  return client != Client::Unknown ? client : lookUp(kOtherDesktopIds, id);
}

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

DraftRoute decideRoute(const MailFacts& facts, const Draft& draft) {
  const bool log = !draft.attachment.empty();
  // Inside a sandbox the portal is the only way out. Only a backend known
  // to carry the log into the client is asked for a draft with one: the
  // others would open a draft without it.
  if (facts.sandboxed) {
    if (log && !carriesAttachments(facts.portalBackend)) {
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
  // MAILER is the user's explicit choice of composer. One that names a known
  // client gets that client's own start; any other is run by xdg-email with
  // the URI, attach= included, and its exit status passed back.
  if (!facts.mailer.empty()) {
    if (const auto named = mailerClient(facts.mailer)) return mailerClientRoute(*named, facts, draft);
    return start({"xdg-email", "--utf8", mailtoUri(draft, true)});
  }
  const Client client = clientForDesktopId(facts.handlerId);
  if (client != Client::Unknown && !facts.exec.empty()) return knownClientRoute(client, facts, draft);
  if (log) return refuse("No route is known to carry an attachment into the default mail client.");
  // Every mailto: handler takes subject and body.
  return start({"xdg-email", "--utf8", mailtoUri(draft, false)});
}

}  // namespace mail
