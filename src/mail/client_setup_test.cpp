#include "mail/client_setup.h"

#include <gtest/gtest.h>

#include <map>
#include <utility>

namespace mail {
namespace {

using Kind = SetupVerdict::Kind;

// A made-up tree: "home/…", "config/…" and "data/…" paths with their text;
// kUnreadable stands for a file that is there but cannot be read (too big,
// a link out of its base, a FIFO).
constexpr std::string_view kUnreadable = "\x01unreadable";

class MadeUpFiles final : public ClientFiles {
 public:
  explicit MadeUpFiles(std::map<std::string, std::string> files, std::map<std::string, ProfileLock> locks = {})
      : files_(std::move(files)), locks_(std::move(locks)) {}

  ConfigFile read(FileBase base, const std::string& path) const override {
    const auto found = files_.find(key(base, path));
    if (found == files_.end()) return {};
    if (found->second == kUnreadable) return {ConfigFile::State::Unreadable, {}};
    return {ConfigFile::State::Text, found->second};
  }
  std::vector<std::string> list(FileBase base, const std::string& path) const override {
    std::vector<std::string> names;
    const std::string prefix = key(base, path) + "/";
    for (const auto& [name, text] : files_) {
      if (!name.starts_with(prefix)) continue;
      const std::string child = name.substr(prefix.size(), name.find('/', prefix.size()) - prefix.size());
      if (names.empty() || names.back() != child) names.push_back(child);
    }
    return names;
  }
  ProfileLock profileLock(FileBase base, const std::string& path) const override {
    const auto found = locks_.find(key(base, path));
    return found == locks_.end() ? ProfileLock{} : found->second;
  }

