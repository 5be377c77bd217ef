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
  EXPECT_EQ(carryOut(startRoute({"/bin/true"}, Verdict::LaunchOnly), kDraft, "").errorNumber, 0);
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

// The helper's own answer is the outcome, read for the route's backend;
// only the portal's refusal is a missing permission.
TEST(MailServiceTest, PortalHelpersAnswerIsTheOutcome) {
  const testing_support::ScratchDirectory scratch;
  const std::string helper = scratch.path() + "/helper";
  const auto outcomeFor = [&](PortalBackend backend, const std::string& body) {
    std::ofstream(helper) << "#!/bin/sh\n" << body << "\n";
    std::filesystem::permissions(helper, std::filesystem::perms::owner_all);
    DraftRoute route;
    route.kind = DraftRoute::Kind::Portal;
    route.portalBackend = backend;
    return carryOut(route, kDraft, helper, std::chrono::milliseconds(200)).errorNumber;
  };
  EXPECT_EQ(outcomeFor(PortalBackend::Gtk, "exit 0"), 0);
  EXPECT_EQ(outcomeFor(PortalBackend::Kde, "exit 1"), 0);
  EXPECT_NE(outcomeFor(PortalBackend::Kde, "exit 0"), 0);
  EXPECT_EQ(outcomeFor(PortalBackend::Gtk, "exit 3"), platform::scripting::kErrorPermissionDenied);
  EXPECT_EQ(outcomeFor(PortalBackend::Gtk, "exit 5"), kPortalNoAnswer);
  // The deadline reaches the helper as its first argument.
  EXPECT_EQ(outcomeFor(PortalBackend::Gtk, "[ \"$1\" = 200 ] && [ \"$3\" = b ] && exit 0; exit 2"), 0);
  // A helper that outlives its deadline is ended, and is no draft.
  EXPECT_NE(outcomeFor(PortalBackend::Gtk, "exec sleep 30"), 0);
  EXPECT_NE(outcomeFor(PortalBackend::Gtk, "kill -SEGV $$"), 0);
}

}  // namespace
}  // namespace platform::mail
