#include "mail/mime_apps.h"

#include <algorithm>
#include <map>
#include <utility>

namespace mail {
namespace {

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
  return text;
}

using Kind = MimeAppsFile::Kind;

// The ids removed from the type's associations, each with the lowest level
// from which on it is removed. A list may name tens of thousands of ids:
// each is looked up, not compared with every removal.
using Removals = std::map<std::string, std::size_t, std::less<>>;

bool isRemoved(const Removals& removals, const std::string& id, std::size_t level) {
  const auto found = removals.find(id);
  return found != removals.end() && found->second <= level;
}

// The first id of `ids` that is installed and not removed for entries at
// `level` or later; "" when none is.
std::string firstUsable(const std::vector<std::string>& ids, const Removals& removals, std::size_t level,
                        const std::function<bool(const std::string&)>& installed) {
  for (const std::string& id : ids) {
    if (!isRemoved(removals, id, level) && installed(id)) return id;
  }
  return "";
}

}  // namespace

std::vector<std::string> listedIds(std::string_view text, std::string_view group, std::string_view key) {
  bool inGroup = false;
  while (!text.empty()) {
    const auto end = text.find('\n');
    const std::string_view line = trimmed(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (line.starts_with('[')) {
      inGroup = line.size() == group.size() + 2 && line.substr(1, group.size()) == group && line.ends_with(']');
      continue;
    }
    if (!inGroup || line.starts_with('#')) continue;
    const auto equals = line.find('=');
    if (equals == std::string_view::npos || trimmed(line.substr(0, equals)) != key) continue;
    std::vector<std::string> ids;
    std::string_view value = line.substr(equals + 1);
    while (!value.empty()) {
      const auto semicolon = value.find(';');
      const std::string_view id = trimmed(value.substr(0, semicolon));
      if (!id.empty()) ids.emplace_back(id);
      value.remove_prefix(semicolon == std::string_view::npos ? value.size() : semicolon + 1);
    }
    return ids;
  }
  return {};
}

std::string defaultApplication(const std::vector<MimeAppsFile>& files, std::string_view mimeType,
                               const std::function<bool(const std::string&)>& installed) {
  // Removals seen so far; a list's own count for its defaults too, since a
  // list that both removes and names an id states no usable default.
  Removals removals;
  auto takeRemovals = [&](const MimeAppsFile& file) {
    for (std::string& id : listedIds(file.text, "Removed Associations", mimeType)) {
      const auto [entry, added] = removals.emplace(std::move(id), file.level);
      if (!added) entry->second = std::min(entry->second, file.level);
    }
  };
  const std::size_t everyLevel = static_cast<std::size_t>(-1);

  for (const MimeAppsFile& file : files) {
    if (file.kind != Kind::List && file.kind != Kind::DesktopList) continue;
    // Associations belong to the plain lists only; a desktop's own list
    // names defaults.
    if (file.kind == Kind::List) takeRemovals(file);
    std::string id = firstUsable(listedIds(file.text, "Default Applications", mimeType), removals, everyLevel, installed);
    if (!id.empty()) return id;
  }
  for (const MimeAppsFile& file : files) {
    if (file.kind != Kind::OldDefaults) continue;
    std::string id = firstUsable(listedIds(file.text, "Default Applications", mimeType), removals, everyLevel, installed);
    if (!id.empty()) return id;
  }

  removals.clear();
  for (const MimeAppsFile& file : files) {
    if (file.kind != Kind::List) continue;
    takeRemovals(file);
    std::string id = firstUsable(listedIds(file.text, "Added Associations", mimeType), removals, everyLevel, installed);
    if (!id.empty()) return id;
  }
  for (const MimeAppsFile& file : files) {
    if (file.kind != Kind::Cache) continue;
    std::string id = firstUsable(listedIds(file.text, "MIME Cache", mimeType), removals, file.level, installed);
    if (!id.empty()) return id;
  }
  return "";
}

}  // namespace mail
