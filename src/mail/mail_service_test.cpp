#include "mail/mail_service.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <tuple>

#include "mail/client_report.h"
#include "mail/helper_words.h"
#include "platform/error_numbers.h"
#include "platform/child_process.h"
#include "mail/run_program.h"
#include "testing/fifo.h"
#include "testing/report_peer.h"
#include "testing/scratch_directory.h"

namespace mail {
namespace {

using Words = std::vector<std::string>;

const Draft kDraft{"Support Request - Quorvel x", "b", "", ""};

DraftRoute startRoute(Words argv, Verdict verdict) {
  DraftRoute route;
  route.kind = DraftRoute::Kind::Start;
  route.argv = std::move(argv);
  route.verdict = verdict;
  return route;
}

ProgramRun ended(std::int64_t errorNumber) { return ProgramRun{errorNumber, "ended", {}}; }

// Starts nothing: records each command and answers a waited start with the
// next of `answers` (success once they run out). A program left to run
// (the terminal of a Watched route) runs on, and the client helper it was
// given says `helperSays` on the channel at once.
struct FakeLauncher {
  explicit FakeLauncher(std::vector<ProgramRun> answers = {}) : answers(std::move(answers)) {}

  std::vector<ProgramRun> answers;
  std::vector<Words> started;
  std::vector<std::pair<std::chrono::milliseconds, platform::AtDeadline>> waits;
  std::vector<std::string> inputs;
  std::string helperSays;
  platform::UniqueFd helper;
  // The client's grace: it ends when the test opens it, or once the helper
  // was accepted when graceEndsOnceAccepted; each grace asked for is noted.
  testing_support::GraceGate grace;
  bool graceEndsOnceAccepted = false;
  std::vector<std::chrono::milliseconds> graces;

