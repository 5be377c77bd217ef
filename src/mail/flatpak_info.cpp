#include "mail/flatpak_info.h"

#include <map>
#include <optional>

#include "mail/key_file_value.h"
#include "platform/text.h"

namespace mail {
namespace {

using Group = std::map<std::string, std::string, std::less<>>;
using KeyFile = std::map<std::string, Group, std::less<>>;

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view withoutLeadingBlanks(std::string_view text) {
  while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
  return text;
}

std::string_view withoutTrailingBlanks(std::string_view text) {
  while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
  return text;
}

bool hasControlCharacter(std::string_view text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return true;
  }
  return false;
}

// "[name]" with blanks allowed after it; the name is not empty and holds
// no bracket or control character.
std::optional<std::string_view> groupName(std::string_view line) {
  const auto close = line.find(']');
  if (close == std::string_view::npos || !withoutLeadingBlanks(line.substr(close + 1)).empty()) return std::nullopt;
  const std::string_view name = line.substr(1, close - 1);
  if (name.empty() || name.find('[') != std::string_view::npos || hasControlCharacter(name)) return std::nullopt;
  return name;
}

// The lines of the file as groups of keys; nothing when any line is not
// one of the forms a key file allows.
std::optional<KeyFile> parseKeyFile(std::string_view text) {
  if (text.find('\0') != std::string_view::npos || !platform::isValidUtf8(text)) return std::nullopt;
  KeyFile file;
  Group* group = nullptr;
  while (!text.empty()) {
    const auto end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (line.ends_with('\r')) line.remove_suffix(1);
    line = withoutLeadingBlanks(line);
    if (line.empty() || line.starts_with('#')) continue;
    if (line.starts_with('[')) {
      const auto name = groupName(line);
      if (!name) return std::nullopt;
      group = &file[std::string(*name)];
      continue;
    }
    const auto equals = line.find('=');
    // A key before any group, or a line without '=' or without a key.
    if (group == nullptr || equals == std::string_view::npos) return std::nullopt;
    const std::string_view key = withoutTrailingBlanks(line.substr(0, equals));
    if (key.empty()) return std::nullopt;
    (*group)[std::string(key)] = std::string(withoutLeadingBlanks(line.substr(equals + 1)));
  }
  return file;
}

std::optional<std::string> stringValue(const KeyFile& file, std::string_view group, std::string_view key) {
  const auto g = file.find(group);
  if (g == file.end()) return std::nullopt;
  const auto k = g->second.find(key);
  if (k == g->second.end()) return std::nullopt;
  return unescapeKeyFileValue(k->second);
}

// Whether a policy key names `name`: the name itself, or "prefix.*" for a
// name below that prefix.
bool policyCovers(std::string_view key, std::string_view name) {
  if (key == name) return true;
  if (!key.ends_with(".*")) return false;
  key.remove_suffix(1);  // keep the dot: "org.freedesktop." covers only names below it
  return name.size() > key.size() && name.starts_with(key);
}

bool grantsTalk(const KeyFile& file, std::string_view name) {
  // The proxy applies the highest policy any matching key gives.
  const auto policy = file.find("Session Bus Policy");
  if (policy == file.end()) return false;
  for (const auto& [key, raw] : policy->second) {
    if (!policyCovers(key, name)) continue;
    const auto value = unescapeKeyFileValue(raw);
    if (value && (*value == "talk" || *value == "own")) return true;
  }
  return false;
}

// [Context] sockets listing session-bus: no proxy stands between the
// sandbox and the bus. "!session-bus" takes it away.
bool hasWholeSessionBus(const KeyFile& file) {
  const auto sockets = stringValue(file, "Context", "sockets");
  if (!sockets) return false;
  bool granted = false;
  std::string_view rest = *sockets;
  while (!rest.empty()) {
    const auto semicolon = rest.find(';');
    const std::string_view item = rest.substr(0, semicolon);
    rest.remove_prefix(semicolon == std::string_view::npos ? rest.size() : semicolon + 1);
    if (item == "session-bus") granted = true;
    if (item == "!session-bus") return false;
  }
  return granted;
}

// An absolute path without "." or ".." components or empty ones, so that
// appending to it stays inside it.
bool isPlainAbsolutePath(std::string_view path) {
  if (!path.starts_with('/') || path.size() < 2 || hasControlCharacter(path)) return false;
  std::string_view rest = path.substr(1);
  while (true) {
    const auto slash = rest.find('/');
    const std::string_view component = rest.substr(0, slash);
    if (component.empty() || component == "." || component == "..") return false;
    if (slash == std::string_view::npos) return true;
    rest.remove_prefix(slash + 1);
  }
}

}  // namespace

FlatpakInfo readFlatpakInfo(std::string_view text) {
  FlatpakInfo info;
  if (text.size() > kMaxFlatpakInfoSize) return info;
  const auto file = parseKeyFile(text);
  if (!file) return info;
  info.mayTalkToFlatpakService = grantsTalk(*file, kFlatpakServiceName) || hasWholeSessionBus(*file);
  if (auto appPath = stringValue(*file, "Instance", "app-path"); appPath && isPlainAbsolutePath(*appPath)) {
    info.appPath = std::move(*appPath);
  }
  return info;
}

std::string hostPathOfAppFile(std::string_view sandboxPath, std::string_view appPath) {
  constexpr std::string_view kApp = "/app/";
  if (appPath.empty() || !sandboxPath.starts_with(kApp) || !isPlainAbsolutePath(sandboxPath)) return {};
  return std::string(appPath) + std::string(sandboxPath.substr(kApp.size() - 1));
}

}  // namespace mail
