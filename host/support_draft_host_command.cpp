// support-draft-host: the host library as a command, for hosts in other
// languages. Prepares one job for the bundle (its tool directory and
// subject prefix), runs the program
// for it and prints the outcome as one JSON line; or reads the result of an
// earlier job, or prunes old jobs, or makes an application's own bundle
// from the installed kit. `--help` lists the options.
//
// Exit status: one per outcome, so that a script can act on it without
// reading the line (see exitStatusOf and the manual page); 0 also when the
// jobs were pruned or the bundle made; 2 for a usage error (with a message
// on standard error and nothing on standard output).
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>

#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "bundle_making.h"
#include "host_command_options.h"
#include "platform/file_io.h"
#include "support_draft_host.hpp"

namespace {

namespace host = support_draft;
using host_command::Options;
using host_command::parseOptions;
using host_command::wholeNumber;

// The exit statuses. 0 and 2 keep the meaning they always had; 1 is what
// a failed draft has always been.
constexpr int kOpened = 0;  // also: pruned, --help, --version
constexpr int kFailed = 1;
constexpr int kUsageError = 2;
constexpr int kRefused = 3;
constexpr int kPermissionDenied = 4;
constexpr int kNoResult = 5;
constexpr int kTimedOut = 6;
constexpr int kRunning = 7;
constexpr int kCancelled = 8;
// A body file larger than this is not read at all; the library names the
// limit that a smaller one breaks.
constexpr std::size_t kMaxInputFile = 1 << 20;
constexpr int kDefaultTimeBoundSeconds = 30;
constexpr long kSecondsPerDay = 86400;

constexpr const char* kUsage =
    "usage: support-draft-host --bundle PATH --subject TEXT (--body TEXT | --body-file FILE)\n"
    "                          [--log FILE | --log-tail FILE] [--remove] [--time-bound SECONDS]\n"
    "                          [--one-at-a-time]\n"
    "       support-draft-host --result JOB_DIRECTORY [--remove]\n"
    "       support-draft-host --bundle PATH --prune DAYS\n"
    "       support-draft-host --bundle PATH --route [--log]\n"
    "       support-draft-host --make-bundle DIRECTORY --name NAME --identifier ID --channel dev|prod\n"
    "                          [--subject-prefix TEXT] [--tool-directory NAME] [--recipient ADDRESS]\n"
    "                          [--from KIT_BUNDLE] [--check-only]\n"
    "       support-draft-host --help | --version\n";

constexpr const char* kHelp =
    "\n"
    "Prepares a support-draft job for the bundle (its tool directory and subject\n"
    "prefix), runs the bundle's program for it and prints the outcome as one JSON line.\n"
    "\n"
    "  --bundle PATH           the bundle to run: SupportDraft.app or an application's own\n"
    "  --subject TEXT          the subject; begins with the bundle's subject prefix\n"
    "                          (by default \"Support Request - Quorvel \")\n"
    "  --body TEXT             the body\n"
    "  --body-file FILE        the body, from FILE or a pipe (\"-\": standard input)\n"
    "  --log FILE              attach FILE as the log (at most 24576 bytes)\n"
    "  --log-tail FILE         attach the newest lines of FILE, up to 24576 bytes\n"
    "  --remove                remove the job directory after the run\n"
    "  --time-bound SECONDS    wait at most this long for the program (default 30)\n"
    "  --one-at-a-time         refuse (jobRunning) while another job of the bundle runs\n"
    "  --result JOB_DIRECTORY  print the outcome an earlier job left\n"
    "  --prune DAYS            remove the bundle's finished jobs older than DAYS\n"
    "  --route [--log]         print the route a job (with a log: --log) would take now:\n"
    "                          the way to the mail client, whether a log reaches it, and\n"
    "                          whether an \"opened\" is checked or only a start\n"
    "  --make-bundle DIRECTORY make DIRECTORY/NAME.app from the installed kit, with the\n"
    "                          name, identifier, channel and, when given, the subject\n"
    "                          prefix, tool directory and support address of --name,\n"
    "                          --identifier, --channel, --subject-prefix, --tool-directory\n"
    "                          and --recipient; --from takes the program from another kit\n"
    "                          bundle; --check-only checks everything and writes nothing\n"
    "  --help, --version       print this help or the version\n"
    "\n"
    "SIGINT or SIGTERM while the program runs cancels it (a draft already shown stays).\n"
    "\n"
    "Exit status: 0 opened (or pruned, or made, or a route), 1 failed (or no route),\n"
    "2 usage error, 3 refused, 4 permissionDenied, 5 noResult, 6 timedOut, 7 running,\n"
    "8 cancelled.\n"
    "See support-draft-host(1).\n";

struct Refusal {
  std::string reason;
  host::Reason code = SUPPORT_DRAFT_REASON_NONE;
};

// Reads a pipe to its end, refusing one that holds more than the limit.
std::optional<std::string> readStream(const platform::UniqueFd& input) {
  if (!input) return std::nullopt;
  auto bytes = platform::readAtMost(input, kMaxInputFile + 1);
  if (!bytes || bytes->size() > kMaxInputFile) return std::nullopt;
  return bytes;
}

// The body from a file, from standard input for "-", or from a pipe named
// by path (/dev/stdin, a shell's <(...), a FIFO): a pipe is read to its end
// within the same limit, a regular file keeps its checks, anything else (a
// directory, a device) is refused.
std::optional<std::string> readBody(const std::string& path) {
  if (path == "-") return readStream(platform::UniqueFd(::dup(STDIN_FILENO)));
  struct stat named {};
  if (::stat(path.c_str(), &named) != 0) return std::nullopt;
  if (!S_ISFIFO(named.st_mode)) return platform::readWholeFile(path, kMaxInputFile);
  // Opened blocking, as any reader of a FIFO does: a named one waits for its
  // writer here rather than reading nothing.
  platform::UniqueFd fifo(::open(path.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC));
  struct stat opened {};
  if (!fifo || ::fstat(fifo.get(), &opened) != 0 || !S_ISFIFO(opened.st_mode)) return std::nullopt;
  return readStream(fifo);
}

int exitStatusOf(host::Outcome outcome) {
  // In the order of the outcomes' values.
  static constexpr int kStatuses[] = {kOpened, kPermissionDenied, kFailed, kNoResult, kTimedOut, kRunning, kCancelled};
  static_assert(std::size(kStatuses) == SUPPORT_DRAFT_OUTCOME_CANCELLED + 1);
  const auto index = static_cast<std::size_t>(outcome);
  return index < std::size(kStatuses) ? kStatuses[index] : kNoResult;
}

int printLine(const nlohmann::json& line, int status) {
  // The sentences may quote a path the host gave that is not UTF-8.
  std::cout << line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n' << std::flush;
  return status;
}

int refuse(const Refusal& refusal) {
  return printLine(
      {{"outcome", "refused"}, {"reason", refusal.reason}, {"reasonCode", host::reasonCode(refusal.code)}}, kRefused);
}

// The outcome line of a job, removing the job when asked and no program
// runs for it any more. Asked to remove, the line always says whether the
// directory is gone: a job a program still runs for stays, and says so.
// `log`, for a failed job that asked for a log: whether the route could
// carry it (host::LogCarriage's names).
int reportJob(const host::PreparedJob& job, const host::RunReport& report, bool remove,
              const std::optional<std::string>& log = std::nullopt) {
  nlohmann::json line = {
      {"outcome", host::outcomeName(report.outcome)}, {"jobId", job.id}, {"jobDirectory", job.directory}};
  if (!report.explanation.empty()) line["explanation"] = report.explanation;
  if (log) line["log"] = *log;
  if (remove) {
    const bool programRuns = report.outcome == host::Outcome::timedOut || report.outcome == host::Outcome::running;
    line["removed"] = !programRuns && host::removeJob(job);
  }
  return printLine(line, exitStatusOf(report.outcome));
}

int collect(const Options& options) {
  const host::Preparation named = host::jobAt(options.values.at("--result"));
  if (!named.job) return refuse({named.refusal, named.reason});
  return reportJob(*named.job, host::collectResult(*named.job), options.remove);
}

int prune(const Options& options) {
  const long days = *wholeNumber(options.values.at("--prune"), 5, 0);
  const host::Pruning pruning =
      host::pruneBundleJobs(options.values.at("--bundle"), "", std::chrono::seconds(days * kSecondsPerDay));
  if (pruning.reason != SUPPORT_DRAFT_REASON_NONE) return refuse({pruning.refusal, pruning.reason});
  return printLine({{"outcome", "pruned"}, {"removed", pruning.removed}}, kOpened);
}

std::optional<std::string> optionalValue(const Options& options, const std::string& option) {
  return options.has(option) ? std::optional<std::string>(options.values.at(option)) : std::nullopt;
}

int makeBundle(const Options& options) {
  namespace side = support_draft::host_side;
  side::BundleSpec spec;
  spec.name = options.values.at("--name");
  spec.identifier = options.values.at("--identifier");
  spec.channel = options.values.at("--channel");
  spec.subjectPrefix = optionalValue(options, "--subject-prefix");
  spec.toolDirectory = optionalValue(options, "--tool-directory");
  spec.recipient = optionalValue(options, "--recipient");
  auto kit = optionalValue(options, "--from");
  if (!kit) kit = side::installedKitBundle(SUPPORT_DRAFT_KIT_BUNDLE_FROM_BINARY);
  if (!kit) {
    return refuse({"the kit's bundle is not installed beside this command (" SUPPORT_DRAFT_KIT_BUNDLE_FROM_BINARY
                   "); name one with --from",
                   SUPPORT_DRAFT_REASON_BUNDLE_MISSING});
  }
  const side::BundleMaking making =
      side::makeBundle(options.values.at("--make-bundle"), spec, *kit, options.checkOnly);
  // The library's reasons share their numbers with the C API.
  if (!making.bundle) return refuse({making.refusal, static_cast<host::Reason>(making.reason)});
  return printLine({{"outcome", options.checkOnly ? "checked" : "made"}, {"bundle", *making.bundle}}, kOpened);
}

int route(const Options& options) {
  const host::RouteQuery query = host::route(options.values.at("--bundle"), "", options.routeWithLog);
  if (!query.answer) return refuse({query.refusal, query.reason});
  std::cout << query.answer->json << '\n' << std::flush;
  return query.answer->way == host::RouteWay::none ? kFailed : kOpened;
}

// The write end of the pipe SIGINT and SIGTERM are told on while a run
// goes on.
int signalWriter = -1;

void tellSignal(int) {
  const int saved = errno;
  const char signalled = 1;
  [[maybe_unused]] const ssize_t written = ::write(signalWriter, &signalled, 1);
  errno = saved;
}

// SIGINT and SIGTERM told on a pipe while this lives. Their former handling
// comes back before the pipe closes, so that a signal after the run never
// writes to a descriptor number handed out again since.
class ToldSignals {
 public:
  // False, errno set, when the pipe or a handler could not be set up.
  bool start() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    reader_.reset(ends[0]);
    writer_.reset(ends[1]);
    signalWriter = writer_.get();
    struct sigaction told {};
    told.sa_handler = tellSignal;
    told.sa_flags = SA_RESTART;
    sigemptyset(&told.sa_mask);
    for (; installed_ < kSignals.size(); ++installed_) {
      if (::sigaction(kSignals[installed_], &told, &former_[installed_]) != 0) return false;
    }
    return true;
  }
  ~ToldSignals() {
    // Cannot fail: the handling was read from these very signals.
    for (std::size_t i = 0; i < installed_; ++i) ::sigaction(kSignals[i], &former_[i], nullptr);
    signalWriter = -1;
  }
  int reader() const { return reader_.get(); }

