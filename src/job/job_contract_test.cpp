#include "job/job_contract.h"

#include <gtest/gtest.h>

#include "job/draft_request.h"
#include "platform/json.h"

namespace {

// What the program writes, a host reads back as the same outcome.
TEST(ResultDocumentReading, ReadsEveryDocumentTheProgramWrites) {
  const std::pair<DraftOutcome, ResultReading> pairs[] = {
      {DraftOutcome::opened, ResultReading::opened},
      {DraftOutcome::permissionDenied, ResultReading::permissionDenied},
      {DraftOutcome::failed, ResultReading::failed},
  };
  for (const auto& [outcome, reading] : pairs) {
    const auto bytes = platform::serializeJson(resultDocument(outcome));
    ASSERT_TRUE(bytes);
    EXPECT_EQ(readResultDocument(*bytes), reading) << *bytes;
  }
}

TEST(ResultDocumentReading, AnythingElseIsUnknown) {
  for (const char* bytes : {"", "{}", "[true]", "{\"ok\":\"true\"}", "{\"ok\":true,\"code\":\"DRAFT_FAILED\"}",
                            "{\"ok\":false}", "{\"ok\":false,\"code\":\"OTHER\"}", "{\"ok\":false,\"code\":1}",
                            "{\"ok\":false,\"code\":\"DRAFT_FAILED\",\"more\":1}", "{\"ok\":true,\"ok\":false}",
                            "{\"ok\":true} x"}) {
    EXPECT_EQ(readResultDocument(bytes), ResultReading::unknown) << bytes;
  }
}

}  // namespace
