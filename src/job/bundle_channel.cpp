#include "job/bundle_channel.h"

#include <filesystem>
#include <system_error>

#include "job/job_contract.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace {

constexpr std::string_view kChannelNames[] = {"dev", "prod"};
constexpr std::string_view kExecutableInBundle = "Contents/MacOS/support-draft";

}  // namespace

std::optional<BundleChannel> channelFor(const platform::PlistValue* channel) {
  if (channel == nullptr) return std::nullopt;
  const std::string* text = channel->as<std::string>();
  if (text == nullptr) return std::nullopt;
  for (const std::string_view name : kChannelNames) {
    if (!platform::canonicallyEqual(*text, name)) continue;
    if (auto toolDirectory = toolDirectoryName(name)) return BundleChannel{std::string(name), *toolDirectory};
  }
  return std::nullopt;
}

std::optional<std::string> toolDirectoryForChannel(const platform::PlistValue* channel) {
  auto known = channelFor(channel);
  if (!known) return std::nullopt;
  return std::move(known->toolDirectory);
}

BundleFacts bundleFacts(std::string_view bundlePath) {
  BundleFacts facts;
  std::error_code error;
  const std::filesystem::path bundle(bundlePath);
  facts.bundleIsDirectory = std::filesystem::is_directory(bundle, error);
  if (!facts.bundleIsDirectory) return facts;
  const std::filesystem::path absolute = std::filesystem::absolute(bundle, error);
  if (error) return facts;
  const std::string executable = (absolute / kExecutableInBundle).string();
  facts.executableIsRegularFile = std::filesystem::is_regular_file(executable, error);
  if (!facts.executableIsRegularFile) return facts;
  if (const auto resolved = platform::resolvingSymlinksInPath(executable)) {
    facts.bundle = platform::bundleForExecutable(*resolved);
  }
  return facts;
}

BundleChannelReading bundleChannel(std::string_view bundlePath, const BundleFacts& facts) {
  BundleChannelReading reading;
  const std::string path(bundlePath);
  if (!facts.bundleIsDirectory) {
    reading.breach = RuleBreach{Reason::bundleMissing, path};
  } else if (!facts.executableIsRegularFile) {
    reading.breach = RuleBreach{Reason::bundleExecutableMissing, path};
  } else if (auto channel = channelFor(platform::infoValue(facts.bundle, kChannelKey))) {
    reading.channel = std::move(channel);
  } else {
    reading.breach = RuleBreach{Reason::bundleChannelUnknown, path};
  }
  return reading;
}

BundleChannelReading readBundleChannel(std::string_view bundlePath) {
  return bundleChannel(bundlePath, bundleFacts(bundlePath));
}
