// job.json as the running program meets it on disk. The field rules are
// unit-tested beside the parser; what only a process run shows is what the
// file itself may be (its kind, size, owner and mode), that a rejected
// document ends the run without a trace, and that a FIFO cannot stall it.
//
// The bundle's mail draft script succeeds, so a document wrongly accepted
// leaves a result.json behind and shows up in the snapshot.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include "job_fixture.h"

namespace {

using namespace jobfixture;

constexpr std::size_t kLargestDocument = 16384;

// The well-formed document followed by blanks up to size bytes: still valid
// JSON, so only the size can decide.
std::string paddedJob(std::size_t size) {
  std::string text(kWellFormedJob);
  text.resize(size, ' ');
  return text;
}

struct RejectionCase {
  std::string name;
  // Replaces the prepared, well-formed job.json by the case's own.
  std::function<void(const fs::path& jobDir)> plant;
};

void PrintTo(const RejectionCase& c, std::ostream* os) { *os << c.name; }

void replaceJob(const fs::path& jobDir, std::string_view text, mode_t mode = 0600) {
  writeFile(jobDir / "job.json", text, mode);
}

std::vector<RejectionCase> rejectionCases() {
  return {
      {"Missing", [](const fs::path& d) { fs::remove(d / "job.json"); }},
      {"SymlinkToGoodFile",
       [](const fs::path& d) {
         fs::rename(d / "job.json", d / "real.json");
         makeSymlink(d / "real.json", d / "job.json");
       }},
      {"Directory",
       [](const fs::path& d) {
         fs::remove(d / "job.json");
         makeDirectory(d / "job.json", 0700);
       }},
      // Opening a FIFO for reading blocks until a writer comes; the program
      // must turn it away before that.
      {"Fifo",
       [](const fs::path& d) {
         fs::remove(d / "job.json");
         ASSERT_EQ(::mkfifo((d / "job.json").c_str(), 0600), 0);
       }},
      {"OneByteTooLarge", [](const fs::path& d) { replaceJob(d, paddedJob(kLargestDocument + 1)); }},
      {"GroupReadable", [](const fs::path& d) { replaceJob(d, kWellFormedJob, 0640); }},
      {"OthersReadable", [](const fs::path& d) { replaceJob(d, kWellFormedJob, 0604); }},
      {"Empty", [](const fs::path& d) { replaceJob(d, ""); }},
      {"NotJson", [](const fs::path& d) { replaceJob(d, "subject=Support Request - Quorvel x\n"); }},
      {"RepeatedKey",
       [](const fs::path& d) {
         replaceJob(d, R"({"subject":"Support Request - Quorvel a","subject":"Support Request - Quorvel b",)"
                       R"("body":"b","attachLogs":false})");
       }},
      {"SubjectWithoutPrefix",
       [](const fs::path& d) { replaceJob(d, jobJson("support request - Quorvel x", "b", false)); }},
  };
}

class JobDocumentFile : public JobFixture {};

class JobDocumentRejection : public JobFixture, public ::testing::WithParamInterface<RejectionCase> {};

TEST_P(JobDocumentRejection, StopsSilentlyAndChangesNothing) {
  prepare();
  GetParam().plant(jobDir());
  const Snapshot before = takeSnapshot(root());
  RunOptions options;
  options.timeout = std::chrono::seconds(15);
  expectQuietExit(runJob(options));
  EXPECT_EQ(formatChanges(compareSnapshots(before, takeSnapshot(root()))), "");
}

INSTANTIATE_TEST_SUITE_P(Rejected, JobDocumentRejection, ::testing::ValuesIn(rejectionCases()),
                         [](const auto& info) { return info.param.name; });

// The size limit is inclusive: the rejection one byte above is the limit's
// doing, not the padding's.
TEST_F(JobDocumentFile, DocumentOfExactlyLargestSizeIsAccepted) {
  prepare(paddedJob(kLargestDocument));
  ASSERT_EQ(fs::file_size(jobDir() / "job.json"), kLargestDocument);
  expectQuietExit(runJob());
  EXPECT_EQ(outcome(), opened());
}

TEST_F(JobDocumentFile, DocumentOfAnotherOwnerStopsSilently) {
  if (::geteuid() != 0) GTEST_SKIP() << "giving job.json to another user needs root";
  prepare();
  ASSERT_EQ(::lchown((jobDir() / "job.json").c_str(), kUnprivilegedUid, kUnprivilegedGid), 0);
  const Snapshot before = takeSnapshot(root());
  expectQuietExit(runJob());
  EXPECT_EQ(formatChanges(compareSnapshots(before, takeSnapshot(root()))), "");
}

}  // namespace
