// The bundle's build channel, which picks the tool directory jobs live in.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "job/rule_breach.h"

namespace platform {
struct PlistValue;
}

// The key of the bundle's information dictionary that names the channel.
inline constexpr std::string_view kChannelKey = "QuorvelChannel";

// The program's path in the bundle at `bundlePath`:
// <bundlePath>/Contents/MacOS/support-draft.
std::string programInBundle(std::string_view bundlePath);

// A channel the program knows: its name as this code spells it ("dev" or
// "prod") and its tool directory in the home directory.
struct BundleChannel {
  std::string name;
  std::string toolDirectory;
};

// The tool directory of the channel the bundle's channel value names (a
// text canonically equal to "dev" or "prod"): ".vantrel-devtool-dev" for
// "dev", ".vantrel-devtool" for "prod"; nothing for an absent value, a value
// that is not text, or any other text.
std::optional<std::string> toolDirectoryForChannel(const platform::PlistValue* channel);

// What a host finds at a bundle path, gathered apart from the decision.
struct BundleFacts {
  bool bundleIsDirectory = false;        // `path` is a directory (links followed)
  bool executableIsRegularFile = false;  // Contents/MacOS/support-draft is one (links followed)
  // The text under kChannelKey in the information dictionary, read as the
  // program reads its own; nothing when absent or not text.
  std::optional<std::string> channelText;
};
// The executable's path is resolved first, as the program finds its own
// bundle through its resolved path: a bundle whose executable is a link
// reads the information dictionary of the bundle the link leads into.
BundleFacts bundleFacts(std::string_view bundlePath);

// The channel of the bundle at `bundlePath`, or why it has none the
// program would run with: bundleMissing (no directory there),
// bundleExecutableMissing, bundleChannelUnknown (no Info.plist, no
// kChannelKey in it, or a value naming no known channel).
struct BundleChannelReading {
  std::optional<BundleChannel> channel;
  std::optional<RuleBreach> breach;
};
BundleChannelReading bundleChannel(std::string_view bundlePath, const BundleFacts& facts);
BundleChannelReading readBundleChannel(std::string_view bundlePath);  // bundleChannel(path, bundleFacts(path))
