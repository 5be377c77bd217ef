#include "mail/desktop_entry.h"

#include "mail/key_file_value.h"
#include "mail/program_search.h"
#include "platform/file_io.h"
#include "platform/paths.h"

namespace mail {
namespace {

// Desktop entries are small; a larger file is no entry this program reads.
constexpr std::size_t kMaxEntrySize = 256 * 1024;

}  // namespace

std::vector<std::string> dataDirectories(const char* dataHome, const char* dataDirs, const std::string& home) {
  std::vector<std::string> directories;
  const std::string homeData = dataHome && *dataHome ? dataHome : home.empty() ? "" : home + "/.local/share";
  if (homeData.starts_with('/')) directories.push_back(homeData);
  const std::string_view system = dataDirs && *dataDirs ? dataDirs : "/usr/local/share:/usr/share";
  for (const std::string_view dir : absoluteDirectories(system)) directories.emplace_back(dir);
  return directories;
}

std::vector<std::string> entryCandidates(const std::string& applicationsDir, const std::string& desktopId) {
  std::vector<std::string> candidates;
  // No file name is longer than 255 bytes: a longer id names no entry, and
  // its dashes cannot make the list of candidates grow with it.
  constexpr std::size_t kLongestFileName = 255;
  if (desktopId.empty() || desktopId.size() > kLongestFileName || desktopId.find('/') != std::string::npos ||
      desktopId.find('\0') != std::string::npos || desktopId.starts_with('.')) {
    return candidates;
  }
  candidates.push_back(platform::appendingPathComponent(applicationsDir, desktopId));
  // Each side of the '-' names a directory and a file inside it: never the
  // directory itself or the one above it.
  const auto names = [](std::string_view part) { return !part.empty() && part != "." && part != ".."; };
  for (std::size_t dash = desktopId.find('-'); dash != std::string::npos; dash = desktopId.find('-', dash + 1)) {
    if (!names(std::string_view(desktopId).substr(0, dash)) || !names(std::string_view(desktopId).substr(dash + 1))) {
      continue;
    }
    std::string nested = desktopId;
    nested[dash] = '/';
    candidates.push_back(platform::appendingPathComponent(applicationsDir, nested));
  }
  return candidates;
}

std::optional<DesktopEntry> parseDesktopEntry(std::string_view text, const std::string& location) {
  // A desktop entry is text: a NUL byte in it would cut a program's name
  // or an argument short on its way into the started process, which would
  // then run something other than the entry says.
  if (text.find('\0') != std::string_view::npos) return std::nullopt;
  std::optional<std::string_view> exec;
  std::optional<std::string_view> terminal;
  std::optional<std::string_view> tryExec;
  std::optional<std::string_view> name;
  std::optional<std::string_view> icon;
  bool inMainGroup = false;
  while (!text.empty()) {
    const auto end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (line.ends_with('\r')) line.remove_suffix(1);
    if (line.starts_with('[')) {
      inMainGroup = line == "[Desktop Entry]";
      continue;
    }
    if (!inMainGroup) continue;
    const auto equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    std::string_view key = line.substr(0, equals);
    while (key.ends_with(' ')) key.remove_suffix(1);
    std::string_view value = line.substr(equals + 1);
    while (value.starts_with(' ')) value.remove_prefix(1);
    // A key stands once in a group; where a broken entry repeats one, its
    // first occurrence counts, the same for every key.
    if (key == "Exec" && !exec) exec = value;
    if (key == "Terminal" && !terminal) terminal = value;
    if (key == "TryExec" && !tryExec) tryExec = value;
    if (key == "Name" && !name) name = value;
    if (key == "Icon" && !icon) icon = value;
  }
  if (!exec) return std::nullopt;
  const std::optional<std::string> execValue = unescapeKeyFileValue(*exec);
  const std::optional<std::string> tryExecValue = unescapeKeyFileValue(tryExec.value_or(""));
  if (!execValue || !tryExecValue) return std::nullopt;
  const ExecKeys keys{unescapeKeyFileValue(name.value_or("")).value_or(""),
                      unescapeKeyFileValue(icon.value_or("")).value_or(""), location};
  auto words = parseExecLine(*execValue, keys);
  if (!words) return std::nullopt;
  DesktopEntry entry;
  entry.exec = std::move(*words);
  entry.terminal = terminal == "true";
  entry.tryExec = *tryExecValue;
  return entry;
}

std::optional<DesktopEntry> findDesktopEntry(const std::vector<std::string>& directories,
                                             const std::string& desktopId, std::string_view searchPath) {
  for (const std::string& dir : directories) {
    for (const std::string& path : entryCandidates(platform::appendingPathComponent(dir, "applications"), desktopId)) {
      const std::optional<std::string> text = platform::readWholeFile(path, kMaxEntrySize);
      if (!text) continue;
      std::optional<DesktopEntry> entry = parseDesktopEntry(*text, path);
      if (entry && !entry->tryExec.empty() && !isInstalledProgram(entry->tryExec, searchPath)) {
        return std::nullopt;
      }
      return entry;
    }
  }
  return std::nullopt;
}

}  // namespace mail
