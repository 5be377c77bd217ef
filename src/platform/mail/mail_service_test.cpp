#include "platform/mail/mail_service.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

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

// A client started cold stays in the foreground: after the grace time the
// draft counts as opened and the job goes on, and the client holds nothing
// of the job's own output streams (a host reading them to their end would
// wait for the client otherwise).
TEST(MailServiceTest, ClientLeftInTheForegroundCountsAsOpenedAndHoldsNoOutputOfOurs) {
  const testing_support::ScratchDirectory scratch;
  const std::string pidFile = scratch.path() + "/pid";
  const DraftRoute route = startRoute(
      {"/bin/sh", "-c", "echo noise; echo noise >&2; echo $$ > \"$0\"; exec sleep 30", pidFile}, Verdict::ExitStatus);

  int ends[2];
  ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
  const int savedOut = dup(STDOUT_FILENO);
  const int savedErr = dup(STDERR_FILENO);
  ASSERT_GE(savedOut, 0);
  ASSERT_GE(savedErr, 0);
  dup2(ends[1], STDOUT_FILENO);
  dup2(ends[1], STDERR_FILENO);
  const DraftOutcome outcome = carryOut(route, kDraft, "", std::chrono::milliseconds(100));
  dup2(savedOut, STDOUT_FILENO);
  dup2(savedErr, STDERR_FILENO);
  close(savedOut);
  close(savedErr);
  close(ends[1]);

  EXPECT_EQ(outcome.errorNumber, 0) << outcome.message;
  // The pipe's last writer is gone at once unless the client holds it.
  pollfd entry{ends[0], POLLIN, 0};
  EXPECT_EQ(poll(&entry, 1, 0), 1) << "the client holds this process's output";
  char byte = 0;
  EXPECT_EQ(read(ends[0], &byte, 1), 0) << "the client wrote to this process's output";
  close(ends[0]);

  // The client was started and is still running: end it.
  pid_t pid = 0;
  for (const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
       pid <= 0 && std::chrono::steady_clock::now() < giveUp;
       std::this_thread::sleep_for(std::chrono::milliseconds(5))) {
    std::ifstream(pidFile) >> pid;
  }
  ASSERT_GT(pid, 0) << "the client was not started";
  EXPECT_EQ(kill(pid, SIGKILL), 0) << "the client was not left running";
  waitpid(pid, nullptr, 0);
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
    return carryOut(route, kDraft, helper, platform::kProgramGraceTime, std::chrono::milliseconds(200)).errorNumber;
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
