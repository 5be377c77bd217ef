#include "job/job_document.h"

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

#include "job/job_contract.h"
#include "platform/json.h"
#include "testing/scratch_directory.h"

namespace {

const std::string kPrefix = "Support Request - Quorvel ";

std::string document(const platform::Json& subject, const platform::Json& body, const platform::Json& attachLogs) {
  platform::Json object = {{"subject", subject}, {"body", body}, {"attachLogs", attachLogs}};
  return object.dump();
}

// The job, as a bundle without a subject prefix of its own judges it.
std::optional<AcceptedJob> acceptJobDocument(std::string_view bytes) {
  return checkJobDocument(bytes, kSubjectPrefix).job;
}

std::string validDocument() { return document(kPrefix + "crash", "Hello", true); }

TEST(JobDocument, AcceptsAValidDocumentUnchanged) {
  const auto job = acceptJobDocument(
      R"({"attachLogs":false,"body":"  line\n\"q\" $(x) \u00fc  ","subject":"Support Request - Quorvel  x "})");
  ASSERT_TRUE(job);
  EXPECT_EQ(job->subject, "Support Request - Quorvel  x ");
  EXPECT_EQ(job->body, "  line\n\"q\" $(x) \xC3\xBC  ");
  EXPECT_FALSE(job->attachLogs);
  EXPECT_TRUE(acceptJobDocument(validDocument())->attachLogs);
}

TEST(JobDocument, RejectsWhatIsNotAJsonObject) {
  for (const char* text : {"", " ", "not json", "[]", "\"text\"", "42", "true", "null", "{", "{}"}) {
    EXPECT_FALSE(acceptJobDocument(text)) << text;
  }
  EXPECT_FALSE(acceptJobDocument(validDocument() + "x"));
}

TEST(JobDocument, KeySetMustBeExact) {
  EXPECT_FALSE(acceptJobDocument(R"({"subject":"Support Request - Quorvel a","body":""})"));
  EXPECT_FALSE(acceptJobDocument(R"({"subject":"Support Request - Quorvel a","body":"","attachLogs":true,"x":1})"));
  EXPECT_FALSE(acceptJobDocument(R"({"subject":"Support Request - Quorvel a","body":"","attachlogs":true})"));
  EXPECT_FALSE(acceptJobDocument(R"({"Subject":"Support Request - Quorvel a","body":"","attachLogs":true})"));
  EXPECT_FALSE(acceptJobDocument(
      R"({"subject":"Support Request - Quorvel a","body":"","attachLogs":true,"body":""})"));
  EXPECT_TRUE(acceptJobDocument(R"({"body":"","attachLogs":true,"subject":"Support Request - Quorvel a"})"));
}

TEST(JobDocument, EachMemberMustHaveItsType) {
  const platform::Json wrong[] = {nullptr, 1, true, platform::Json::array(), platform::Json::object()};
  for (const auto& value : wrong) {
    EXPECT_FALSE(acceptJobDocument(document(value, "", false))) << value;
    EXPECT_FALSE(acceptJobDocument(document(kPrefix, value.is_boolean() ? platform::Json(1) : value, false)))
        << value;
  }
  for (const platform::Json& value : {platform::Json("true"), platform::Json(nullptr), platform::Json::array(),
                                      platform::Json(2), platform::Json::object()}) {
    EXPECT_FALSE(acceptJobDocument(document(kPrefix, "", value))) << value;
  }
}

TEST(JobDocument, SubjectPrefixIsExact) {
  EXPECT_TRUE(acceptJobDocument(document(kPrefix, "", false))) << "the prefix alone";
  EXPECT_FALSE(acceptJobDocument(document("support request - quorvel x", "", false)));
  EXPECT_FALSE(acceptJobDocument(document("Support Request - Quorvel", "", false)));
  EXPECT_FALSE(acceptJobDocument(document(" " + kPrefix, "", false)));
  EXPECT_FALSE(acceptJobDocument(document("Support Request – Quorvel x", "", false)));
  EXPECT_FALSE(acceptJobDocument(document(kPrefix + "\xCC\x81x", "", false))) << "accent on the final blank";
}

