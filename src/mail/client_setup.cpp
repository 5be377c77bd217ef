#include "mail/client_setup.h"

#include <algorithm>
#include <map>
#include <string_view>
#include <utility>

#include "platform/json.h"
#include "platform/text.h"

namespace mail {
namespace {

// ---------------------------------------------------------------------------
// Reading the files' formats

// One group of an INI-style file: its keys in order, the first occurrence
// of a key counting.
struct IniGroup {
  std::string name;
  std::map<std::string, std::string, std::less<>> keys;
};

std::string_view trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

// Groups in file order; lines outside a group, comments and lines without
// '=' are passed over, as the clients' own readers do.
std::vector<IniGroup> iniGroups(std::string_view text) {
  std::vector<IniGroup> groups;
  while (!text.empty()) {
    const auto end = text.find('\n');
    const std::string_view line = trimmed(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (line.empty() || line[0] == '#' || line[0] == ';') continue;
    if (line.front() == '[' && line.back() == ']') {
      groups.push_back({std::string(line.substr(1, line.size() - 2)), {}});
      continue;
    }
    const auto equals = line.find('=');
    if (groups.empty() || equals == std::string_view::npos) continue;
    groups.back().keys.emplace(std::string(trimmed(line.substr(0, equals))), std::string(trimmed(line.substr(equals + 1))));
  }
  return groups;
}

std::string valueOf(const IniGroup& group, std::string_view key) {
  const auto found = group.keys.find(key);
  return found == group.keys.end() ? std::string() : found->second;
}

std::vector<std::string> splitList(std::string_view text, char separator) {
  std::vector<std::string> items;
  while (true) {
    const auto at = text.find(separator);
    const std::string_view item = trimmed(text.substr(0, at));
    if (!item.empty()) items.emplace_back(item);
    if (at == std::string_view::npos) return items;
    text.remove_prefix(at + 1);
  }
}

// The string values of Mozilla's preference files: `user_pref("name",
// "value");` lines, a later line overriding an earlier one. Values of other
// types, and lines that do not parse, are passed over.
void readStringPrefs(std::string_view text, std::map<std::string, std::string, std::less<>>& prefs) {
  // A quoted string with \" and \\ escapes starting at text[at]; nothing
  // when it does not end.
  const auto quoted = [&text](std::size_t& at) -> std::optional<std::string> {
    if (at >= text.size() || text[at] != '"') return std::nullopt;
    std::string value;
    for (++at; at < text.size(); ++at) {
      if (text[at] == '"') {
        ++at;
        return value;
      }
      if (text[at] == '\\' && at + 1 < text.size()) ++at;
      if (text[at] == '\n') return std::nullopt;
      value += text[at];
    }
    return std::nullopt;
  };
  const auto blanks = [&text](std::size_t& at) {
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) ++at;
  };
  constexpr std::string_view kCall = "user_pref(";
  for (auto at = text.find(kCall); at != std::string_view::npos; at = text.find(kCall, at)) {
    at += kCall.size();
    blanks(at);
    auto name = quoted(at);
    if (!name) continue;
    blanks(at);
    if (at >= text.size() || text[at] != ',') continue;
    ++at;
    blanks(at);
    auto value = quoted(at);
    if (!value) continue;
    blanks(at);
    if (at < text.size() && text[at] == ')') prefs[std::move(*name)] = std::move(*value);
  }
}

// ---------------------------------------------------------------------------
// Thunderbird

SetupVerdict composes() { return {SetupVerdict::Kind::Composes, {}}; }
SetupVerdict cannot(std::string why) { return {SetupVerdict::Kind::CannotCompose, std::move(why)}; }
SetupVerdict unknown(std::string why) { return {SetupVerdict::Kind::Unknown, std::move(why)}; }

struct MozillaProfile {
  std::string path;  // relative to the profiles' directory, or absolute
  bool relative = true;
};

// The profile a Mozilla application starts with, from profiles.ini in the
// directory `root`; or the verdict when it starts with none of them.
//
// Measured with Thunderbird: StartWithLastProfile=0 shows the profile
// chooser, with one profile or several; several profiles of which none is
// marked Default=1 show it too. An installation uses the profile its
// [Install…] group names (installs.ini holds the same), not the one marked
// Default=1, unless MOZ_LEGACY_PROFILES is set.
struct ProfileChoice {
  std::optional<MozillaProfile> profile;
  SetupVerdict otherwise;
};

ProfileChoice chosenProfile(const ClientFiles& files, FileBase base, const std::string& root, bool legacyProfiles,
                            std::string_view application) {
  const ConfigFile ini = files.read(base, root + "/profiles.ini");
  if (ini.state == ConfigFile::State::Missing) {
    return {std::nullopt, cannot(std::string(application) + " has no profile yet: it would show its account set-up.")};
  }
  if (ini.state != ConfigFile::State::Text) {
    return {std::nullopt, unknown(std::string(application) + "'s profiles.ini cannot be read.")};
  }
  std::vector<MozillaProfile> profiles;
  std::optional<MozillaProfile> markedDefault;
  std::vector<std::string> installDefaults;
  bool startWithLast = true;
  for (const IniGroup& group : iniGroups(ini.text)) {
    if (group.name == "General") {
      startWithLast = valueOf(group, "StartWithLastProfile") != "0";
    } else if (group.name.starts_with("Profile")) {
      MozillaProfile profile{valueOf(group, "Path"), valueOf(group, "IsRelative") != "0"};
      if (profile.path.empty()) continue;
      if (valueOf(group, "Default") == "1" && !markedDefault) markedDefault = profile;
      profiles.push_back(std::move(profile));
    } else if (group.name.starts_with("Install")) {
      const std::string path = valueOf(group, "Default");
      if (!path.empty() && std::find(installDefaults.begin(), installDefaults.end(), path) == installDefaults.end()) {
        installDefaults.push_back(path);
      }
    }
  }
  const std::string asks = std::string(application) + " would ask which profile to use.";
  if (!startWithLast) return {std::nullopt, cannot(asks)};
  if (!legacyProfiles) {
    if (installDefaults.size() > 1) {
      return {std::nullopt, unknown("Several installations of " + std::string(application) +
                                    " have profiles of their own; which one starts cannot be told.")};
    }
    if (installDefaults.empty()) {
      // It then adopts the default profile only when that profile was last
      // used by this installation; otherwise it makes a new, empty one.
      return {std::nullopt, unknown(std::string(application) + " has not yet chosen a profile for its installation.")};
    }
    for (const MozillaProfile& profile : profiles) {
      if (profile.path == installDefaults.front()) return {profile, {}};
    }
    // Install groups name relative paths only for relative profiles.
    return {MozillaProfile{installDefaults.front(), !installDefaults.front().starts_with('/')}, {}};
  }
  if (markedDefault) return {markedDefault, {}};
  if (profiles.size() == 1) return {profiles.front(), {}};
  if (profiles.empty()) {
    return {std::nullopt, cannot(std::string(application) + " has no profile yet: it would show its account set-up.")};
  }
  return {std::nullopt, cannot(asks)};
}

// Where a Thunderbird install keeps its profiles, under the home.
std::string thunderbirdRoot(const ClientInstall& install) {
  switch (install.kind) {
    case ClientInstall::Kind::Snap:
      return "snap/" + install.appId + "/common/.thunderbird";
    case ClientInstall::Kind::Flatpak:
      return ".var/app/" + install.appId + "/.thunderbird";
    case ClientInstall::Kind::Native:
      break;
  }
  return ".thunderbird";
}

// A profile's directory relative to the home, or nothing when it lies
// outside it (an absolute path elsewhere), where it is not read.
std::optional<std::string> profileDirectory(const MozillaProfile& profile, const std::string& root,
                                            const std::string& home) {
  if (profile.relative) {
    if (profile.path.starts_with('/')) return std::nullopt;
    return root + "/" + profile.path;
  }
  if (home.empty() || !profile.path.starts_with(home + "/")) return std::nullopt;
  return profile.path.substr(home.size() + 1);
}

// Thunderbird composes only with an account that has an identity: with
// none it shows its account set-up, and with an account whose identities
// are empty it shows its main window and no composer (measured).
SetupVerdict thunderbirdAccounts(const ClientFiles& files, const std::string& profile) {
  std::map<std::string, std::string, std::less<>> prefs;
  // user.js is read at every start after prefs.js, its values winning.
  for (const char* name : {"/prefs.js", "/user.js"}) {
    const ConfigFile file = files.read(FileBase::Home, profile + name);
    if (file.state == ConfigFile::State::Unreadable) {
      return unknown("Thunderbird's preferences cannot be read.");
    }
    readStringPrefs(file.text, prefs);
  }
  const auto accounts = prefs.find("mail.accountmanager.accounts");
  if (accounts != prefs.end()) {
    for (const std::string& account : splitList(accounts->second, ',')) {
      const auto identities = prefs.find("mail.account." + account + ".identities");
      if (identities != prefs.end() && !splitList(identities->second, ',').empty()) return composes();
    }
  }
  return cannot("Thunderbird has no mail account with an identity: it would show its account set-up.");
}

SetupVerdict thunderbirdLock(const ProfileLock& lock, const JobSession& job, const ClientInstall& install) {
  switch (lock.state) {
    case ProfileLock::State::Free:
      return composes();
    case ProfileLock::State::HeldUnseen:
      return cannot("Thunderbird's profile is in use by a program this session cannot reach "
                    "(on another computer, or in another session).");
    case ProfileLock::State::Unknown:
      return unknown("Thunderbird's profile holds a lock of a program that does not run here.");
    case ProfileLock::State::HeldHere:
      break;
  }
  if (!lock.holder) return cannot("Thunderbird runs as a process whose session cannot be read.");
  SessionIdentity holder = *lock.holder;
  SessionIdentity ours = job.session;
  // Inside its sandbox a Flatpak client sees the session bus through a
  // proxy of its own address: only the displays can be compared.
  if (install.kind == ClientInstall::Kind::Flatpak) holder.bus = ours.bus = {};
  if (holder != ours) {
    return cannot("Thunderbird is open in another session of this user, which does not take the request "
                  "(it would say it is already running).");
  }
  return composes();
}

SetupVerdict thunderbirdSetup(const ClientInstall& install, const ClientFiles& files, const JobSession& job) {
  const std::string root = thunderbirdRoot(install);
  const ProfileChoice choice = chosenProfile(files, FileBase::Home, root, job.legacyProfiles, "Thunderbird");
  if (!choice.profile) return choice.otherwise;
  const auto directory = profileDirectory(*choice.profile, root, job.home);
  if (!directory) return unknown("Thunderbird's profile lies outside the home.");
  SetupVerdict verdict = thunderbirdAccounts(files, *directory);
  if (verdict.kind != SetupVerdict::Kind::Composes) return verdict;
  return thunderbirdLock(files.profileLock(FileBase::Home, *directory), job, install);
}

// ---------------------------------------------------------------------------
// The other clients

// Claws Mail and Sylpheed keep their accounts as [Account: N] groups; with
// none they show their set-up (the Setup Wizard, "Mailbox setting").
bool hasAccountGroup(const ConfigFile& accountrc) {
  if (accountrc.state != ConfigFile::State::Text) return false;
  const auto groups = iniGroups(accountrc.text);
  return std::any_of(groups.begin(), groups.end(),
                     [](const IniGroup& group) { return group.name.starts_with("Account: "); });
}

SetupVerdict accountFileSetup(const ClientFiles& files, const std::vector<std::string>& candidates,
                              std::string_view application) {
  bool unreadable = false;
  for (const std::string& path : candidates) {
    const ConfigFile accountrc = files.read(FileBase::Home, path);
    if (hasAccountGroup(accountrc)) return composes();
    unreadable = unreadable || accountrc.state == ConfigFile::State::Unreadable;
  }
  if (unreadable) return unknown(std::string(application) + "'s account file cannot be read.");
  return cannot(std::string(application) + " has no account: it would show its set-up.");
}

// Both also need a mailbox, a folder in folderlist.xml: with an account
// alone they show their set-up too (measured: Claws Mail its Setup Wizard,
// Sylpheed "Mailbox setting"; Sylpheed with a mailbox alone its "New
// account setup").
SetupVerdict mailboxSetup(const ClientFiles& files, const std::string& directory, std::string_view application) {
  SetupVerdict verdict = accountFileSetup(files, {directory + "/accountrc"}, application);
  if (verdict.kind != SetupVerdict::Kind::Composes) return verdict;
  const ConfigFile folders = files.read(FileBase::Home, directory + "/folderlist.xml");
  if (folders.state == ConfigFile::State::Unreadable) {
    return unknown(std::string(application) + "'s folder list cannot be read.");
  }
  if (folders.state == ConfigFile::State::Missing || folders.text.find("<folder ") == std::string::npos) {
    return cannot(std::string(application) + " has no mailbox: it would ask for one.");
  }
  return composes();
}

SetupVerdict clawsMailSetup(const ClientInstall& install, const ClientFiles& files) {
  // A Flatpak of it without access to the home keeps its files in its own
  // directory; with access, in the home's.
  if (install.kind == ClientInstall::Kind::Flatpak) {
    const std::string own = ".var/app/" + install.appId + "/.claws-mail";
    if (files.read(FileBase::Home, own + "/accountrc").state != ConfigFile::State::Missing) {
      return mailboxSetup(files, own, "Claws Mail");
    }
  }
  return mailboxSetup(files, ".claws-mail", "Claws Mail");
}

// Balsa without the [Globals] group of its config shows its first-run
// assistant ("Welcome to Balsa!"), also with identities and mailboxes
// (measured); with it, it opens its main window. Its composer was seen
// with an identity ([identity-NAME] with an Address); without one that is
// not known.
SetupVerdict balsaSetup(const ClientFiles& files) {
  bool unreadable = false;
  for (const auto& [base, path] : {std::pair{FileBase::Home, std::string(".balsa/config")},
                                   std::pair{FileBase::ConfigHome, std::string("balsa/config")}}) {
    const ConfigFile config = files.read(base, path);
    unreadable = unreadable || config.state == ConfigFile::State::Unreadable;
    if (config.state != ConfigFile::State::Text) continue;
    const auto groups = iniGroups(config.text);
    if (std::none_of(groups.begin(), groups.end(), [](const IniGroup& group) { return group.name == "Globals"; })) {
      continue;
    }
    for (const IniGroup& group : groups) {
      if (group.name.starts_with("identity-") && !valueOf(group, "Address").empty()) return composes();
    }
    return unknown("Balsa has no identity with an address; whether it then shows the composer is not known.");
  }
  if (unreadable) return unknown("Balsa's configuration cannot be read.");
  return cannot("Balsa was never set up: it would show its first-run assistant.");
}

// Geary keeps each account in a directory account_NAME holding geary.ini
// (under its configuration home, older releases under its data home);
// without one it shows its Accounts dialog. An account whose [Incoming]
// group names no credentials is not loaded (it reports a problem and
// shows the Accounts dialog), and one whose own password it is told not
// to remember asks for that password before anything else, every time it
// starts: neither shows a composer. Whether the servers of any other
// account answer, or the session's keyring holds its password, no file
// tells (without either no composer comes: the grace rule decides).
SetupVerdict gearySetup(const ClientFiles& files) {
  bool unreadable = false;
  bool asksPassword = false;
  for (const FileBase base : {FileBase::ConfigHome, FileBase::DataHome}) {
    for (const std::string& name : files.list(base, "geary")) {
      if (!name.starts_with("account_")) continue;
      const ConfigFile ini = files.read(base, "geary/" + name + "/geary.ini");
      unreadable = unreadable || ini.state == ConfigFile::State::Unreadable;
      if (ini.state != ConfigFile::State::Text) continue;
      const auto groups = iniGroups(ini.text);
      const auto incoming = std::find_if(groups.begin(), groups.end(),
                                         [](const IniGroup& group) { return group.name == "Incoming"; });
      const std::string credentials = incoming == groups.end() ? std::string() : valueOf(*incoming, "credentials");
      if (credentials.empty()) continue;
      const std::string remember = valueOf(*incoming, "remember_password");
      if (credentials == "custom" && (remember == "false" || remember == "0")) {
        asksPassword = true;
        continue;
      }
      return unknown("Geary has an account; whether its servers answer and its password is at hand is not known.");
    }
  }
  if (unreadable) return unknown("Geary's account configuration cannot be read.");
  if (asksPassword) return cannot("Geary keeps no password for its account: it would ask for it first.");
  return cannot("Geary has no account: it would show its Accounts dialog.");
}

// KMail's identities are [Identity #N] groups of emailidentities with an
// address; without one it shows nothing.
SetupVerdict kmailSetup(const ClientFiles& files) {
  const ConfigFile identities = files.read(FileBase::ConfigHome, "emailidentities");
  if (identities.state == ConfigFile::State::Unreadable) return unknown("KMail's identities cannot be read.");
  for (const IniGroup& group : iniGroups(identities.text)) {
    if (group.name.starts_with("Identity #") && !valueOf(group, "Email Address").empty()) {
      return unknown("KMail has an identity; that it then shows the composer has not been measured.");
    }
  }
  return cannot("KMail has no identity: it would not show a composer.");
}

// ---------------------------------------------------------------------------
// Web browsers

// Firefox keeps how it opens each scheme in the handlers.json of its
// profile: a mailto entry whose preferred handler (the first) has a URL
// template and whose action is 2 ("use the handler") without "ask" sends
// the request to that web mailer. Anything else asks the user, or hands the
// request back to the desktop, whose handler is this browser.
//
// Its profiles lie in ~/.mozilla/firefox where that holds them; otherwise,
// as a fresh home of Firefox ESR 153 has them (measured), under the
// configuration home in mozilla/firefox.
SetupVerdict firefoxSetup(const ClientInstall& install, const ClientFiles& files, const JobSession& job) {
  FileBase base = FileBase::Home;
  std::string root = ".mozilla/firefox";
  if (install.kind == ClientInstall::Kind::Snap) root = "snap/" + install.appId + "/common/.mozilla/firefox";
  if (install.kind == ClientInstall::Kind::Flatpak) root = ".var/app/" + install.appId + "/.mozilla/firefox";
  if (install.kind == ClientInstall::Kind::Native &&
      files.read(base, root + "/profiles.ini").state == ConfigFile::State::Missing) {
    base = FileBase::ConfigHome;
    root = "mozilla/firefox";
  }
  const ProfileChoice choice = chosenProfile(files, base, root, job.legacyProfiles, "The web browser");
  if (!choice.profile) {
    return choice.otherwise.kind == SetupVerdict::Kind::CannotCompose
               ? cannot("The web browser has no web mailer chosen for e-mail links.")
               : choice.otherwise;
  }
  const auto directory = profileDirectory(*choice.profile, root, base == FileBase::Home ? job.home : std::string());
  if (!directory) return unknown("The web browser's profile lies outside the directory of its profiles.");
  const ConfigFile handlers = files.read(base, *directory + "/handlers.json");
  if (handlers.state == ConfigFile::State::Unreadable) return unknown("The web browser's handlers cannot be read.");
  const auto json = platform::parseJson(handlers.text);
  const std::string none = "The web browser has no web mailer chosen for e-mail links: it would ask which program to use.";
  if (!json || !json->is_object()) return cannot(none);
  const auto schemes = json->find("schemes");
  if (schemes == json->end() || !schemes->is_object()) return cannot(none);
  const auto mailto = schemes->find("mailto");
  if (mailto == schemes->end() || !mailto->is_object()) return cannot(none);
  const auto action = mailto->find("action");
  const auto ask = mailto->find("ask");
  const auto list = mailto->find("handlers");
  if (action == mailto->end() || !action->is_number_integer() || action->get<long long>() != 2) return cannot(none);
  if (ask != mailto->end() && (!ask->is_boolean() || ask->get<bool>())) return cannot(none);
  if (list == mailto->end() || !list->is_array() || list->empty() || !(*list)[0].is_object()) return cannot(none);
  const auto uriTemplate = (*list)[0].find("uriTemplate");
  if (uriTemplate == (*list)[0].end() || !uriTemplate->is_string() ||
      uriTemplate->get<std::string>().find("%s") == std::string::npos) {
    return cannot(none);
  }
  return composes();
}

bool isFieldCode(const std::string& word) { return word.size() >= 2 && word[0] == '%' && word != "%%"; }

// A Flatpak application id has three or more dotted elements
// ("org.mozilla.Thunderbird"); an option's value given as a word of its own
// ("--branch stable", "--arch x86_64") has fewer.
bool looksLikeApplicationId(std::string_view word) {
  return !word.starts_with("-") && std::count(word.begin(), word.end(), '.') >= 2;
}

}  // namespace

ClientInstall installOf(const std::vector<std::string>& exec) {
  ClientInstall install;
  if (exec.empty()) return install;
  // Flatpak exports each application as a program named by its id.
  if (looksLikeApplicationId(baseName(exec.front()))) {
    install.kind = ClientInstall::Kind::Flatpak;
    install.appId = std::string(baseName(exec.front()));
    return install;
  }
  if (baseName(exec.front()) == "flatpak") {
    // flatpak run [options] APP-ID [arguments]: the first word after "run"
    // that is an application id.
    bool afterRun = false;
    for (const std::string& word : exec) {
      if (isFieldCode(word) || word.starts_with("@@")) break;
      if (!afterRun) {
        afterRun = word == "run";
        continue;
      }
      if (looksLikeApplicationId(word)) {
        install.kind = ClientInstall::Kind::Flatpak;
        install.appId = word;
        break;
      }
    }
    return install;
  }
  // Snaps start as /snap/bin/NAME, their entries often through `env VAR=…`.
  for (const std::string& word : exec) {
    if (word.starts_with("/snap/bin/")) {
      install.kind = ClientInstall::Kind::Snap;
      const std::string_view name = baseName(word);
      install.appId = std::string(name.substr(0, name.find('.')));
      return install;
    }
    if (baseName(word) != "env" && word.find('=') == std::string::npos) break;
  }
  return install;
}

Browser browserForDesktopId(const std::string& desktopId) {
  std::string id = platform::foldAsciiCase(desktopId);
  if (id.ends_with(".desktop")) id.resize(id.size() - 8);
  for (std::string_view name : {"firefox", "firefox-esr", "org.mozilla.firefox", "firefox_firefox"}) {
    if (id == name) return Browser::Firefox;
  }
  for (std::string_view name : {"chromium", "chromium-browser", "org.chromium.chromium", "chromium_chromium",
                                "google-chrome", "com.google.chrome"}) {
    if (id == name) return Browser::Chromium;
  }
  return Browser::None;
}

SetupVerdict browserSetup(Browser browser, const ClientInstall& install, const ClientFiles& files,
                          const JobSession& job) {
  switch (browser) {
    case Browser::Firefox:
      return firefoxSetup(install, files, job);
    case Browser::Chromium:
      // Its handlers for mailto: were not measured: it is known to show
      // its own chooser, and nothing proves a web mailer takes the draft.
      return cannot("The web browser is not known to hand e-mail links to a web mailer.");
    case Browser::None:
      break;
  }
  return unknown("The handler is not a known mail client.");
}

SetupVerdict clientSetup(Client client, const ClientInstall& install, const ClientFiles& files,
                         const JobSession& job) {
  switch (client) {
    case Client::Thunderbird:
      return thunderbirdSetup(install, files, job);
    case Client::Evolution:
      // It opens a composer without any account (measured).
      return composes();
    case Client::ClawsMail:
      return clawsMailSetup(install, files);
    case Client::Sylpheed:
      return mailboxSetup(files, ".sylpheed-2.0", "Sylpheed");
    case Client::Balsa:
      return balsaSetup(files);
    case Client::Geary:
      return gearySetup(files);
    case Client::KMail:
      return kmailSetup(files);
    case Client::NeoMutt:
    case Client::Unknown:
      break;
  }
  return unknown("The client's set-up is not read.");
}

}  // namespace mail
