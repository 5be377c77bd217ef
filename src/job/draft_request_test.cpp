#include "job/draft_request.h"

#include <gtest/gtest.h>

#include "platform/json.h"

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

}  // namespace