TEST(JobDocument, LimitsCountUtf8Bytes) {
  // 26 bytes of prefix; two-byte letters put the edge inside a character.
  const std::string subject200 = kPrefix + std::string(86, 'a') + [] {
    std::string s;
    for (int i = 0; i < 44; ++i) s += "\xC3\xBC";
    return s;
  }();
  ASSERT_EQ(subject200.size(), 200u);
  EXPECT_TRUE(acceptJobDocument(document(subject200, "", false)));
  EXPECT_FALSE(acceptJobDocument(document(subject200 + "a", "", false)));
  const std::string subject201 = kPrefix + std::string(85, 'a') + [] {
    std::string s;
    for (int i = 0; i < 45; ++i) s += "\xC3\xBC";
    return s;
  }();
  ASSERT_EQ(subject201.size(), 201u);
  EXPECT_FALSE(acceptJobDocument(document(subject201, "", false))) << "fewer than 200 characters";

  std::string body8192;
  for (int i = 0; i < 2048; ++i) body8192 += "\xF0\x9F\x98\x80";
  EXPECT_TRUE(acceptJobDocument(document(kPrefix, body8192, false)));
  EXPECT_FALSE(acceptJobDocument(document(kPrefix, body8192 + "a", false)));
  EXPECT_TRUE(acceptJobDocument(document(kPrefix, "", false))) << "an empty body";
}

TEST(JobDocument, EscapesCountByTheCharacterTheyStandFor) {
  // "\u00fc" is six bytes in the document but two in the subject.
  std::string escaped;
  for (int i = 0; i < 87; ++i) escaped += "\\u00fc";
  EXPECT_TRUE(acceptJobDocument(R"({"subject":"Support Request - Quorvel )" + escaped +
                                R"(","body":"","attachLogs":false})"));
}

TEST(JobDocument, NulIsRejectedAnywhere) {
  EXPECT_FALSE(acceptJobDocument(R"({"subject":"Support Request - Quorvel \u0000","body":"","attachLogs":false})"));
  EXPECT_FALSE(acceptJobDocument(R"({"subject":"Support Request - Quorvel x","body":"a\u0000b","attachLogs":false})"));
  EXPECT_FALSE(acceptJobDocument(R"({"subject":"Support Request - Quorvel x","body":"\u0000","attachLogs":false})"));
}

TEST(JobDocument, InvalidUtf8InsideAStringIsRejected) {
  EXPECT_FALSE(acceptJobDocument("{\"subject\":\"Support Request - Quorvel \xC3\",\"body\":\"\",\"attachLogs\":false}"));
  EXPECT_FALSE(acceptJobDocument("{\"subject\":\"Support Request - Quorvel x\",\"body\":\"\xFF\",\"attachLogs\":false}"));
  EXPECT_FALSE(acceptJobDocument(R"({"subject":"Support Request - Quorvel x","body":"\udc00","attachLogs":false})"));
}

}  // namespace

