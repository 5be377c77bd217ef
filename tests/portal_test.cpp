// The desktop portal helper against a stand-in portal on a private session
// bus (dbus-run-session): what ComposeEmail receives, and how each answer
// of the portal becomes the helper's exit status.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "harness.h"
#include "platform/mail/mail_service.h"

namespace {

using namespace harness;
using platform::mail::PortalStatus;

const fs::path kHelper = fs::path(SUPPORT_DRAFT_BUNDLE) / "Contents" / "MacOS" / "support-draft-portal";
const fs::path kStandIn = fs::path(SUPPORT_DRAFT_SOURCE_DIR) / "tests" / "stand-ins" / "portal.py";

class PortalHelper : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* tool : {"/usr/bin/dbus-run-session", "/usr/bin/gdbus", "/usr/bin/python3"}) {
      ASSERT_EQ(::access(tool, X_OK), 0) << tool << " is missing (scripts/deps.sh test)";
    }
    // The stand-in takes its place on the bus, then the helper runs; the
    // driver prints the helper's exit status.
    writeFile(driver(),
              "#!/bin/sh\n/usr/bin/python3 '" + kStandIn.string() + "' \"$1\" \"$2\" &\nportal=$!\nshift 2\n"
              "/usr/bin/gdbus wait --session --timeout 10 org.freedesktop.portal.Desktop || exit 99\n"
              "\"$@\"\necho \"status=$?\"\nkill $portal\n",
              0755);
    writeFile(log(), "2026-12-07 export started\n", 0600);
  }

  // Runs the helper with `args` against a portal that answers `answer`;
  // gives the helper's exit status, or -1 when the run itself failed.
  int runHelper(const std::string& answer, const std::vector<std::string>& args) const {
    std::vector<std::string> command = {"--", driver().string(), record().string(), answer, kHelper.string()};
    command.insert(command.end(), args.begin(), args.end());
    const RunResult result = run("/usr/bin/dbus-run-session", command, minimalEnvironment(dir_.path()));
    const auto at = result.out.find("status=");
    if (at == std::string::npos) {
      ADD_FAILURE() << describe(result);
      return -1;
    }
    return std::stoi(result.out.substr(at + 7));
  }

  // What ComposeEmail received; null when it was not called.
  nlohmann::json recorded() const {
    if (!fs::exists(record())) return nullptr;
    return nlohmann::json::parse(readFile(record()));
  }

  fs::path driver() const { return dir_.path() / "driver"; }
  fs::path record() const { return dir_.path() / "record.json"; }
  fs::path log() const { return dir_.path() / "log.txt"; }

 private:
  TempDir dir_;
};

const std::string kSubject = "Support Request - Quorvel \"q\" $(id) T\xC3\xBCrk\xC3\xA7" "e";
const std::string kBody = "line 1\n\tline 2 \\n 'x' & y\n";

TEST_F(PortalHelper, ComposeEmailGetsTheTextsAndTheLogAsDescriptor) {
  EXPECT_EQ(runHelper("0", {"--address=", kSubject, kBody}), PortalStatus::kPortalOpened);
  nlohmann::json options = recorded();
  ASSERT_TRUE(options.is_object());
  EXPECT_EQ(options.value("subject", ""), kSubject);
  EXPECT_EQ(options.value("body", ""), kBody);
  EXPECT_EQ(options.value("parent_window", "?"), "");
  EXPECT_FALSE(options.contains("attachment_fds"));
  EXPECT_FALSE(options.contains("address"));

  EXPECT_EQ(runHelper("0", {"--address=", kSubject, kBody, log().string()}), PortalStatus::kPortalOpened);
  options = recorded();
  EXPECT_EQ(options["attachment_fds"], nlohmann::json::array({"2026-12-07 export started\n"}));
}

// The recipient goes in `address` as the caller encoded it, never in
// `addresses`; a command line without the address option is refused.
TEST_F(PortalHelper, RecipientGoesInTheAddressOption) {
  EXPECT_EQ(runHelper("0", {"--address=help%2Bdesk%26to%3Dx@support.example.org", kSubject, kBody}),
            PortalStatus::kPortalOpened);
  const nlohmann::json options = recorded();
  EXPECT_EQ(options.value("address", ""), "help%2Bdesk%26to%3Dx@support.example.org");
  EXPECT_FALSE(options.contains("addresses"));
  EXPECT_EQ(runHelper("0", {kSubject, kBody}), PortalStatus::kPortalUsage);
}

TEST_F(PortalHelper, EachAnswerHasItsStatus) {
  EXPECT_EQ(runHelper("1", {"--address=", kSubject, kBody}), PortalStatus::kPortalCancelled);
  EXPECT_EQ(runHelper("2", {"--address=", kSubject, kBody}), PortalStatus::kPortalFailed);
  EXPECT_EQ(runHelper("deny", {"--address=", kSubject, kBody}), PortalStatus::kPortalAccessDenied);
}

// A log that is a link, or readable by others, never reaches the portal.
TEST_F(PortalHelper, LogThatIsNotPrivateIsNotSent) {
  const fs::path link = log().parent_path() / "link.txt";
  makeSymlink(log(), link);
  EXPECT_EQ(runHelper("0", {"--address=", kSubject, kBody, link.string()}), PortalStatus::kPortalBadFile);
  fs::permissions(log(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_EQ(runHelper("0", {"--address=", kSubject, kBody, log().string()}), PortalStatus::kPortalBadFile);
  EXPECT_TRUE(recorded().is_null()) << "the portal was called";
}

}  // namespace
