// The main bundle: the application bundle that holds the running executable.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/plist_value.h"

namespace platform {

struct Bundle {
  // `<B>` when the executable lies in `<B>/Contents/MacOS`; empty otherwise.
  std::string bundlePath;
  // Where resources are looked up: `<B>/Contents/Resources` inside a bundle,
  // the executable's own directory outside one.
  std::string resourceDirectory;
  // Where the executable and the helpers beside it lie: `<B>/Contents/MacOS`
  // inside a bundle.
  std::string executableDirectory;
  // Contents/Info.plist; empty outside a bundle or when it cannot be read.
  PlistDict info;
};

// Describes the bundle around the executable at `executablePath` (already
// resolved, absolute). Reads Info.plist once.
Bundle bundleForExecutable(std::string_view executablePath);

// `<bundlePath>/Contents/MacOS/<name>`: a program of the bundle, where
// bundleForExecutable finds its executableDirectory.
std::string executableInBundle(std::string_view bundlePath, std::string_view name);

// The bundle of the running executable, found through /proc/self/exe and
// read on first use; later calls give the same bundle.
const Bundle& mainBundle();

// The value stored under `key` in the information dictionary, or nullptr.
const PlistValue* infoValue(const Bundle& bundle, std::string_view key);

// The string under CFBundleIdentifier, if there is one.
std::optional<std::string> bundleIdentifier(const Bundle& bundle);

// The path of the resource `name.extension` in a bundle's resource
// directory when it is a regular file.
std::optional<std::string> resourcePath(std::string_view resourceDirectory, std::string_view name,
                                        std::string_view extension);

}  // namespace platform
