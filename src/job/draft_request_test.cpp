#include "job/draft_request.h"

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

#include "platform/json.h"
#include "testing/scratch_directory.h"

namespace {

TEST(DraftOutcomeTable, EveryRow) {
  struct Row {
    std::optional<std::string> text;
    std::optional<std::int64_t> number;
    DraftOutcome expected;
  };
  const Row rows[] = {
      {"draft_opened", std::nullopt, DraftOutcome::opened},
      {"draft_opened", -1743, DraftOutcome::permissionDenied},
      {"draft_opened", -1, DraftOutcome::failed},
      {"draft_opened", 0, DraftOutcome::failed},
      {std::nullopt, -1743, DraftOutcome::permissionDenied},
      {"something", -1743, DraftOutcome::permissionDenied},
      {std::nullopt, std::nullopt, DraftOutcome::failed},
      {"something", std::nullopt, DraftOutcome::failed},
      {"Draft_Opened", std::nullopt, DraftOutcome::failed},
      {"draft_opened\n", std::nullopt, DraftOutcome::failed},
      {" draft_opened", std::nullopt, DraftOutcome::failed},
      {"", std::nullopt, DraftOutcome::failed},
      {std::nullopt, -1744, DraftOutcome::failed},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(outcomeFor(ScriptCallResult{row.text, row.number}), row.expected)
        << row.text.value_or("(none)") << " / " << (row.number ? std::to_string(*row.number) : "(none)");
  }
}

TEST(ResultDocument, SuccessHasNoCode) {
  EXPECT_EQ(platform::serializeJson(resultDocument(DraftOutcome::opened)), R"({"ok":true})");
  const auto failed = platform::parseJson(*platform::serializeJson(resultDocument(DraftOutcome::failed)));
  EXPECT_EQ(*failed, (platform::Json{{"ok", false}, {"code", "DRAFT_FAILED"}}));
  const auto denied = platform::parseJson(*platform::serializeJson(resultDocument(DraftOutcome::permissionDenied)));
  EXPECT_EQ(*denied, (platform::Json{{"ok", false}, {"code", "MAIL_PERMISSION_DENIED"}}));
}

// The draft request on a made-up job directory and resource directory: the
// script comes from the resource directory it is handed, and the log is
// judged before the script is looked for.
class DraftRequestOnGivenPlaces : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directory(jobPath_);
    std::filesystem::create_directory(resources_);
  }

  // A script that opens the draft only when it is handed these texts.
  void writeScriptExpecting(const AcceptedJob& job, const std::string& logPath) {
    std::ofstream(resources_ + "/support-mail.applescript")
        << "on makeSupportDraft(subjectText, bodyText, logPath)\n"
        << "\tif subjectText is \"" << job.subject << "\" and bodyText is \"" << job.body
        << "\" and logPath is \"" << logPath << "\" then\n"
        << "\t\treturn \"draft_opened\"\n\tend if\n\treturn \"other texts\"\nend makeSupportDraft\n";
  }

  std::string resultAfterRequest(const AcceptedJob& job, const std::string& resourceDirectory) {
    const auto jobDirectory = platform::Directory::openWithoutLinks(jobPath_);
    if (!jobDirectory) return "(no job directory)";
    requestDraft(*jobDirectory, job, resourceDirectory, mail::MailContext{}, std::nullopt);
    std::ostringstream text;
    text << std::ifstream(jobPath_ + "/result.json").rdbuf();
    return text.str();
  }

  testing_support::ScratchDirectory scratch_;
  const std::string jobPath_ = scratch_.path() + "/job";
  const std::string resources_ = scratch_.path() + "/Resources";
};

constexpr const char* kOpened = R"({"ok":true})";
constexpr const char* kFailed = R"({"code":"DRAFT_FAILED","ok":false})";

TEST_F(DraftRequestOnGivenPlaces, ScriptComesFromTheResourceDirectoryItIsHanded) {
  const AcceptedJob job{"Support Request - Quorvel x", "body", false};
  writeScriptExpecting(job, "");
  EXPECT_EQ(resultAfterRequest(job, resources_), kOpened);
  EXPECT_EQ(resultAfterRequest({job.subject, "other body", false}, resources_), kFailed) << "the script checks";
  EXPECT_EQ(resultAfterRequest(job, scratch_.path()), kFailed) << "a directory without the script";
  EXPECT_EQ(resultAfterRequest(job, ""), kFailed) << "no resource directory at all";
}

TEST_F(DraftRequestOnGivenPlaces, WantedLogIsJudgedBeforeTheScriptAndHandedOnByPath) {
  const AcceptedJob job{"Support Request - Quorvel x", "body", true};
  const std::string log = jobPath_ + "/log.txt";
  writeScriptExpecting(job, log);
  EXPECT_EQ(resultAfterRequest(job, resources_), kFailed) << "no log yet";
  std::ofstream(log) << "log";
  ASSERT_EQ(::chmod(log.c_str(), 0644), 0);
  EXPECT_EQ(resultAfterRequest(job, resources_), kFailed) << "a log others can read";
  ASSERT_EQ(::chmod(log.c_str(), 0600), 0);
  EXPECT_EQ(resultAfterRequest(job, resources_), kOpened);
}

}  // namespace
