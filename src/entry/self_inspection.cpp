#include "entry/self_inspection.h"

#include <cstdlib>
#include <vector>

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

void runSelfInspection() {
  const ScriptCallResult echo =
      invoke(kEchoScriptSource, kEchoHandler, std::vector<std::string>{std::string(kSampleText)});
  const bool held = roundTripHeld(echo);
  const auto report = inspectionReport(platform::mainBundle(), held);
  if (!report) {
    platform::writeToStandardError("support-draft: the report cannot be serialised: the display name has no JSON form\n");
    std::_Exit(kReportFailedStatus);
  }
  if (!platform::writeToStandardOutput(*report)) std::_Exit(kReportFailedStatus);
  std::_Exit(held ? 0 : 1);
}