 private:
  static std::string key(FileBase base, const std::string& path) {
    return (base == FileBase::Home ? "home/" : base == FileBase::ConfigHome ? "config/" : "data/") + path;
  }
  std::map<std::string, std::string> files_;
  std::map<std::string, ProfileLock> locks_;
};

const SessionIdentity kOurSession{"unix:path=/run/user/1000/bus", ":0", ""};

JobSession job(bool legacy = false) { return {"/home/u", kOurSession, legacy}; }

// ---------------------------------------------------------------------------
// Thunderbird

const std::string kOneProfile =
    "[General]\nStartWithLastProfile=1\nVersion=2\n\n"
    "[Profile0]\nName=default-esr\nIsRelative=1\nPath=abcd.default-esr\n\n"
    "[InstallFDC34C9F024745EB]\nDefault=abcd.default-esr\nLocked=1\n";
const std::string kProfile = "home/.thunderbird/abcd.default-esr/";

std::string prefs(const std::string& lines) { return "// Mozilla User Preferences\n\n" + lines; }

const std::string kAccountWithIdentity = prefs(
    "user_pref(\"mail.account.account1.identities\", \"id1\");\n"
    "user_pref(\"mail.account.account1.server\", \"server1\");\n"
    "user_pref(\"mail.account.account2.server\", \"server2\");\n"
    "user_pref(\"mail.accountmanager.accounts\", \"account2,account1\");\n");
// What a fresh profile holds once its account set-up was closed: the local
// folders' account, which has no identity.
const std::string kLocalFoldersOnly = prefs(
    "user_pref(\"mail.account.account1.server\", \"server1\");\n"
    "user_pref(\"mail.accountmanager.accounts\", \"account1\");\n"
    "user_pref(\"mail.server.server1.type\", \"none\");\n");

struct ThunderbirdCase {
  std::string name;
  std::map<std::string, std::string> files;
  Kind expected;
  bool legacy = false;
  std::map<std::string, ProfileLock> locks = {};
  std::vector<std::string> exec = {"/usr/bin/thunderbird", "%u"};
};

void PrintTo(const ThunderbirdCase& c, std::ostream* os) { *os << c.name; }

ProfileLock heldHere(SessionIdentity session) { return {ProfileLock::State::HeldHere, std::move(session)}; }

// profiles.ini and the preferences of the profile it names, in ~/.thunderbird.
std::map<std::string, std::string> profileTree(const std::string& profilesIni,
                                               const std::string& prefsJs = kAccountWithIdentity) {
  return {{"home/.thunderbird/profiles.ini", profilesIni}, {kProfile + "prefs.js", prefsJs}};
}

std::vector<ThunderbirdCase> thunderbirdCases() {
  const std::string profileDir = kProfile.substr(0, kProfile.size() - 1);
  // One profile with an account that has an identity.
  const std::map<std::string, std::string> complete = profileTree(kOneProfile);
  const std::string secondProfile = "\n[Profile1]\nName=old\nIsRelative=1\nPath=old.default\n";
  return {
      {"NeverStarted", {}, Kind::CannotCompose},
      {"ProfileWithoutAccount", {{"home/.thunderbird/profiles.ini", kOneProfile}}, Kind::CannotCompose},
      {"OnlyTheLocalFolders", profileTree(kOneProfile, kLocalFoldersOnly), Kind::CannotCompose},
      {"AccountWithoutIdentity",
       profileTree(kOneProfile, prefs("user_pref(\"mail.accountmanager.accounts\", \"account1\");\n"
                                      "user_pref(\"mail.account.account1.identities\", \"\");\n")),
       Kind::CannotCompose},
      {"IdentityOfAnAccountNoLongerListed",
       profileTree(kOneProfile, prefs("user_pref(\"mail.accountmanager.accounts\", \"account2\");\n"
                                      "user_pref(\"mail.account.account1.identities\", \"id1\");\n")),
       Kind::CannotCompose},
      {"Complete", complete, Kind::Composes},
      {"AccountsInUserJsOnly",
       {{"home/.thunderbird/profiles.ini", kOneProfile}, {kProfile + "user.js", kAccountWithIdentity}},
       Kind::Composes},
      {"UserJsEmptiesTheAccounts",
       {{"home/.thunderbird/profiles.ini", kOneProfile},
        {kProfile + "prefs.js", kAccountWithIdentity},
        {kProfile + "user.js", prefs("user_pref(\"mail.accountmanager.accounts\", \"\");\n")}},
       Kind::CannotCompose},
      {"DamagedPreferences",
       profileTree(kOneProfile, "user_pref(\"mail.accountmanager.accounts\", \"account1);\n"
                                "user_pref(\"mail.account.account1.identities\" \"id1\");\n\xff garbage"),
       Kind::CannotCompose},
      {"PreferencesTooBigToRead", profileTree(kOneProfile, std::string(kUnreadable)), Kind::Unknown},
      {"ProfilesIniUnreadable", {{"home/.thunderbird/profiles.ini", std::string(kUnreadable)}}, Kind::Unknown},
      {"AsksWhichProfile", profileTree("[General]\nStartWithLastProfile=0\n" + kOneProfile.substr(10)),
       Kind::CannotCompose},
      {"InstallsProfileGoesBeforeTheDefaultOne", profileTree(kOneProfile + secondProfile + "Default=1\n"),
       Kind::Composes},
      {"LegacyProfilesTakeTheDefaultOne", profileTree(kOneProfile + secondProfile + "Default=1\n"),
       Kind::CannotCompose, true},
      {"LegacyProfilesSeveralWithoutDefault", profileTree(kOneProfile + secondProfile), Kind::CannotCompose, true},
      {"SeveralInstallationsOwnProfiles",
       profileTree(kOneProfile + "\n[Install0123456789ABCDEF]\nDefault=other.default\n"), Kind::Unknown},
      {"NoProfileOfThisInstallationYet",
       profileTree("[Profile0]\nName=default\nIsRelative=1\nPath=abcd.default-esr\nDefault=1\n"), Kind::Unknown},
      {"ProfileOutsideTheHome",
       {{"home/.thunderbird/profiles.ini",
         "[Profile0]\nName=x\nIsRelative=0\nPath=/srv/profiles/x\n[InstallA]\nDefault=/srv/profiles/x\n"}},
       Kind::Unknown},
      {"AbsoluteProfileInsideTheHome",
       {{"home/.thunderbird/profiles.ini",
         "[Profile0]\nName=x\nIsRelative=0\nPath=/home/u/Mail/tb\n[InstallA]\nDefault=/home/u/Mail/tb\n"},
        {"home/Mail/tb/prefs.js", kAccountWithIdentity}},
       Kind::Composes},
      // The profile's lock.
      {"RunningInThisSession", complete, Kind::Composes, false, {{profileDir, heldHere(kOurSession)}}},
      {"RunningOnAnotherDisplayWithItsOwnBus", complete, Kind::CannotCompose, false,
       {{profileDir, heldHere({"unix:path=/tmp/dbus-other", ":1", ""})}}},
      {"RunningOnAnotherDisplaySameBus", complete, Kind::CannotCompose, false,
       {{profileDir, heldHere({kOurSession.bus, ":1", ""})}}},
      {"RunningWhereItsSessionCannotBeRead", complete, Kind::CannotCompose, false,
       {{profileDir, ProfileLock{ProfileLock::State::HeldHere, std::nullopt}}}},
      {"LockedFromAnotherMachine", complete, Kind::CannotCompose, false,
       {{profileDir, ProfileLock{ProfileLock::State::HeldUnseen, std::nullopt}}}},
      {"OldStyleLockOfAProcessNotRunningHere", complete, Kind::Unknown, false,
       {{profileDir, ProfileLock{ProfileLock::State::Unknown, std::nullopt}}}},
      // Snap and Flatpak keep the profiles elsewhere.
      {"SnapProfiles",
       {{"home/snap/thunderbird/common/.thunderbird/profiles.ini", kOneProfile},
        {"home/snap/thunderbird/common/.thunderbird/abcd.default-esr/prefs.js", kAccountWithIdentity},
        {"home/.thunderbird/profiles.ini", std::string(kUnreadable)}},
       Kind::Composes,
       false,
       {},
       {"env", "BAMF_DESKTOP_FILE_HINT=/var/lib/snapd/desktop/applications/thunderbird_thunderbird.desktop",
        "/snap/bin/thunderbird", "%u"}},
      {"FlatpakProfiles",
       {{"home/.var/app/org.mozilla.Thunderbird/.thunderbird/profiles.ini", kOneProfile},
        {"home/.var/app/org.mozilla.Thunderbird/.thunderbird/abcd.default-esr/prefs.js", kAccountWithIdentity}},
       Kind::Composes,
       false,
       {},
       {"/usr/bin/flatpak", "run", "--branch=stable", "--arch=x86_64", "--command=thunderbird",
        "--file-forwarding", "org.mozilla.Thunderbird", "@@u", "%u", "@@"}},
      // Inside its sandbox the client's bus address is the proxy's.
      {"FlatpakRunningOnOurDisplay",
       {{"home/.var/app/org.mozilla.Thunderbird/.thunderbird/profiles.ini", kOneProfile},
        {"home/.var/app/org.mozilla.Thunderbird/.thunderbird/abcd.default-esr/prefs.js", kAccountWithIdentity}},
       Kind::Composes,
       false,
       {{"home/.var/app/org.mozilla.Thunderbird/.thunderbird/abcd.default-esr",
         heldHere({"unix:path=/run/flatpak/bus", ":0", ""})}},
       {"flatpak", "run", "org.mozilla.Thunderbird", "%u"}},
  };
}

class ThunderbirdSetup : public ::testing::TestWithParam<ThunderbirdCase> {};

TEST_P(ThunderbirdSetup, Decides) {
  const ThunderbirdCase& c = GetParam();
  const MadeUpFiles files(c.files, c.locks);
  const SetupVerdict verdict = clientSetup(Client::Thunderbird, installOf(c.exec), files, job(c.legacy));
  EXPECT_EQ(verdict.kind, c.expected) << verdict.why;
  EXPECT_EQ(verdict.why.empty(), c.expected == Kind::Composes) << "a verdict other than Composes says why";
}

INSTANTIATE_TEST_SUITE_P(Trees, ThunderbirdSetup, ::testing::ValuesIn(thunderbirdCases()),
                         [](const auto& info) { return info.param.name; });

// ---------------------------------------------------------------------------
// The other clients

const std::string kFolderList = "<?xml version=\"1.0\"?>\n<folderlist>\n<folder type=\"mh\" name=\"Mailbox\" path=\"Mail\">\n";

struct OtherCase {
  std::string name;
  Client client;
  std::map<std::string, std::string> files;
  Kind expected;
};

void PrintTo(const OtherCase& c, std::ostream* os) { *os << c.name; }

// A Geary account with a login of its own, as its Accounts dialog writes it.
std::string gearyAccount(const std::string& rememberPassword) {
  return "[Metadata]\nversion=1\nstatus=enabled\n\n[Incoming]\ncredentials=custom\nlogin=a\nremember_password=" +
         rememberPassword + "\nhost=imap.example.org\n\n[Outgoing]\ncredentials=use-incoming\nremember_password=true\n";
}

std::vector<OtherCase> otherCases() {
  const std::string account = "[Account: 1]\naccount_name=a@example.org\naddress=a@example.org\n";
  const std::string balsaIdentity = "[identity-Default Identity]\nFullName=A\nAddress=a@example.org\n";
  const std::string balsaBoxes = "[mailbox-Inbox]\nPath=/home/u/mailbox\nType=LibBalsaMailboxMbox\n";
  const std::string balsaGlobals = "[Globals]\nMailDir=/home/u/mail\n";
  // An account file and a mailbox list in the client's directory.
  const auto accountAndMailbox = [&](const std::string& dir, const std::string& accountrc) {
    return std::map<std::string, std::string>{{dir + "/accountrc", accountrc}, {dir + "/folderlist.xml", kFolderList}};
  };
  return {
      {"EvolutionWithNothing", Client::Evolution, {}, Kind::Composes},
      {"ClawsNeverStarted", Client::ClawsMail, {}, Kind::CannotCompose},
      {"ClawsAccountWithoutMailbox", Client::ClawsMail, {{"home/.claws-mail/accountrc", account}}, Kind::CannotCompose},
      {"ClawsMailboxWithoutAccount", Client::ClawsMail, {{"home/.claws-mail/folderlist.xml", kFolderList}},
       Kind::CannotCompose},
      {"ClawsEmptyAccountFile", Client::ClawsMail, accountAndMailbox("home/.claws-mail", "# nothing\n"),
       Kind::CannotCompose},
      {"ClawsComplete", Client::ClawsMail, accountAndMailbox("home/.claws-mail", account), Kind::Composes},
      {"ClawsAccountFileUnreadable", Client::ClawsMail,
       accountAndMailbox("home/.claws-mail", std::string(kUnreadable)), Kind::Unknown},
      {"SylpheedAccountWithoutMailbox", Client::Sylpheed, {{"home/.sylpheed-2.0/accountrc", account}},
       Kind::CannotCompose},
      {"SylpheedComplete", Client::Sylpheed, accountAndMailbox("home/.sylpheed-2.0", account), Kind::Composes},
      {"BalsaNeverStarted", Client::Balsa, {}, Kind::CannotCompose},
      {"BalsaIdentityAndMailboxesWithoutGlobals", Client::Balsa, {{"home/.balsa/config", balsaBoxes + balsaIdentity}},
       Kind::CannotCompose},
      {"BalsaIdentityWithoutAddress", Client::Balsa,
       {{"home/.balsa/config", balsaGlobals + balsaBoxes + "[identity-Default Identity]\nFullName=A\n"}},
       Kind::Unknown},
      {"BalsaComplete", Client::Balsa, {{"home/.balsa/config", balsaGlobals + balsaBoxes + balsaIdentity}},
       Kind::Composes},
      {"BalsaInTheConfigurationHome", Client::Balsa,
       {{"config/balsa/config", balsaGlobals + balsaBoxes + balsaIdentity}}, Kind::Composes},
      {"GearyNeverSetUp", Client::Geary, {{"config/geary/geary.ini", "[Metadata]\n"}}, Kind::CannotCompose},
      {"GearyAccount", Client::Geary, {{"config/geary/account_01/geary.ini", gearyAccount("true")}}, Kind::Unknown},
      {"GearyAccountInTheDataHome", Client::Geary, {{"data/geary/account_01/geary.ini", gearyAccount("true")}},
       Kind::Unknown},
      {"GearyAccountWithoutCredentialsIsNotLoaded", Client::Geary,
       {{"config/geary/account_01/geary.ini", "[Metadata]\nversion=1\n[Incoming]\nlogin=a\n"}}, Kind::CannotCompose},
      {"GearyPasswordNotRemembered", Client::Geary,
       {{"config/geary/account_01/geary.ini", gearyAccount("false")}}, Kind::CannotCompose},
      {"GearyPasswordNotRememberedAsANumber", Client::Geary, {{"config/geary/account_01/geary.ini", gearyAccount("0")}},
       Kind::CannotCompose},
      {"GearyOneAccountOfTwoRemembersItsPassword", Client::Geary,
       {{"config/geary/account_01/geary.ini", gearyAccount("false")},
        {"config/geary/account_02/geary.ini", gearyAccount("true")}},
       Kind::Unknown},
      {"GearyOnlineAccountsCredentials", Client::Geary,
       {{"config/geary/account_01/geary.ini",
         "[Metadata]\nversion=1\n[Incoming]\ncredentials=goa\nremember_password=false\n"}},
       Kind::Unknown},
      {"GearyAccountUnreadable", Client::Geary,
       {{"config/geary/account_01/geary.ini", std::string(kUnreadable)},
        {"config/geary/account_02/geary.ini", gearyAccount("false")}},
       Kind::Unknown},
      {"KMailNoIdentity", Client::KMail, {{"config/emailidentities", "[General]\n"}}, Kind::CannotCompose},
      {"KMailIdentity", Client::KMail,
       {{"config/emailidentities", "[Identity #0]\nEmail Address=a@example.org\nIdentity=Default\n"}}, Kind::Unknown},
      {"NeoMuttIsNotRead", Client::NeoMutt, {}, Kind::Unknown},
  };
}

class OtherClientSetup : public ::testing::TestWithParam<OtherCase> {};

TEST_P(OtherClientSetup, Decides) {
  const OtherCase& c = GetParam();
  const SetupVerdict verdict = clientSetup(c.client, ClientInstall{}, MadeUpFiles(c.files), job());
  EXPECT_EQ(verdict.kind, c.expected) << verdict.why;
}

INSTANTIATE_TEST_SUITE_P(Trees, OtherClientSetup, ::testing::ValuesIn(otherCases()),
                         [](const auto& info) { return info.param.name; });

// ---------------------------------------------------------------------------
// Web browsers

const std::string kFirefoxProfiles =
    "[Profile0]\nName=default-esr\nIsRelative=1\nPath=ff.default-esr\n\n[General]\nStartWithLastProfile=1\n\n"
    "[Install3B6073811A6ABF12]\nDefault=ff.default-esr\nLocked=1\n";

std::string handlers(const std::string& mailto) {
  return R"({"defaultHandlersVersion":{},"mimeTypes":{},"schemes":{"mailto":)" + mailto + "}}";
}

TEST(BrowserSetupTest, FirefoxComposesOnlyThroughAChosenWebMailer) {
  const std::string webMailer =
      R"({"action":2,"ask":false,"handlers":[{"name":"Mail","uriTemplate":"https://mail.example.org/c?to=%s"}]})";
  struct Case {
    std::string name;
    std::map<std::string, std::string> files;
    Kind expected;
  };
  const std::string config = "config/mozilla/firefox/";
  // The profile and its handlers.json holding `handlersJson`.
  const auto profile = [&](const std::string& handlersJson) {
    return std::map<std::string, std::string>{{config + "profiles.ini", kFirefoxProfiles},
                                              {config + "ff.default-esr/handlers.json", handlersJson}};
  };
  const std::vector<Case> cases = {
      {"never started", {}, Kind::CannotCompose},
      {"no handlers file", {{config + "profiles.ini", kFirefoxProfiles}}, Kind::CannotCompose},
      {"web mailer chosen", profile(handlers(webMailer)), Kind::Composes},
      {"web mailer in the older profile directory",
       {{"home/.mozilla/firefox/profiles.ini", kFirefoxProfiles},
        {"home/.mozilla/firefox/ff.default-esr/handlers.json", handlers(webMailer)}},
       Kind::Composes},
      {"asks first", profile(handlers(R"({"action":2,"ask":true,"handlers":[{"name":"M","uriTemplate":"https://m/?%s"}]})")),
       Kind::CannotCompose},
      {"the system's handler (itself)", profile(handlers(R"({"action":4,"ask":false})")), Kind::CannotCompose},
      {"a local program first",
       profile(handlers(
           R"({"action":2,"ask":false,"handlers":[{"name":"x","path":"/usr/bin/x"},{"name":"M","uriTemplate":"https://m/?%s"}]})")),
       Kind::CannotCompose},
      {"the shipped list, nothing chosen",
       profile(handlers(R"({"stubEntry":true,"handlers":[null,{"name":"M","uriTemplate":"https://m/?%s"}]})")),
       Kind::CannotCompose},
      {"damaged handlers file", profile("{\"schemes\":"), Kind::CannotCompose},
      {"unreadable handlers file", profile(std::string(kUnreadable)), Kind::Unknown},
  };
  for (const Case& c : cases) {
    const SetupVerdict verdict = browserSetup(Browser::Firefox, ClientInstall{}, MadeUpFiles(c.files), job());
    EXPECT_EQ(verdict.kind, c.expected) << c.name << ": " << verdict.why;
  }
  // Chromium's handlers are not read: it never counts as a mail client.
  EXPECT_EQ(browserSetup(Browser::Chromium, ClientInstall{}, MadeUpFiles({}), job()).kind, Kind::CannotCompose);
}

TEST(BrowserSetupTest, BrowsersAreKnownByTheirDesktopIds) {
  EXPECT_EQ(browserForDesktopId("firefox-esr.desktop"), Browser::Firefox);
  EXPECT_EQ(browserForDesktopId("org.mozilla.firefox.desktop"), Browser::Firefox);
  EXPECT_EQ(browserForDesktopId("chromium.desktop"), Browser::Chromium);
  EXPECT_EQ(browserForDesktopId("thunderbird.desktop"), Browser::None);
  EXPECT_EQ(browserForDesktopId(""), Browser::None);
}

TEST(ClientInstallTest, ReadFromTheWordsThatStartTheClient) {
  const ClientInstall flatpak =
      installOf({"/usr/bin/flatpak", "run", "--branch=stable", "--command=claws-mail", "org.claws_mail.Claws-Mail", "%u"});
  EXPECT_EQ(flatpak.kind, ClientInstall::Kind::Flatpak);
  EXPECT_EQ(flatpak.appId, "org.claws_mail.Claws-Mail");
  const ClientInstall snap = installOf({"/snap/bin/thunderbird.betterbird", "%u"});
  EXPECT_EQ(snap.kind, ClientInstall::Kind::Snap);
  EXPECT_EQ(snap.appId, "thunderbird");
  const ClientInstall separateValues = installOf({"flatpak", "run", "--branch", "stable", "--arch", "x86_64",
                                                  "org.mozilla.Thunderbird", "-compose", "x"});
  EXPECT_EQ(separateValues.appId, "org.mozilla.Thunderbird");
  const ClientInstall exported = installOf({"/var/lib/flatpak/exports/bin/org.mozilla.Thunderbird", "%u"});
  EXPECT_EQ(exported.kind, ClientInstall::Kind::Flatpak);
  EXPECT_EQ(exported.appId, "org.mozilla.Thunderbird");
  EXPECT_EQ(installOf({"/usr/bin/thunderbird", "%u"}).kind, ClientInstall::Kind::Native);
  EXPECT_EQ(installOf({"thunderbird", "/snap/bin/x"}).kind, ClientInstall::Kind::Native);
  EXPECT_EQ(installOf({"flatpak", "run"}).kind, ClientInstall::Kind::Native);
}

}  // namespace
}  // namespace mail
