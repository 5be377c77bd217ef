#include "mail/mime_apps_files.h"

#include <algorithm>
#include <map>

#include "mail/program_search.h"
#include "platform/file_io.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace mail {
namespace {

// A mimeinfo.cache of a full desktop holds some hundred kilobytes; a larger
// file is no file of these rules.
constexpr std::size_t kMaxFileSize = 1024 * 1024;
// The environment is the user's, but a lookup must stay small whatever it
// holds: a session has a handful of desktop names and directories, and
// every name multiplies the files looked at in every directory.
constexpr std::size_t kMaxDesktopNames = 8;
constexpr std::size_t kMaxDirectories = 32;
// All files together; what lies beyond is not read.
constexpr std::size_t kMaxBytesRead = 8 * 1024 * 1024;
// A desktop id is a file name (a '-' may stand for a subdirectory); and
// each id looked up costs a search of every data directory.
constexpr std::size_t kMaxDesktopIdSize = 255;
constexpr std::size_t kMaxIdsLookedUp = 64;

std::vector<std::string> configDirectories(const XdgEnvironment& environment) {
  std::vector<std::string> directories;
  const std::string home = !environment.configHome.empty() ? environment.configHome
                           : environment.home.empty()      ? ""
                                                           : environment.home + "/.config";
  if (home.starts_with('/')) directories.push_back(home);
  const std::string_view system =
      environment.configDirs.empty() ? std::string_view("/etc/xdg") : std::string_view(environment.configDirs);
  for (const std::string_view dir : absoluteDirectories(system)) directories.emplace_back(dir);
  if (directories.size() > kMaxDirectories) directories.resize(kMaxDirectories);
  return directories;
}

std::vector<std::string> dataDirectoriesOf(const XdgEnvironment& environment) {
  std::vector<std::string> directories =
      dataDirectories(environment.dataHome.c_str(), environment.dataDirs.c_str(), environment.home);
  if (directories.size() > kMaxDirectories) directories.resize(kMaxDirectories);
  return directories;
}

// The names of the current desktop as the file names use them.
std::vector<std::string> desktopNames(std::string_view currentDesktop) {
  std::vector<std::string> names;
  while (!currentDesktop.empty()) {
    const auto colon = currentDesktop.find(':');
    std::string name = platform::foldAsciiCase(std::string(currentDesktop.substr(0, colon)));
    // A name that would leave the directory names no file of these rules.
    if (!name.empty() && name.find('/') == std::string::npos && names.size() < kMaxDesktopNames) {
      names.push_back(std::move(name));
    }
    currentDesktop.remove_prefix(colon == std::string_view::npos ? currentDesktop.size() : colon + 1);
  }
  return names;
}

// Where a file that takes part may lie.
struct MimeAppsPlace {
  MimeAppsFile::Kind kind;
  std::size_t level;
  std::string path;
};

std::vector<MimeAppsPlace> mimeAppsPlaces(const XdgEnvironment& environment) {
  using Kind = MimeAppsFile::Kind;
  const std::vector<std::string> desktops = desktopNames(environment.currentDesktop);
  std::vector<MimeAppsPlace> places;
  auto addLists = [&](const std::string& dir, std::size_t level) {
    for (const std::string& desktop : desktops) {
      places.push_back({Kind::DesktopList, level, platform::appendingPathComponent(dir, desktop + "-mimeapps.list")});
    }
    places.push_back({Kind::List, level, platform::appendingPathComponent(dir, "mimeapps.list")});
  };
  for (const std::string& dir : configDirectories(environment)) addLists(dir, 0);
  const std::vector<std::string> dataDirs = dataDirectoriesOf(environment);
  for (std::size_t n = 0; n < dataDirs.size(); ++n) {
    const std::string applications = platform::appendingPathComponent(dataDirs[n], "applications");
    addLists(applications, n + 1);
    places.push_back({Kind::OldDefaults, n + 1, platform::appendingPathComponent(applications, "defaults.list")});
    places.push_back({Kind::Cache, n + 1, platform::appendingPathComponent(applications, "mimeinfo.cache")});
  }
  return places;
}

}  // namespace

std::optional<DefaultApplication> findDefaultApplication(const XdgEnvironment& environment,
                                                         std::string_view mimeType) {
  std::vector<MimeAppsFile> files;
  std::size_t bytesRead = 0;
  for (const MimeAppsPlace& place : mimeAppsPlaces(environment)) {
    if (bytesRead >= kMaxBytesRead) break;
    if (auto text = platform::readWholeFile(place.path, std::min(kMaxFileSize, kMaxBytesRead - bytesRead))) {
      bytesRead += text->size();
      files.push_back({place.kind, place.level, std::move(*text)});
    }
  }
  const std::vector<std::string> dataDirs = dataDirectoriesOf(environment);
  const std::string_view searchPath =
      environment.searchPath.empty() ? kDefaultSearchPath : std::string_view(environment.searchPath);
  // Each entry is read once, whether it is asked about once or again.
  std::map<std::string, std::optional<DesktopEntry>> entries;
  auto installed = [&](const std::string& desktopId) {
    auto found = entries.find(desktopId);
    // An id holding a NUL would be looked up as the file its first part names.
    if (found == entries.end() && (desktopId.size() > kMaxDesktopIdSize || entries.size() >= kMaxIdsLookedUp ||
                                   desktopId.find('\0') != std::string::npos)) {
      return false;
    }
    if (found == entries.end()) found = entries.emplace(desktopId, findDesktopEntry(dataDirs, desktopId, searchPath)).first;
    return found->second.has_value();
  };
  std::string desktopId = defaultApplication(files, mimeType, installed);
  if (desktopId.empty()) return std::nullopt;
  return DefaultApplication{desktopId, *entries.at(desktopId)};
}

}  // namespace mail
