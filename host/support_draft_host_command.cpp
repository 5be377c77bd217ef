// support-draft-host: the host library for hosts written in other languages.
// Prepares one job for the bundle's channel, runs the program for it and
// prints the outcome as one JSON line.
//
//   support-draft-host --bundle PATH --subject TEXT (--body TEXT | --body-file FILE)
//                      [--log FILE] [--remove] [--time-bound SECONDS]
//
// Exit status: 0 when the draft was opened, 1 for any other outcome, 2 for a
// usage error (with a message on standard error and nothing on standard
// output).
#include <algorithm>
#include <filesystem>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "platform/bundle.h"
#include "platform/file_io.h"
#include "platform/paths.h"
#include "support_draft_host.h"

namespace {

constexpr int kOpened = 0;
constexpr int kOtherOutcome = 1;
constexpr int kUsageError = 2;
// Files larger than this are refused outright; the library names the limit
// that a smaller one breaks.
constexpr std::size_t kMaxInputFile = 1 << 20;
constexpr int kDefaultTimeBoundSeconds = 30;

constexpr const char* kUsage =
    "usage: support-draft-host --bundle PATH --subject TEXT (--body TEXT | --body-file FILE)\n"
    "                          [--log FILE] [--remove] [--time-bound SECONDS]\n";

struct Options {
  std::map<std::string, std::string> values;
  bool remove = false;
};

// The options, or a usage error message.
std::optional<Options> parseOptions(const std::vector<std::string>& arguments, std::string& error) {
  static const std::vector<std::string> kValued = {"--bundle", "--subject", "--body", "--body-file", "--log",
                                                   "--time-bound"};
  Options options;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& option = arguments[i];
    if (option == "--remove") {
      options.remove = true;
      continue;
    }
    if (std::find(kValued.begin(), kValued.end(), option) == kValued.end()) {
      error = "unknown option: " + option;
      return std::nullopt;
    }
    if (i + 1 == arguments.size()) {
      error = option + " needs a value";
      return std::nullopt;
    }
    if (!options.values.emplace(option, arguments[++i]).second) {
      error = option + " given twice";
      return std::nullopt;
    }
  }
  if (!options.values.count("--bundle") || !options.values.count("--subject") || options.values["--bundle"].empty()) {
    error = "--bundle and --subject are required";
    return std::nullopt;
  }
  if (options.values.count("--body") == options.values.count("--body-file")) {
    error = "give exactly one of --body and --body-file";
    return std::nullopt;
  }
  if (options.values.count("--time-bound")) {
    const std::string& text = options.values["--time-bound"];
    if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string::npos ||
        std::stoi(text) == 0) {
      error = "--time-bound takes a whole number of seconds from 1 to 999999";
      return std::nullopt;
    }
  }
  return options;
}

// The channel written into the bundle, read with the program's own bundle
// code; nothing when the bundle names none the program knows.
std::optional<support_draft::Channel> bundleChannel(const std::string& bundlePath) {
  const std::string executable = (std::filesystem::absolute(bundlePath) / "Contents/MacOS/support-draft").string();
  const auto resolved = platform::resolvingSymlinksInPath(executable);
  if (!resolved) return std::nullopt;
  const platform::Bundle bundle = platform::bundleForExecutable(*resolved);
  const platform::PlistValue* channel = platform::infoValue(bundle, "QuorvelChannel");
  const std::string* text = channel == nullptr ? nullptr : channel->as<std::string>();
  if (text != nullptr && *text == "dev") return support_draft::Channel::dev;
  if (text != nullptr && *text == "prod") return support_draft::Channel::prod;
  return std::nullopt;
}

int printOutcome(const nlohmann::json& line, bool opened) {
  std::cout << line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n' << std::flush;
  return opened ? kOpened : kOtherOutcome;
}

int refuse(const std::string& reason) {
  return printOutcome({{"outcome", "refused"}, {"reason", reason}}, false);
}

}  // namespace

int main(int argc, char** argv) {
  std::string error;
  const auto options = parseOptions(std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc), error);
  if (!options) {
    std::cerr << "support-draft-host: " << error << '\n' << kUsage;
    return kUsageError;
  }
  const auto& values = options->values;
  const std::string& bundle = values.at("--bundle");

  support_draft::DraftRequest request;
  request.subject = values.at("--subject");
  if (values.count("--body")) {
    request.body = values.at("--body");
  } else {
    const auto body = platform::readWholeFile(values.at("--body-file"), kMaxInputFile);
    if (!body) return refuse("the body file cannot be read: " + values.at("--body-file"));
    request.body = *body;
  }
  if (values.count("--log")) {
    request.log = platform::readWholeFile(values.at("--log"), kMaxInputFile);
    if (!request.log) return refuse("the log file cannot be read: " + values.at("--log"));
  }
  const auto channel = bundleChannel(bundle);
  if (!channel) return refuse("the bundle names no channel the program knows: " + bundle);

  const auto preparation = support_draft::prepareJob({*channel, ""}, request);
  if (!preparation.job) return refuse(preparation.refusal);
  const support_draft::PreparedJob& job = *preparation.job;

  const int seconds = values.count("--time-bound") ? std::stoi(values.at("--time-bound")) : kDefaultTimeBoundSeconds;
  const auto report = support_draft::runJob(bundle, job, std::chrono::seconds(seconds));

  nlohmann::json line = {{"outcome", support_draft::outcomeName(report.outcome)},
                         {"jobId", job.id},
                         {"jobDirectory", job.directory}};
  if (!report.explanation.empty()) line["explanation"] = report.explanation;
  // A job still running keeps its directory whatever was asked.
  if (options->remove && report.outcome != support_draft::Outcome::timedOut) line["removed"] = support_draft::removeJob(job);
  return printOutcome(line, report.outcome == support_draft::Outcome::opened);
}
