#include "mail/host_route.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "platform/error_numbers.h"
#include "testing/scratch_directory.h"

namespace mail {
namespace {

// Texts no argument vector may show and no encoding may alter, a recipient
// and a log path with a blank, a quote and a comma.
const Draft kDraft{"Support Request - Quorvel \"q\" $(id) a,b='c' T\xC3\xBCrk\xC3\xA7" "e",
                   std::string("line 1\n\tline 2 \\n 100% & y\x01 /x ") + std::string(1, '\0') + "end",
                   "/home/O'Neil, Ann/.vantrel-devtool/support-drafts/x/log.txt", "help+desk@support.example.org"};

TEST(HostRouteTest, RequestCarriesTheDraftWhole) {
  const auto back = draftOfHostRequest(hostRequest(kDraft));
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(back->subject, kDraft.subject);
  EXPECT_EQ(back->body, kDraft.body);
  EXPECT_EQ(back->attachment, kDraft.attachment);
  EXPECT_EQ(back->recipient, kDraft.recipient);
  const auto empty = draftOfHostRequest(hostRequest(Draft{}));
  ASSERT_TRUE(empty.has_value());
  EXPECT_EQ(empty->body, "");
}

// Anything but exactly the four texts is no request.
TEST(HostRouteTest, OnlyExactlyTheFourTextsAreARequest) {
  for (const std::string request : {
           "",
           "null",
           "[]",
           R"({"subject":"s","body":"b","log":""})",
           R"({"subject":"s","body":"b","log":"","to":"","cc":""})",
           R"({"subject":"s","body":"b","log":"","To":""})",
           R"({"subject":"s","body":1,"log":"","to":""})",
           R"({"subject":"s","body":"b","log":null,"to":""})",
           R"({"subject":"s","subject":"t","log":"","to":""})",
           R"({"subject":"s","body":"b","log":"","to":""} x)",
           "{\"subject\":\"\xff\",\"body\":\"b\",\"log\":\"\",\"to\":\"\"}",
       }) {
    EXPECT_FALSE(draftOfHostRequest(request).has_value()) << request;
  }
  // A text that is not UTF-8 makes no request at all, rather than another text.
  EXPECT_EQ(hostRequest(Draft{"\xff", "b", "", ""}), "");
}

// The Flatpak helper's status read as the draft's outcome: only the
// desktop helper's 0 is a draft; only "nothing ran" leaves the choice of
// another route to the caller.
TEST(HostRouteTest, HelperStatusIsReadAsTheDraftsOutcome) {
  EXPECT_EQ(hostRouteOutcome(kHostOpened)->errorNumber, 0);
  EXPECT_FALSE(hostRouteOutcome(kFlatpakNotStarted).has_value());
  EXPECT_EQ(hostRouteOutcome(kHostNoRoute)->errorNumber, kErrorNoDraftRoute);
  EXPECT_EQ(hostRouteOutcome(kHostLogNotShared)->errorNumber, kErrorNoDraftRoute);
  for (const int status : {1, 2, 64 - 1, static_cast<int>(kHostNotOpened), static_cast<int>(kHostBadRequest),
                           static_cast<int>(kHostInSandbox), static_cast<int>(kFlatpakUsage),
                           static_cast<int>(kFlatpakNoAnswer), static_cast<int>(kFlatpakLost),
                           static_cast<int>(kFlatpakHostSignalled), static_cast<int>(kFlatpakHostOther), 255}) {
    const auto outcome = hostRouteOutcome(status);
    ASSERT_TRUE(outcome.has_value()) << status;
    EXPECT_NE(outcome->errorNumber, 0) << status;
    EXPECT_FALSE(outcome->message.empty()) << status;
  }
}

// The host side refuses a request it cannot read, and a log it does not
// see as the user's private file at the same path, before it gathers any
// fact or starts anything.
TEST(HostRouteTest, HostRefusesWhatItCannotCarry) {
  testing_support::ScratchDirectory dir;
  const std::string log = dir.path() + "/log.txt";
  std::ofstream(log) << "2026-12-07 export started\n";
  ASSERT_EQ(::chmod(log.c_str(), 0600), 0);
  int starts = 0;
  MailContext context = mailContext({"PATH=/usr/bin:/bin", "HOME=" + dir.path()}, dir.path(), "/nonexistent");
  context.launch.run = [&](const std::vector<std::string>&, std::chrono::milliseconds, platform::AtDeadline,
                           std::string_view) {
    ++starts;
    return ProgramRun{};
  };
  context.launch.start = [&](const std::vector<std::string>&) {
    ++starts;
    return ProgramStart{};
  };
  const auto withLog = [&](const std::string& path) {
    return hostRequest(Draft{"Support Request - Quorvel x", "b", path, ""});
  };
  EXPECT_EQ(openDraftOnHost(context, "", 24576), kHostBadRequest);
  EXPECT_EQ(openDraftOnHost(context, hostRequest(Draft{"s", "b", "", "a@b@c.org"}), 24576), kHostBadRequest);
  EXPECT_EQ(openDraftOnHost(context, withLog(dir.path() + "/missing.txt"), 24576), kHostLogNotShared);
  EXPECT_EQ(openDraftOnHost(context, withLog("log.txt"), 24576), kHostLogNotShared);
  EXPECT_EQ(openDraftOnHost(context, withLog(log), 10), kHostLogNotShared);
  const std::string link = dir.path() + "/link.txt";
  ASSERT_EQ(::symlink(log.c_str(), link.c_str()), 0);
  EXPECT_EQ(openDraftOnHost(context, withLog(link), 24576), kHostLogNotShared);
  ASSERT_EQ(::chmod(log.c_str(), 0640), 0);
  EXPECT_EQ(openDraftOnHost(context, withLog(log), 24576), kHostLogNotShared);
  EXPECT_EQ(starts, 0);
}

}  // namespace
}  // namespace mail
