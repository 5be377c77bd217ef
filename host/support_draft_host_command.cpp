// support-draft-host: the host library as a command, for hosts in other
// languages. Prepares one job for the bundle (its tool directory and
// subject prefix), runs the program
// for it and prints the outcome as one JSON line; or reads the result of an
// earlier job, or prunes old jobs, or makes an application's own bundle
// from the installed kit. `--help` lists the options.
//
// Exit status: 0 when the draft was opened (or the jobs were pruned, the
// bundle made, or --help or --version was asked for), 1 for any other outcome, 2 for a
// usage error (with a message on standard error and nothing on standard
// output).
#include <unistd.h>

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

constexpr int kOpened = 0;
constexpr int kOtherOutcome = 1;
constexpr int kUsageError = 2;
// A body file larger than this is not read at all; the library names the
// limit that a smaller one breaks.
constexpr std::size_t kMaxInputFile = 1 << 20;
constexpr int kDefaultTimeBoundSeconds = 30;
constexpr long kSecondsPerDay = 86400;

constexpr const char* kUsage =
    "usage: support-draft-host --bundle PATH --subject TEXT (--body TEXT | --body-file FILE)\n"
    "                          [--log FILE | --log-tail FILE] [--remove] [--time-bound SECONDS]\n"
    "       support-draft-host --result JOB_DIRECTORY [--remove]\n"
    "       support-draft-host --bundle PATH --prune DAYS\n"
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
    "  --body-file FILE        the body, read from FILE (\"-\": standard input)\n"
    "  --log FILE              attach FILE as the log (at most 24576 bytes)\n"
    "  --log-tail FILE         attach the newest lines of FILE, up to 24576 bytes\n"
    "  --remove                remove the job directory after the run\n"
    "  --time-bound SECONDS    wait at most this long for the program (default 30)\n"
    "  --result JOB_DIRECTORY  print the outcome an earlier job left\n"
    "  --prune DAYS            remove the bundle's finished jobs older than DAYS\n"
    "  --make-bundle DIRECTORY make DIRECTORY/NAME.app from the installed kit, with the\n"
    "                          name, identifier, channel and, when given, the subject\n"
    "                          prefix, tool directory and support address of --name,\n"
    "                          --identifier, --channel, --subject-prefix, --tool-directory\n"
    "                          and --recipient; --from takes the program from another kit\n"
    "                          bundle; --check-only checks everything and writes nothing\n"
    "  --help, --version       print this help or the version\n"
    "\n"
    "Exit status: 0 opened (or pruned, or made), 1 any other outcome, 2 usage error.\n"
    "See support-draft-host(1).\n";

struct Refusal {
  std::string reason;
  host::Reason code = SUPPORT_DRAFT_REASON_NONE;
};

// The body from a file, or from standard input for "-".
std::optional<std::string> readBody(const std::string& path) {
  if (path != "-") return platform::readWholeFile(path, kMaxInputFile);
  const platform::UniqueFd input(::dup(STDIN_FILENO));
  if (!input) return std::nullopt;
  auto bytes = platform::readAtMost(input, kMaxInputFile + 1);
  if (!bytes || bytes->size() > kMaxInputFile) return std::nullopt;
  return bytes;
}

int printLine(const nlohmann::json& line, bool success) {
  // The sentences may quote a path the host gave that is not UTF-8.
  std::cout << line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n' << std::flush;
  return success ? kOpened : kOtherOutcome;
}

int refuse(const Refusal& refusal) {
  return printLine(
      {{"outcome", "refused"}, {"reason", refusal.reason}, {"reasonCode", host::reasonCode(refusal.code)}}, false);
}

// The outcome line of a job, removing the job when asked and no program
// runs for it any more.
int reportJob(const host::PreparedJob& job, const host::RunReport& report, bool remove) {
  nlohmann::json line = {
      {"outcome", host::outcomeName(report.outcome)}, {"jobId", job.id}, {"jobDirectory", job.directory}};
  if (!report.explanation.empty()) line["explanation"] = report.explanation;
  if (remove && report.outcome != host::Outcome::timedOut && report.outcome != host::Outcome::running) {
    line["removed"] = host::removeJob(job);
  }
  return printLine(line, report.outcome == host::Outcome::opened);
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
  return printLine({{"outcome", "pruned"}, {"removed", pruning.removed}}, true);
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
  return printLine({{"outcome", options.checkOnly ? "checked" : "made"}, {"bundle", *making.bundle}}, true);
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
  const host::RunReport report = host::runJob(bundle, *preparation.job, std::chrono::seconds(seconds));
  return reportJob(*preparation.job, report, options.remove);
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
  if (options->has("--make-bundle")) return makeBundle(*options);
  return runOne(*options);
}