  MailContext context() {
    MailContext context;
    context.portalHelper = "/b/helper";
    context.terminalHelper = "/b/terminal-helper";
    context.launch.run = [this](const Words& command, std::chrono::milliseconds wait,
                                platform::AtDeadline atDeadline, std::string_view input) {
      started.push_back(command);
      waits.emplace_back(wait, atDeadline);
      inputs.emplace_back(input);
      return started.size() <= answers.size() ? answers[started.size() - 1] : ProgramRun{};
    };
    context.launch.start = [this](const Words& command) {
      started.push_back(command);
      const auto at = std::find(command.begin(), command.end(), "/b/terminal-helper");
      if (at != command.end() && at + 1 != command.end()) helper = testing_support::connectedHelper(at[1], helperSays);
      if (graceEndsOnceAccepted && helper) grace.openOnceReadable(helper.get());
      return ProgramStart{};
    };
    context.launch.timer = [this](std::chrono::milliseconds span) {
      graces.push_back(span);
      return grace.copy();
    };
    return context;
  }
};

// Starts for real, with a short wait for a client's end.
MailContext shortGrace() {
  MailContext context;
  context.grace = std::chrono::milliseconds(100);
  context.launch = systemLauncher(platform::processEnvironment());
  return context;
}

// What the helper's end of the channel has been sent so far.
std::string heardBy(const platform::UniqueFd& helper) {
  std::string heard(4096, '\0');
  const ssize_t n = recv(helper.get(), heard.data(), heard.size(), MSG_DONTWAIT);
  heard.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  return heard;
}

// A started route's outcome, and what it starts in which order: a client's
// end is read by its verdict (a forwarder's 255 is an open draft only where
// the client's row says so; a crash never is). A running client held by a
// dialog of an earlier request does not answer the query in time: nothing
// is handed to it, since the draft would wait unseen behind that dialog;
// any other end of the query lets the start go ahead. A client that crashes
// when started cold with a draft is started alone first; its start alone
// failing hands nothing on. A refused route starts nothing and says why.
TEST(MailServiceTest, EachStartIsWaitedForAndReadByItsRoute) {
  const DraftRoute forwarder = startRoute({"geary", "uri"}, Verdict::ForwarderMayExit255);
  const DraftRoute plain = startRoute({"claws-mail", "uri"}, Verdict::ExitStatus);
  DraftRoute probed = plain;
  probed.busyProbe = {"claws-mail", "--status"};
  DraftRoute cold = startRoute({"balsa", "--compose=x"}, Verdict::ExitStatus);
  cold.startAloneFirst = {"balsa"};
  DraftRoute refused;
  refused.kind = DraftRoute::Kind::Refuse;
  refused.why = "no route";
  const Words geary = forwarder.argv, claws = plain.argv, probe = probed.busyProbe, balsa = cold.startAloneFirst;
  const Words compose = cold.argv;
  using platform::kErrorKilledBySignal, platform::kErrorProgramNotFound, platform::kErrorTimedOut;
  struct Case {
    const char* name;
    const DraftRoute& route;
    std::vector<ProgramRun> answers;
    std::int64_t error;
    std::vector<Words> started;
  };
  const Case cases[] = {
      {"forwarder's 255", forwarder, {ended(255)}, 0, {geary}},
      {"another's 255", plain, {ended(255)}, 255, {claws}},
      {"forwarder's 1", forwarder, {ended(1)}, 1, {geary}},
      {"forwarder crashed", forwarder, {ended(kErrorKilledBySignal)}, kErrorKilledBySignal, {geary}},
      {"no start", plain, {ended(platform::kErrorLaunchFailed)}, platform::kErrorLaunchFailed, {claws}},
      {"running", plain, {}, 0, {claws}},
      {"without a query a time-out is the start's", plain, {ended(kErrorTimedOut)}, kErrorTimedOut, {claws}},
      {"held by a dialog", probed, {ended(kErrorTimedOut)}, kErrorNoDraftRoute, {probe}},
      {"free", probed, {ended(0), ended(0)}, 0, {probe, claws}},
      {"query failed", probed, {ended(1), ended(0)}, 0, {probe, claws}},
      {"no query program", probed, {ended(kErrorProgramNotFound), ended(0)}, 0, {probe, claws}},
      {"free, then failed", probed, {ended(0), ended(2)}, 2, {probe, claws}},
      {"cold", cold, {ProgramRun{}, ended(0)}, 0, {balsa, compose}},
      {"the request crashed it", cold, {ProgramRun{}, ended(1)}, 1, {balsa, compose}},
      {"alone failed", cold, {ended(1)}, 1, {balsa}},
      {"alone crashed", cold, {ended(kErrorKilledBySignal)}, kErrorKilledBySignal, {balsa}},
      {"alone not found", cold, {ended(kErrorProgramNotFound)}, kErrorProgramNotFound, {balsa}},
      {"refused", refused, {ended(0)}, kErrorNoDraftRoute, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeLauncher fake{c.answers};
    MailContext context = fake.context();
    context.busyProbeTime = std::chrono::milliseconds(1234);
    const ServiceAnswer answer = carryOut(context, c.route, kDraft);
    EXPECT_EQ(answer.errorNumber, c.error) << answer.message;
    EXPECT_EQ(fake.started, c.started);
    if (c.route.kind == DraftRoute::Kind::Refuse) {
      EXPECT_EQ(answer.message, c.route.why);
    }
    // A query is ended at its bound, not left to answer later; each start
    // waits out the grace and is left running.
    ASSERT_EQ(fake.waits.size(), c.started.size());
    for (std::size_t i = 0; i < c.started.size(); ++i) {
      EXPECT_EQ(fake.waits[i], c.started[i] == probe
                                   ? std::make_pair(std::chrono::milliseconds(1234), platform::AtDeadline::End)
                                   : std::make_pair(kProgramGraceTime, platform::AtDeadline::LeaveRunning));
    }
  }
}

// The query's bound is real: a query that never answers is ended at it.
TEST(MailServiceTest, QueryThatNeverAnswersIsEndedAtItsBound) {
  testing_support::ScratchDirectory scratch;
  const std::string started = scratch.path() + "/client-started";
  DraftRoute route = startRoute({"/bin/sh", "-c", ": >\"$0\"", started}, Verdict::ExitStatus);
  route.busyProbe = {"/bin/sleep", "600"};
  MailContext context = shortGrace();
  context.busyProbeTime = std::chrono::milliseconds(50);
  EXPECT_EQ(carryOut(context, route, kDraft).errorNumber, kErrorNoDraftRoute);
  EXPECT_FALSE(std::filesystem::exists(started));
  route.busyProbe = {"/bin/true"};
  // Long enough for the start to end on its own, whatever the load.
  context.grace = std::chrono::minutes(1);
  EXPECT_EQ(carryOut(context, route, kDraft).errorNumber, 0);
  EXPECT_TRUE(std::filesystem::exists(started));
}

// A client started cold stays in the foreground: after the grace time the
// draft counts as opened and the job goes on, and the client holds nothing
// of the job's own output streams (a host reading them to their end would
// wait for the client otherwise).
TEST(MailServiceTest, ClientLeftInTheForegroundCountsAsOpenedAndHoldsNoOutputOfOurs) {
  const testing_support::ScratchDirectory scratch;
  // The client says its id only to a reader of the pipe, which comes once
  // the route has returned.
  const std::string pidPipe = scratch.path() + "/pid";
  testing_support::makeFifo(pidPipe);
  const DraftRoute route = startRoute(
      {"/bin/sh", "-c", "echo noise; echo noise >&2; echo $$ > \"$0\"; exec sleep 30", pidPipe}, Verdict::ExitStatus);

  int ends[2];
  ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
  const int savedOut = dup(STDOUT_FILENO);
  const int savedErr = dup(STDERR_FILENO);
  ASSERT_GE(savedOut, 0);
  ASSERT_GE(savedErr, 0);
  dup2(ends[1], STDOUT_FILENO);
  dup2(ends[1], STDERR_FILENO);
  const ServiceAnswer outcome = carryOut(shortGrace(), route, kDraft);
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
  const pid_t pid = static_cast<pid_t>(std::atol(testing_support::readFifo(pidPipe).c_str()));
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
  const ServiceAnswer outcome = carryOut(shortGrace(), startRoute({client}, Verdict::ExitStatus), kDraft);
  EXPECT_NE(outcome.errorNumber, 0);
  EXPECT_NE(outcome.errorNumber, platform::kErrorPermissionDenied);
}

// A route whose client reads the texts from a file has them written there
// before its start: exactly its bytes, mode 0600, replacing what stood
// under the name (a link is replaced, never followed). With no place for
// the file nothing is started.
TEST(MailServiceTest, TextsFileIsWrittenPrivatelyBeforeTheClientStarts) {
  const testing_support::ScratchDirectory scratch;
  const std::string outside = scratch.path() + "/outside";
  std::ofstream(outside) << "not to be touched";
  const std::string job = scratch.path() + "/job";
  std::filesystem::create_directory(job);
  std::filesystem::create_symlink(outside, job + "/draft.txt");
  const auto directory = platform::Directory::openWithoutLinks(job);
  ASSERT_TRUE(directory);
  const std::string bytes = "Subject: x\n\n" + std::string(9000, 'b') + "\xE6\x97\xA5\r\n";

  for (const DraftRoute::Kind kind : {DraftRoute::Kind::Start, DraftRoute::Kind::Watched}) {
    DraftRoute route = startRoute({"neomutt", "-H", job + "/draft.txt"}, Verdict::ExitStatus);
    route.kind = kind;
    if (kind == DraftRoute::Kind::Watched) route.launcher = {"x-terminal-emulator", "-e"};
    route.textsFileBytes = bytes;
    FakeLauncher fake;
    fake.helperSays = "started\n";
    fake.graceEndsOnceAccepted = true;
    MailContext context = fake.context();
    const testing_support::ScratchDirectory runtime;
    ::chmod(runtime.path().c_str(), 0700);
    context.runtimeDirectory = runtime.path();
    context.textsFile = platform::childOf(*directory, "draft.txt");
    std::string seenAtStart;
    const auto read = [&] {
      std::ifstream in(job + "/draft.txt", std::ios::binary);
      seenAtStart.assign(std::istreambuf_iterator<char>(in), {});
    };
    const auto run = context.launch.run;
    context.launch.run = [&](const Words& command, std::chrono::milliseconds wait, platform::AtDeadline at,
                             std::string_view input) {
      read();
      return run(command, wait, at, input);
    };
    const auto start = context.launch.start;
    context.launch.start = [&](const Words& command) {
      read();
      return start(command);
    };
    EXPECT_EQ(carryOut(context, route, kDraft).errorNumber, 0);
    EXPECT_EQ(seenAtStart, bytes);
    struct stat file {};
    ASSERT_EQ(::lstat((job + "/draft.txt").c_str(), &file), 0);
    EXPECT_TRUE(S_ISREG(file.st_mode));
    EXPECT_EQ(file.st_mode & 07777, 0600U);

    context.textsFile = {};
    fake.started.clear();
    EXPECT_NE(carryOut(context, route, kDraft).errorNumber, 0);
    EXPECT_TRUE(fake.started.empty());
  }
  std::ifstream in(outside);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "not to be touched");
}

// The portal helper gets the deadline and the time its backend's Response
// is awaited in its arguments, and the recipient, the texts and the log on
// its standard input, never in its arguments; its own answer is the
// outcome, read for the route's backend, and only the portal's refusal is
// a missing permission.
TEST(MailServiceTest, PortalHelpersAnswerIsTheOutcome) {
  DraftRoute route;
  route.kind = DraftRoute::Kind::Portal;
  route.portalBackend = PortalBackend::Kde;
  FakeLauncher fake{{ended(kPortalResponse1)}};
  const Draft draft{"Support Request - Quorvel x", "b", "/j/log.txt", "help+desk@example.org"};
  MailContext context = fake.context();
  context.portalDeadline = std::chrono::milliseconds(20000);
  EXPECT_EQ(carryOut(context, route, draft).errorNumber, 0);
  // A KDE backend's silence is a running client once the direct routes'
  // grace has passed; the GTK backend's chooser has the whole deadline.
  EXPECT_EQ(fake.started, (std::vector<Words>{{"/b/helper", "20000", std::to_string(kKdeResponseTime.count())}}));
  ASSERT_EQ(fake.inputs.size(), 1u);
  EXPECT_EQ(unpackWords(fake.inputs[0], 4),
            (Words{"help+desk@example.org", "Support Request - Quorvel x", "b", "/j/log.txt"}));
  EXPECT_LE(kKdeResponseTime, kProgramGraceTime);
  route.portalBackend = PortalBackend::Gtk;
  FakeLauncher gtk;
  MailContext gtkContext = gtk.context();
  gtkContext.portalDeadline = std::chrono::milliseconds(20000);
  EXPECT_EQ(carryOut(gtkContext, route, kDraft).errorNumber, 0);
  EXPECT_EQ(gtk.started, (std::vector<Words>{{"/b/helper", "20000", "20000"}}));
  EXPECT_EQ(unpackWords(gtk.inputs[0], 4), (Words{"", kDraft.subject, kDraft.body, ""}));

  const auto outcomeFor = [&](PortalBackend backend, const ProgramRun& answer) {
    route.portalBackend = backend;
    FakeLauncher helper{{answer}};
    return carryOut(helper.context(), route, kDraft).errorNumber;
  };
  EXPECT_EQ(outcomeFor(PortalBackend::Gtk, ended(kPortalResponse0)), 0);
  EXPECT_NE(outcomeFor(PortalBackend::Kde, ended(kPortalResponse0)), 0);
  EXPECT_EQ(outcomeFor(PortalBackend::Gtk, ended(kPortalResponse1)), kPortalResponse1);
  EXPECT_EQ(outcomeFor(PortalBackend::Gtk, ended(kPortalAccessDenied)), platform::kErrorPermissionDenied);
  EXPECT_EQ(outcomeFor(PortalBackend::Kde, ended(kPortalAccessDenied)), platform::kErrorPermissionDenied);
  // A backend not known is read as the GTK one.
  EXPECT_EQ(outcomeFor(PortalBackend::Unknown, ended(kPortalResponse1)), kPortalResponse1);
  EXPECT_EQ(outcomeFor(PortalBackend::Unknown, ended(kPortalResponse0)), 0);
  EXPECT_EQ(outcomeFor(PortalBackend::Gtk, ended(kPortalNoAnswer)), kPortalNoAnswer);
  EXPECT_EQ(outcomeFor(PortalBackend::Kde, ended(kPortalNoAnswer)), kPortalNoAnswer);
  // The KDE backend answers when the client it started ends.
  EXPECT_EQ(outcomeFor(PortalBackend::Kde, ended(kPortalNoResponse)), 0);
  EXPECT_EQ(outcomeFor(PortalBackend::Gtk, ended(kPortalNoResponse)), kPortalNoResponse);
  EXPECT_EQ(outcomeFor(PortalBackend::Gtk, ended(platform::kErrorLaunchFailed)), platform::kErrorLaunchFailed);
  EXPECT_EQ(outcomeFor(PortalBackend::Kde, ended(platform::kErrorKilledBySignal)), platform::kErrorKilledBySignal);
}

// A helper that outlives its deadline is ended at the backstop, and is no
// draft, whatever the backend would have answered (a client is left
// running at the end of its grace instead: EachStartIsWaitedFor...).
TEST(MailServiceTest, PortalHelperThatOutlivesItsDeadlineIsNoDraft) {
  DraftRoute route;
  route.kind = DraftRoute::Kind::Portal;
  route.portalBackend = PortalBackend::Kde;
  const std::chrono::milliseconds deadline(100);
  FakeLauncher endedAtBackstop{{ended(platform::kErrorTimedOut)}};
  MailContext context = endedAtBackstop.context();
  context.portalDeadline = deadline;
  EXPECT_NE(carryOut(context, route, kDraft).errorNumber, 0);
  ASSERT_EQ(endedAtBackstop.waits.size(), 1u);
  EXPECT_EQ(endedAtBackstop.waits[0].first, portalBackstop(deadline));
  EXPECT_EQ(endedAtBackstop.waits[0].second, platform::AtDeadline::End);
}

// A Watched route starts the launcher with the helper and the channel's
// address, and hands the helper the client's command through the channel,
// never in a command line; the helper's report of the client's end is the
// outcome, read by the route's verdict. Every report here is final, so the
// grace never ends; a client still running at its end is an open draft.
TEST(MailServiceTest, WatchedClientsReportIsTheOutcome) {
  const testing_support::ScratchDirectory runtime;
  ASSERT_EQ(chmod(runtime.path().c_str(), 0700), 0);
  DraftRoute route = startRoute({"neomutt", "uri"}, Verdict::ExitStatus);
  route.kind = DraftRoute::Kind::Watched;
  route.launcher = {"terminal", "-e"};
  const std::vector<std::tuple<std::string, Verdict, std::int64_t>> cases = {
      {"started\nexit 0\n", Verdict::ExitStatus, 0},
      {"started\nexit 255\n", Verdict::ForwarderMayExit255, 0},
      {"started\nexit 255\n", Verdict::ExitStatus, 255},
      {"started\nsignal 11\n", Verdict::ExitStatus, platform::kErrorKilledBySignal},
      {"unstartable\n", Verdict::ExitStatus, platform::kErrorLaunchFailed},
  };
  for (const auto& [lines, verdict, expected] : cases) {
    SCOPED_TRACE(lines);
    FakeLauncher fake;
    fake.helperSays = lines;
    MailContext context = fake.context();
    context.runtimeDirectory = runtime.path();
    context.grace = std::chrono::minutes(10);
    route.verdict = verdict;
    EXPECT_EQ(carryOut(context, route, kDraft).errorNumber, expected);
    EXPECT_EQ(fake.graces, std::vector<std::chrono::milliseconds>{context.grace}) << "the context's grace";
    ASSERT_EQ(fake.started.size(), 1u);
    ASSERT_EQ(fake.started[0].size(), 4u);
    EXPECT_EQ(Words(fake.started[0].begin(), fake.started[0].begin() + 3),
              (Words{"terminal", "-e", "/b/terminal-helper"}));
    EXPECT_EQ(std::filesystem::path(fake.started[0][3]).parent_path().parent_path(), runtime.path());
    EXPECT_EQ(heardBy(fake.helper), *goAheadMessage(route.argv)) << "the helper was not handed the client's command";
    EXPECT_TRUE(std::filesystem::is_empty(runtime.path())) << "the channel was left behind";
  }

  // Started, and the grace ends once the helper was accepted: an open
  // draft, and the helper is told to leave the client running.
  FakeLauncher running;
  running.helperSays = "started\n";
  running.graceEndsOnceAccepted = true;
  MailContext runningContext = running.context();
  runningContext.runtimeDirectory = runtime.path();
  route.verdict = Verdict::ExitStatus;
  EXPECT_EQ(carryOut(runningContext, route, kDraft).errorNumber, 0);
  running.grace.join();
  EXPECT_EQ(heardBy(running.helper), *goAheadMessage(route.argv) + kKeep);

  // A launcher that cannot start is the outcome; without a private
  // runtime directory, or without a timer for the grace, nothing starts.
  FakeLauncher unstartable;
  MailContext context = unstartable.context();
  context.runtimeDirectory = runtime.path();
  context.launch.start = [](const Words&) { return ProgramStart{platform::kErrorProgramNotFound, "no", {}}; };
  EXPECT_EQ(carryOut(context, route, kDraft).errorNumber, platform::kErrorProgramNotFound);
  FakeLauncher noChannel;
  EXPECT_EQ(carryOut(noChannel.context(), route, kDraft).errorNumber, kErrorNoDraftRoute);
  EXPECT_TRUE(noChannel.started.empty());
  FakeLauncher noTimer;
  MailContext noTimerContext = noTimer.context();
  noTimerContext.runtimeDirectory = runtime.path();
  noTimerContext.launch.timer = [](std::chrono::milliseconds) { return platform::UniqueFd(); };
  EXPECT_NE(carryOut(noTimerContext, route, kDraft).errorNumber, 0);
  EXPECT_TRUE(noTimer.started.empty());
  EXPECT_TRUE(std::filesystem::is_empty(runtime.path())) << "the channel was left behind";
}

// A recipient that is not one plain address, or a subject that is not one
// header line, is refused before any fact is gathered or anything started,
// whatever route the facts would choose.
TEST(MailServiceTest, HostileRecipientOrSubjectStartsNothing) {
  for (const auto& [recipient, subject, error] : std::vector<std::tuple<std::string, std::string, std::int64_t>>{
           {"a@example.org,b@example.org", kDraft.subject, kErrorBadRecipient},
           {"a@example.org?cc=b@example.org", kDraft.subject, kErrorBadRecipient},
           {"<a@x.org>", kDraft.subject, kErrorBadRecipient},
           {"", "Support Request - Quorvel x\nBcc: evil@example.org", kErrorSubjectNotOneLine},
           {"", "Support Request - Quorvel x\r", kErrorSubjectNotOneLine},
           {"", "Support Request - Quorvel x\xE2\x80\xA8" "Bcc: e@example.org", kErrorSubjectNotOneLine}}) {
    SCOPED_TRACE(recipient + " | " + subject);
    FakeLauncher fake;
    EXPECT_EQ(openDraft(fake.context(), Draft{subject, kDraft.body, "", recipient}).errorNumber, error);
    EXPECT_TRUE(fake.started.empty());
  }
}

}  // namespace
}  // namespace mail
