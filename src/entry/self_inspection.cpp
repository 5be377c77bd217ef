#include "entry/self_inspection.h"

#include <cstdlib>
#include <vector>

#include "platform/abnormal_end.h"
#include "platform/standard_streams.h"
#include "platform/text.h"

namespace {

constexpr int kReportFailedStatus = 2;

}  // namespace

bool roundTripHeld(const ScriptCallResult& echo) {
  return echo.resultText && platform::canonicallyEqual(*echo.resultText, kSampleText) && !echo.errorNumber;
}

std::optional<std::string> inspectionReport(const platform::Bundle& bundle, bool roundTrip) {
  platform::Json report = platform::Json::object();
  if (const platform::PlistValue* name = platform::infoValue(bundle, "CFBundleDisplayName")) {
    auto converted = platform::jsonFromPlist(*name);
    if (!converted) return std::nullopt;
    report["name"] = std::move(*converted);
  } else {
    report["name"] = "";
  }
  report["identifier"] = platform::bundleIdentifier(bundle).value_or("");
  report["argumentsRoundTrip"] = roundTrip;
  return platform::serializeJson(report);
}

std::string_view missingReportReason(const platform::Bundle& bundle) {
  if (const platform::PlistValue* name = platform::infoValue(bundle, "CFBundleDisplayName")) {
    const auto converted = platform::jsonFromPlist(*name);
    if (!converted || !platform::serializeJson(*converted)) return "the display name has no JSON form";
  }
  const auto identifier = platform::bundleIdentifier(bundle);
  if (identifier && !platform::isValidUtf8(*identifier)) return "the bundle identifier is not valid UTF-8";
  return "out of memory";
}

void runSelfInspection() {
  // Whatever runs out from here on, the status is the one for "no report".
  platform::endOnTerminate(kReportFailedStatus, "support-draft: the self-check could not be completed\n");
  // Status 2 comes with one line, ours, even when the C library ends the
  // process with a line of its own.
  platform::keepStandardErrorForOwnMessages();
  platform::ignoreBrokenPipes();
  const ScriptCallResult echo =
      invoke(kEchoScriptSource, kEchoHandler, std::vector<std::string>{std::string(kSampleText)});
  const bool held = roundTripHeld(echo);
  const platform::Bundle& bundle = platform::mainBundle();
  const auto report = inspectionReport(bundle, held);
  if (!report) {
    const std::string message =
        "support-draft: the report cannot be serialised: " + std::string(missingReportReason(bundle)) + "\n";
    platform::writeToStandardError(message);
    std::_Exit(kReportFailedStatus);
  }
  if (!platform::writeToStandardOutput(*report)) {
    platform::writeToStandardError("support-draft: the report cannot be written to standard output\n");
    std::_Exit(kReportFailedStatus);
  }
  std::_Exit(held ? 0 : 1);
}
