#include "job/job_directory.h"

#include "files/private_directory.h"
#include "job/job_contract.h"
#include "platform/file_facts.h"
#include "platform/paths.h"

namespace {

// Why a directory could not be opened, from what was found where the
// opening stopped.
RuleBreach unopened(const platform::OpenStop& stop) {
  if (stop.missing) return {Reason::directoryMissing, stop.path};
  if (stop.facts && stop.facts->isSymbolicLink.value_or(false)) return {Reason::directoryLinked, stop.path};
  if (stop.facts && !stop.facts->isDirectory.value_or(false)) return {Reason::directoryNotDirectory, stop.path};
  return {Reason::directoryUnreadable, stop.path};
}

// The opening with `directory` when it is the user's alone.
DirectoryOpening judged(platform::Directory directory) {
  DirectoryOpening opening;
  if (const auto reason = privateDirectoryProblem(directory)) {
    opening.breach = RuleBreach{*reason, directory.path()};
  } else {
    opening.directory = std::move(directory);
  }
  return opening;
}

DirectoryOpening breached(RuleBreach breach) { return {std::nullopt, std::move(breach), std::nullopt, {}}; }

}  // namespace

std::string jobDirectoryPath(std::string_view home, std::string_view toolDirectory, std::string_view jobId) {
  using platform::appendingPathComponent;
  return appendingPathComponent(appendingPathComponent(appendingPathComponent(home, toolDirectory),
                                                       kDraftsDirectory),
                                jobId);
}

bool hasNoSymbolicLinkOnPath(std::string_view path) {
  const auto resolved = platform::resolvingSymlinksInPath(path);
  if (!resolved) return false;
  return platform::standardizedPath(*resolved) == platform::standardizedPath(path);
}

namespace {

// The shortest leading part of `path`, taken component by component as
// written, that fails hasNoSymbolicLinkOnPath(): the first link on the way.
// Nothing when the whole path passes.
std::optional<std::string> firstLinkOnPath(std::string_view path) {
  for (std::size_t end = path.find('/', 1); end != std::string_view::npos; end = path.find('/', end + 1)) {
    if (!hasNoSymbolicLinkOnPath(path.substr(0, end))) return std::string(path.substr(0, end));
  }
  if (!hasNoSymbolicLinkOnPath(path)) return std::string(path);
  return std::nullopt;
}

}  // namespace

DirectoryOpening openPrivateLevel(const platform::Directory& parent, std::string_view name) {
  platform::OpenStop stop;
  auto child = platform::Directory::openChildWithoutLinks(parent, name, &stop);
  if (!child) return breached(unopened(stop));
  return judged(std::move(*child));
}

DirectoryOpening openJobLevels(std::string_view home, const std::vector<std::string_view>& levels) {
  if (home.empty() || home.front() != '/') return breached({Reason::homeNotAbsolute, std::string(home)});
  std::string path(home);
  for (const std::string_view level : levels) path = platform::appendingPathComponent(path, level);
  if (!hasNoSymbolicLinkOnPath(path)) return breached({Reason::directoryLinked, firstLinkOnPath(path).value_or(path)});

  // The test above and every later use are separate lookups; holding each
  // directory open, reached without following any link, keeps a link
  // swapped in afterwards from redirecting them. From the home directory
  // down, each level must be the user's alone: whoever else could write to
  // one could swap the job's files after they are checked. The levels
  // above the home directory are the administrator's.
  platform::OpenStop stop;
  auto homeDirectory = platform::Directory::openWithoutLinks(home, &stop);
  if (!homeDirectory) {
    RuleBreach breach = unopened(stop);
    if (breach.reason == Reason::directoryMissing) breach = {Reason::homeNotFound, std::string(home)};
    return breached(std::move(breach));
  }
  DirectoryOpening opening = judged(std::move(*homeDirectory));
  for (const std::string_view level : levels) {
    if (!opening.directory) return opening;
    DirectoryOpening next = openPrivateLevel(*opening.directory, level);
    if (next.breach && next.breach->reason == Reason::directoryMissing) {
      next.parent = std::move(opening.directory);
      next.missingName = std::string(level);
    }
    opening = std::move(next);
  }
  return opening;
}

DirectoryOpening locateJobDirectory(std::string_view home, std::string_view toolDirectory, std::string_view jobId) {
  return openJobLevels(home, {toolDirectory, kDraftsDirectory, jobId});
}
