#include "host_command_options.h"

#include <algorithm>

namespace host_command {

std::optional<long> wholeNumber(const std::string& text, std::size_t digits, long least) {
  if (text.empty() || text.size() > digits || text.find_first_not_of("0123456789") != std::string::npos) {
    return std::nullopt;
  }
  const long value = std::stol(text);
  return value >= least ? std::optional<long>(value) : std::nullopt;
}

std::optional<Options> parseOptions(const std::vector<std::string>& arguments, std::string& error) {
  static const std::vector<std::string> kValued = {
      "--bundle",      "--subject",    "--body",       "--body-file",      "--log",
      "--log-tail",    "--time-bound", "--result",     "--prune",          "--make-bundle",
      "--name",        "--identifier", "--channel",    "--subject-prefix", "--tool-directory",
      "--recipient",   "--from"};
  Options options;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& option = arguments[i];
    if (option == "--remove" || option == "--help" || option == "--version" || option == "--check-only" ||
        option == "--one-at-a-time") {
      (option == "--remove"          ? options.remove
       : option == "--help"          ? options.help
       : option == "--check-only"    ? options.checkOnly
       : option == "--one-at-a-time" ? options.oneAtATime
                                     : options.version) = true;
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
  if (options.help || options.version) return options;
  const auto only = [&](const std::vector<std::string>& allowed) {
    return std::all_of(options.values.begin(), options.values.end(), [&](const auto& entry) {
      return std::find(allowed.begin(), allowed.end(), entry.first) != allowed.end();
    });
  };
  if (options.has("--make-bundle")) {
    if (!only({"--make-bundle", "--name", "--identifier", "--channel", "--subject-prefix", "--tool-directory",
               "--recipient", "--from"}) ||
        options.remove || options.oneAtATime) {
      error = "--make-bundle takes only the bundle's options";
    } else if (!options.has("--name") || !options.has("--identifier") || !options.has("--channel")) {
      error = "--make-bundle needs --name, --identifier and --channel";
    }
    return error.empty() ? std::optional<Options>(options) : std::nullopt;
  }
  if (options.checkOnly) {
    error = "--check-only goes with --make-bundle";
    return std::nullopt;
  }
  if (options.oneAtATime && (options.has("--result") || options.has("--prune"))) {
    error = "--one-at-a-time goes with a job to run";
    return std::nullopt;
  }
  if (options.has("--result")) {
    if (!only({"--result"})) error = "--result takes no other option but --remove";
    return error.empty() ? std::optional<Options>(options) : std::nullopt;
  }
  if (options.has("--prune")) {
    if (!only({"--prune", "--bundle"}) || options.remove || !options.has("--bundle")) {
      error = "--prune takes --bundle and no other option";
    } else if (!wholeNumber(options.values["--prune"], 5, 0)) {
      error = "--prune takes a whole number of days from 0 to 99999";
    }
    return error.empty() ? std::optional<Options>(options) : std::nullopt;
  }
  if (!options.has("--bundle") || !options.has("--subject") || options.values["--bundle"].empty()) {
    error = "--bundle and --subject are required";
  } else if (options.has("--body") == options.has("--body-file")) {
    error = "give exactly one of --body and --body-file";
  } else if (options.has("--log") && options.has("--log-tail")) {
    error = "give at most one of --log and --log-tail";
  } else if (options.has("--time-bound") && !wholeNumber(options.values["--time-bound"], 6, 1)) {
    error = "--time-bound takes a whole number of seconds from 1 to 999999";
  }
  return error.empty() ? std::optional<Options>(options) : std::nullopt;
}

}  // namespace host_command