 private:
  static constexpr std::array<int, 2> kSignals = {SIGINT, SIGTERM};
  platform::UniqueFd reader_;
  platform::UniqueFd writer_;
  std::array<struct sigaction, 2> former_{};
  std::size_t installed_ = 0;
};

// Runs the job and waits for it at most `timeBound`; SIGINT or SIGTERM
// meanwhile cancels the run. The start's refusal, when there is one, is in
// `refusal`.
host::RunReport runCancellable(const std::string& bundle, const host::PreparedJob& job, bool oneAtATime,
                               std::chrono::seconds timeBound, std::optional<Refusal>& refusal) {
  ToldSignals signals;
  if (!signals.start()) {
    return {host::Outcome::noResult, "not run: the signals cannot be told on a pipe: " + std::to_string(errno)};
  }

  host::Start start = host::startJob(bundle, job, {oneAtATime});
  if (!start.run) {
    if (start.reason == SUPPORT_DRAFT_REASON_JOB_RUNNING) refusal = Refusal{start.refusal, start.reason};
    return {host::Outcome::noResult, "not run: " + start.refusal};
  }
  const auto deadline = std::chrono::steady_clock::now() + timeBound;
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd watched[2] = {{start.run.descriptor(), POLLIN, 0}, {signals.reader(), POLLIN, 0}};
    const int ready = ::poll(watched, 2, static_cast<int>(std::clamp<long long>(left.count(), 0, 60'000)));
    if (ready < 0 && errno != EINTR) break;
    if (watched[1].revents != 0) return host::cancelJob(start.run);
    host::RunReport report = host::pollJob(start.run);
    if (report.outcome != host::Outcome::running) return report;
    if (std::chrono::steady_clock::now() >= deadline) {
      report.outcome = host::Outcome::timedOut;
      return report;
    }
  }
  host::RunReport report = host::pollJob(start.run);
  if (report.outcome == host::Outcome::running) report.outcome = host::Outcome::timedOut;
  return report;
}

int runOne(const Options& options) {
  const auto& values = options.values;
  const std::string& bundle = values.at("--bundle");
  host::DraftRequest request;
  request.subject = values.at("--subject");
  if (options.has("--body")) {
    request.body = values.at("--body");
  } else {
    const auto body = readBody(values.at("--body-file"));
    if (!body) {
      return refuse({"the body file cannot be read (or holds over 1 MiB): " + values.at("--body-file"),
                     SUPPORT_DRAFT_REASON_BODY_FILE_UNREADABLE});
    }
    request.body = *body;
  }
  if (options.has("--log") || options.has("--log-tail")) {
    const bool tail = options.has("--log-tail");
    host::LogReading log = host::readLog(values.at(tail ? "--log-tail" : "--log"), tail);
    if (!log.log) return refuse({log.refusal, log.reason});
    request.log = std::move(log.log);
  }
  const host::Preparation preparation = host::prepareBundleJob(bundle, "", request);
  if (!preparation.job) return refuse({preparation.refusal, preparation.reason});
  const long seconds = options.has("--time-bound") ? std::stol(values.at("--time-bound")) : kDefaultTimeBoundSeconds;
  std::optional<Refusal> refusal;
  const host::RunReport report =
      runCancellable(bundle, *preparation.job, options.oneAtATime, std::chrono::seconds(seconds), refusal);
  if (refusal) {
    // The job was made for this run only, and never ran.
    host::removeJob(*preparation.job);
    return refuse(*refusal);
  }
  // A failed job with a log: whether its route could not carry the log,
  // asked of the same code before the job may be removed.
  std::optional<std::string> log;
  if (report.outcome == host::Outcome::failed && request.log) {
    if (const host::RouteQuery query = host::jobRoute(bundle, *preparation.job); query.answer) {
      log = host::logCarriageName(query.answer->log);
    }
  }
  return reportJob(*preparation.job, report, options.remove, log);
}

}  // namespace

int main(int argc, char** argv) {
  std::string error;
  const auto options = parseOptions(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc), error);
  if (!options) {
    std::cerr << "support-draft-host: " << error << '\n' << kUsage;
    return kUsageError;
  }
  if (options->help) {
    std::cout << kUsage << kHelp << std::flush;
    return std::cout ? kOpened : kUsageError;
  }
  if (options->version) {
    std::cout << "support-draft-host " SUPPORT_DRAFT_VERSION "\n" << std::flush;
    return std::cout ? kOpened : kUsageError;
  }
  if (options->has("--result")) return collect(*options);
  if (options->has("--prune")) return prune(*options);
  if (options->route) return route(*options);
  if (options->has("--make-bundle")) return makeBundle(*options);
  return runOne(*options);
}
