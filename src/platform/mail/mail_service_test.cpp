#include "platform/mail/mail_service.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/scripting/errors.h"
#include "testing/scratch_directory.h"

namespace platform::mail {
namespace {

const Draft kDraft{"Support Request - Quorvel x", "b", ""};

DraftRoute startRoute(std::vector<std::string> argv, Verdict verdict) {
  DraftRoute route;
  route.kind = DraftRoute::Kind::Start;
  route.argv = std::move(argv);
  route.verdict = verdict;
  return route;
}

// How a started client's end is read: a forwarder's 255 is an open draft
// only where the client's row says so; a crash is never an open draft.
TEST(MailServiceTest, ExitOfTheClientIsReadByItsVerdict) {
  EXPECT_EQ(carryOut(startRoute({"/bin/sh", "-c", "exit 255"}, Verdict::ForwarderMayExit255), kDraft, "").errorNumber, 0);
  EXPECT_EQ(carryOut(startRoute({"/bin/sh", "-c", "exit 255"}, Verdict::ExitStatus), kDraft, "").errorNumber, 255);
  EXPECT_EQ(carryOut(startRoute({"/bin/sh", "-c", "exit 1"}, Verdict::ForwarderMayExit255), kDraft, "").errorNumber, 1);
  EXPECT_EQ(carryOut(startRoute({"/bin/sh", "-c", "kill -SEGV $$"}, Verdict::ForwarderMayExit255), kDraft, "")
                .errorNumber,
            -128);
}

// A client that crashes when started cold with a draft is started alone,
// then asked again; a crash of that start too is a failure.
TEST(MailServiceTest, CrashOnStartIsRetriedThroughAClientStartedAlone) {
  const testing_support::ScratchDirectory scratch;
  const std::string client = scratch.path() + "/client";
  const std::string running = scratch.path() + "/running";
  std::ofstream(client) << "#!/bin/sh\necho \"$#\" >> '" << scratch.path() << "/calls'\n"
                        << "[ $# -eq 0 ] && { touch '" << running << "'; exit 0; }\n"
                        << "[ -e '" << running << "' ] || kill -SEGV $$\n";
  std::filesystem::permissions(client, std::filesystem::perms::owner_all);
  DraftRoute route = startRoute({client, "--compose=x"}, Verdict::ExitStatus);
  route.startAloneAfterCrash = {client};
  EXPECT_EQ(carryOut(route, kDraft, "").errorNumber, 0);
  std::ifstream calls(scratch.path() + "/calls");
  const std::string recorded((std::istreambuf_iterator<char>(calls)), std::istreambuf_iterator<char>());
  EXPECT_EQ(recorded, "1\n0\n1\n");

  route.startAloneAfterCrash = {"/bin/sh", "-c", "kill -SEGV $$"};
  std::filesystem::remove(running);
  EXPECT_EQ(carryOut(route, kDraft, "").errorNumber, -128);
}

// A client that cannot be executed is a failed start, not a missing permission.
TEST(MailServiceTest, UnrunnableClientIsNoPermissionError) {
  const testing_support::ScratchDirectory scratch;
  const std::string client = scratch.path() + "/client";
  std::ofstream(client) << "#!/bin/sh\nexit 0\n";
  std::filesystem::permissions(client, std::filesystem::perms::owner_read);
  const DraftOutcome outcome = carryOut(startRoute({client}, Verdict::ExitStatus), kDraft, "");
  EXPECT_NE(outcome.errorNumber, 0);
  EXPECT_NE(outcome.errorNumber, platform::scripting::kErrorPermissionDenied);
}

TEST(MailServiceTest, RefusedRouteStartsNothing) {
  DraftRoute route;
  route.kind = DraftRoute::Kind::Refuse;
  route.why = "no route";
  const DraftOutcome outcome = carryOut(route, kDraft, "");
  EXPECT_EQ(outcome.errorNumber, kErrorNoDraftRoute);
  EXPECT_EQ(outcome.message, "no route");
}

// The portal helper's statuses: only its refusal is a missing permission.
TEST(MailServiceTest, PortalAnswersMapToOutcomes) {
  DraftRoute route;
  route.kind = DraftRoute::Kind::Portal;
  const testing_support::ScratchDirectory scratch;
  const std::string helper = scratch.path() + "/helper";
  const auto outcomeFor = [&](int status) {
    std::ofstream(helper) << "#!/bin/sh\nexit " << status << "\n";
    std::filesystem::permissions(helper, std::filesystem::perms::owner_all);
    return carryOut(route, kDraft, helper).errorNumber;
  };
  EXPECT_EQ(outcomeFor(kPortalOpened), 0);
  EXPECT_EQ(outcomeFor(kPortalAccessDenied), platform::scripting::kErrorPermissionDenied);
  EXPECT_EQ(outcomeFor(kPortalCancelled), kPortalCancelled);
  EXPECT_EQ(outcomeFor(kPortalFailed), kPortalFailed);
}

}  // namespace
}  // namespace platform::mail
