#include "job/bundle_channel.h"

#include "job/job_contract.h"
#include "platform/bundle.h"
#include "platform/plist_value.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace {

constexpr std::string_view kChannelNames[] = {"dev", "prod"};
constexpr std::string_view kProgramName = "support-draft";

const std::string* textIn(const platform::PlistValue* value) {
  return value == nullptr ? nullptr : value->as<std::string>();
}

// The channel a text names: canonically equal to "dev" or "prod".
std::optional<BundleChannel> channelNamed(std::string_view text) {
  for (const std::string_view name : kChannelNames) {
    if (!platform::canonicallyEqual(text, name)) continue;
    if (auto toolDirectory = toolDirectoryName(name)) return BundleChannel{std::string(name), *toolDirectory};
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> toolDirectoryForChannel(const platform::PlistValue* channel) {
  const std::string* text = textIn(channel);
  if (text == nullptr) return std::nullopt;
  auto known = channelNamed(*text);
  if (!known) return std::nullopt;
  return std::move(known->toolDirectory);
}

BundleFacts bundleFacts(std::string_view bundlePath) {
  BundleFacts facts;
  facts.bundleIsDirectory = platform::pathKindFollowingLinks(bundlePath) == platform::PathKind::directory;
  if (!facts.bundleIsDirectory) return facts;
  const std::optional<std::string> absolute = platform::absolutePath(bundlePath);
  if (!absolute) return facts;
  const std::string executable = programInBundle(*absolute);
  facts.executableIsRegularFile = platform::pathKindFollowingLinks(executable) == platform::PathKind::regularFile;
  if (!facts.executableIsRegularFile) return facts;
  if (const auto resolved = platform::resolvingSymlinksInPath(executable)) {
    const platform::Bundle bundle = platform::bundleForExecutable(*resolved);
    if (const std::string* text = textIn(platform::infoValue(bundle, kChannelKey))) facts.channelText = *text;
  }
  return facts;
}

std::string programInBundle(std::string_view bundlePath) {
  return platform::executableInBundle(bundlePath, kProgramName);
}

BundleChannelReading bundleChannel(std::string_view bundlePath, const BundleFacts& facts) {
  BundleChannelReading reading;
  const std::string path(bundlePath);
  if (!facts.bundleIsDirectory) {
    reading.breach = RuleBreach{Reason::bundleMissing, path};
  } else if (!facts.executableIsRegularFile) {
    reading.breach = RuleBreach{Reason::bundleExecutableMissing, path};
  } else if (auto channel = facts.channelText ? channelNamed(*facts.channelText) : std::nullopt) {
    reading.channel = std::move(channel);
  } else {
    reading.breach = RuleBreach{Reason::bundleChannelUnknown, path};
  }
  return reading;
}

BundleChannelReading readBundleChannel(std::string_view bundlePath) {
  return bundleChannel(bundlePath, bundleFacts(bundlePath));
}
