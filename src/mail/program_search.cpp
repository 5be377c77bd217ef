#include "mail/program_search.h"

#include <sys/stat.h>
#include <unistd.h>

namespace mail {
namespace {

constexpr std::string_view kPathPrefix = "PATH=";

bool isPathEntry(std::string_view entry) { return entry.starts_with(kPathPrefix); }

}  // namespace

std::vector<std::string_view> absoluteDirectories(std::string_view list) {
  std::vector<std::string_view> directories;
  for (;;) {
    const std::size_t colon = list.find(':');
    const std::string_view directory = list.substr(0, colon);
    if (directory.starts_with('/')) directories.push_back(directory);
    if (colon == std::string_view::npos) return directories;
    list.remove_prefix(colon + 1);
  }
}

std::string absoluteSearchPath(std::string_view path) {
  std::string kept;
  for (const std::string_view directory : absoluteDirectories(path)) {
    if (!kept.empty()) kept += ':';
    kept += directory;
  }
  return kept;
}

std::vector<std::string> programCandidates(std::string_view name, std::string_view path) {
  if (name.empty()) return {};
  if (name.find('/') != std::string_view::npos) return {std::string(name)};
  std::vector<std::string> candidates;
  for (const std::string_view directory : absoluteDirectories(path)) {
    std::string candidate(directory);
    if (!candidate.ends_with('/')) candidate += '/';
    candidates.push_back(candidate.append(name));
  }
  return candidates;
}

std::optional<std::string_view> environmentValue(const std::vector<std::string>& environment, std::string_view name) {
  for (const std::string_view entry : environment) {
    if (entry.size() > name.size() && entry.starts_with(name) && entry[name.size()] == '=') {
      return entry.substr(name.size() + 1);
    }
  }
  return std::nullopt;
}

std::string_view searchPathOf(const std::vector<std::string>& environment) {
  return environmentValue(environment, "PATH").value_or(kDefaultSearchPath);
}

std::vector<std::string> handedOnEnvironment(const std::vector<std::string>& environment) {
  std::vector<std::string> handedOn;
  handedOn.reserve(environment.size());
  bool pathSeen = false;
  for (const std::string_view entry : environment) {
    if (!isPathEntry(entry)) {
      handedOn.emplace_back(entry);
    } else if (!pathSeen) {
      pathSeen = true;
      handedOn.push_back(std::string(kPathPrefix) + absoluteSearchPath(entry.substr(kPathPrefix.size())));
    }
  }
  return handedOn;
}

bool isInstalledProgram(std::string_view name, std::string_view path) {
  for (const std::string& candidate : programCandidates(name, path)) {
    struct stat facts {};
    if (::stat(candidate.c_str(), &facts) == 0 && S_ISREG(facts.st_mode) && ::access(candidate.c_str(), X_OK) == 0) {
      return true;
    }
  }
  return false;
}

}  // namespace mail