namespace {

std::optional<Reason> refusal(const JobDocumentCheck& check) {
  return check.breach ? std::optional(check.breach->reason) : std::nullopt;
}

std::optional<Reason> refusal(const JobDocumentMaking& making) {
  return making.breach ? std::optional(making.breach->reason) : std::nullopt;
}

TEST(JobDocumentReason, NamesTheFieldThatIsWrong) {
  EXPECT_EQ(refusal(checkJobDocument(validDocument(), kSubjectPrefix)), std::nullopt);
  EXPECT_EQ(refusal(checkJobDocument("[]", kSubjectPrefix)), Reason::jobDocumentInvalid);
  EXPECT_EQ(refusal(checkJobDocument(document(kPrefix, "", "yes"), kSubjectPrefix)), Reason::jobDocumentInvalid);
  EXPECT_EQ(refusal(checkJobDocument(document("Support Request - " , "", true), kSubjectPrefix)), Reason::subjectPrefix);
  EXPECT_EQ(refusal(checkJobDocument(document(kPrefix + std::string(200, 'x'), "", true), kSubjectPrefix)), Reason::subjectTooLong);
  EXPECT_EQ(refusal(checkJobDocument(document(kPrefix + std::string(1, '\0'), "", true), kSubjectPrefix)), Reason::subjectHoldsNul);
  EXPECT_EQ(refusal(checkJobDocument(document(kPrefix, std::string(8193, 'b'), true), kSubjectPrefix)), Reason::bodyTooLong);
  EXPECT_EQ(refusal(checkJobDocument(document(kPrefix, std::string("a\0b", 3), true), kSubjectPrefix)), Reason::bodyHoldsNul);
}

TEST(JobDocumentMaking, MakesWhatTheProgramAccepts) {
  const auto made = makeJobDocument(kPrefix + "crash", "line\n\"quoted\"", true, kSubjectPrefix);
  ASSERT_TRUE(made.bytes);
  const auto job = acceptJobDocument(*made.bytes);
  ASSERT_TRUE(job);
  EXPECT_EQ(job->body, "line\n\"quoted\"");
  EXPECT_TRUE(job->attachLogs);
}

TEST(JobDocumentMaking, RefusesWithTheFirstRuleBroken) {
  EXPECT_EQ(refusal(makeJobDocument(kPrefix + "\xff", "", false, kSubjectPrefix)), Reason::subjectNotUtf8);
  EXPECT_EQ(refusal(makeJobDocument("\xff", "", false, kSubjectPrefix)), Reason::subjectNotUtf8) << "validity before the prefix";
  EXPECT_EQ(refusal(makeJobDocument(kPrefix, "\xc3", false, kSubjectPrefix)), Reason::bodyNotUtf8);
  EXPECT_EQ(refusal(makeJobDocument("Hello", "", false, kSubjectPrefix)), Reason::subjectPrefix);
  EXPECT_EQ(refusal(makeJobDocument(kPrefix, std::string(8193, 'b'), false, kSubjectPrefix)), Reason::bodyTooLong);
  // A body within its limit written as escapes: 8192 control characters
  // take six bytes each in the document.
  EXPECT_EQ(refusal(makeJobDocument(kPrefix, std::string(8192, '\x01'), false, kSubjectPrefix)), Reason::jobDocumentTooLarge);
  EXPECT_FALSE(makeJobDocument(kPrefix, std::string(8192, '\x01'), false, kSubjectPrefix).bytes);
}

// A subject that is not one header line is refused before the job is
// written, with its own reason; the program takes such a document and
// fails the draft, and line breaks in the body stay allowed.
TEST(JobDocumentMaking, RefusesASubjectThatIsNotOneLine) {
  for (const std::string tail : {"x\nBcc: evil@example.org", "x\r", "x\xC2\x85y", "x\xE2\x80\xA8y", "x\x1B"}) {
    EXPECT_EQ(refusal(makeJobDocument(kPrefix + tail, "", false, kSubjectPrefix)), Reason::subjectNotOneLine) << tail;
    EXPECT_TRUE(acceptJobDocument(*jobDocumentBytes(kPrefix + tail, "", false))) << tail;
  }
  EXPECT_TRUE(makeJobDocument(kPrefix + "a\tb", "line 1\r\nline 2\n", false, kSubjectPrefix).bytes);
  // The rules that come first still come first.
  EXPECT_EQ(refusal(makeJobDocument("Hello\n", "", false, kSubjectPrefix)), Reason::subjectPrefix);
}

TEST(JobDocumentReason, TheFileInTheJobDirectoryIsNamed) {
  testing_support::ScratchDirectory scratch;
  const auto directory = platform::Directory::openWithoutLinks(scratch.path());
  ASSERT_TRUE(directory);
  const std::string path = scratch.path() + "/job.json";
  const auto breachIn = [&] { return checkJobDocumentIn(*directory, kSubjectPrefix).breach.value_or(RuleBreach{Reason::homeIsRoot, ""}); };

  EXPECT_EQ(breachIn().reason, Reason::jobDocumentUnreadable);
  EXPECT_EQ(breachIn().path, path);
  std::filesystem::create_directory(path);
  EXPECT_EQ(breachIn().reason, Reason::jobDocumentNotRegularFile);
  std::filesystem::remove(path);
  std::ofstream(path) << "{}";
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  EXPECT_EQ(breachIn().reason, Reason::jobDocumentNotPrivate);
  ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
  EXPECT_EQ(breachIn().reason, Reason::jobDocumentInvalid);
  EXPECT_EQ(breachIn().path, path);
  std::ofstream(path) << validDocument();
  EXPECT_TRUE(checkJobDocumentIn(*directory, kSubjectPrefix).job);
}

}  // namespace
