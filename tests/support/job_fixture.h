// A throwaway world for running one job: a temporary root holding home/ and
// a dev-channel SupportDraft.app/ whose mail draft script succeeds without
// touching anything, plus helpers to lay out the job and read its result.
#pragma once

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "harness.h"

namespace jobfixture {

using namespace harness;

inline constexpr std::string_view kJobId = "6f1c0b1e-93a4-4b7d-8c55-0d2f3e4a5b6c";
inline constexpr std::string_view kScriptResource = "support-mail.applescript";

// The result documents, as parsed values.
inline nlohmann::json opened() { return {{"ok", true}}; }
inline nlohmann::json failed(const std::string& code = "DRAFT_FAILED") { return {{"ok", false}, {"code", code}}; }

// The process side of every job-mode run: status 0 and not a byte of output.
inline void expectQuietExit(const RunResult& result) {
  ASSERT_TRUE(result.started);
  EXPECT_FALSE(result.timedOut) << describe(result);
  EXPECT_EQ(result.exitStatus, 0) << describe(result);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "");
}

class JobFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = temp_.path() / "home";
    bundle_ = makeBundle(temp_.path());
    writeInfo(bundle_, standardInfo("dev"));
    writeResource(bundle_, kScriptResource, kSucceedingMailScript);
    jobDir_ = home_ / kDevToolDir / "support-drafts" / kJobId;
  }

  const fs::path& root() const { return temp_.path(); }
  const fs::path& home() const { return home_; }
  const Bundle& bundle() const { return bundle_; }
  const fs::path& jobDir() const { return jobDir_; }
  fs::path resultPath() const { return jobDir_ / "result.json"; }

  // Moves the home (before prepare) to another place under root().
  void useHome(const fs::path& home) {
    home_ = home;
    jobDir_ = home_ / kDevToolDir / "support-drafts" / kJobId;
  }

  void prepare(std::string_view json = kWellFormedJob, std::optional<std::string_view> log = std::nullopt) {
    ASSERT_EQ(prepareJob(home_, kDevToolDir, kJobId, json, log), jobDir_);
  }

  RunResult runJob(const Environment& env, const RunOptions& options = {}) const {
    return run(bundle_.executable, {"--job", std::string(kJobId)}, env, options);
  }
  RunResult runJob(const RunOptions& options = {}) const { return runJob(minimalEnvironment(home_), options); }

  // Runs the program with any command line and the given home.
  RunResult runProgram(const std::vector<std::string>& args, const fs::path& homeForRun,
                       const RunOptions& options = {}) const {
    return run(bundle_.executable, args, minimalEnvironment(homeForRun), options);
  }

  // Runs the program and checks that nothing at all happened under root().
  void expectSilentStop(const std::vector<std::string>& args) { expectSilentStop(args, home_); }
  void expectSilentStop(const std::vector<std::string>& args, const fs::path& homeForRun,
                        const RunOptions& options = {}) {
    const Snapshot before = takeSnapshot(root());
    const RunResult result = runProgram(args, homeForRun, options);
    expectQuietExit(result);
    EXPECT_EQ(formatChanges(compareSnapshots(before, takeSnapshot(root()))), "");
  }

  // result.json parsed; a missing or unparsable document fails the test.
  nlohmann::json outcome() const {
    std::error_code error;
    if (!fs::exists(fs::symlink_status(resultPath(), error))) {
      ADD_FAILURE() << "no result.json in " << jobDir_;
      return nullptr;
    }
    const std::string text = readFile(resultPath());
    nlohmann::json parsed = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
    EXPECT_FALSE(parsed.is_discarded()) << "result.json is not JSON: [" << text << "]";
    return parsed;
  }

 private:
  TempDir temp_;
  fs::path home_;
  Bundle bundle_;
  fs::path jobDir_;
};

}  // namespace jobfixture
