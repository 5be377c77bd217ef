#include "platform/bundle.h"

#include <sys/stat.h>
#include <unistd.h>

#include "platform/file_io.h"
#include "platform/info_dictionary.h"
#include "platform/paths.h"

namespace platform {
namespace {

// An Info.plist larger than this is not a bundle's information list.
constexpr std::size_t kMaxInfoPlistSize = 1 << 20;
// A bundle's executables lie in <B>/Contents/MacOS.
constexpr std::string_view kContents = "Contents";
constexpr std::string_view kExecutables = "MacOS";

std::string_view parentOf(std::string_view path) {
  const auto slash = path.rfind('/');
  if (slash == std::string_view::npos) return {};
  return slash == 0 ? std::string_view("/") : path.substr(0, slash);
}

std::string_view lastComponent(std::string_view path) {
  const auto slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

}  // namespace

Bundle bundleForExecutable(std::string_view executablePath) {
  Bundle bundle;
  const std::string_view executableDir = parentOf(executablePath);
  const std::string_view contents = parentOf(executableDir);
  bundle.executableDirectory = std::string(executableDir);
  if (lastComponent(executableDir) == kExecutables && lastComponent(contents) == kContents) {
    bundle.bundlePath = std::string(parentOf(contents));
    bundle.resourceDirectory = appendingPathComponent(contents, "Resources");
    if (auto bytes = readWholeFile(appendingPathComponent(contents, "Info.plist"), kMaxInfoPlistSize)) {
      bundle.info = parseInfoDictionary(*bytes);
    }
  } else {
    bundle.resourceDirectory = std::string(executableDir);
  }
  return bundle;
}

std::string executableInBundle(std::string_view bundlePath, std::string_view name) {
  return appendingPathComponent(appendingPathComponent(appendingPathComponent(bundlePath, kContents), kExecutables),
                                name);
}

const Bundle& mainBundle() {
  static const Bundle bundle = [] {
    const auto executable = executablePath();
    return executable ? bundleForExecutable(*executable) : Bundle{};
  }();
  return bundle;
}

const PlistValue* infoValue(const Bundle& bundle, std::string_view key) {
  const auto found = bundle.info.find(std::string(key));
  return found == bundle.info.end() ? nullptr : &found->second;
}

std::optional<std::string> bundleIdentifier(const Bundle& bundle) {
  const PlistValue* value = infoValue(bundle, "CFBundleIdentifier");
  if (value == nullptr || value->as<std::string>() == nullptr) return std::nullopt;
  return *value->as<std::string>();
}

std::optional<std::string> resourcePath(std::string_view resourceDirectory, std::string_view name,
                                        std::string_view extension) {
  if (resourceDirectory.empty()) return std::nullopt;
  std::string fileName(name);
  fileName += '.';
  fileName += extension;
  std::string path = appendingPathComponent(resourceDirectory, fileName);
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  return path;
}

}  // namespace platform
