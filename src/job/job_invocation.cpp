#include "job/job_invocation.h"

#include "files/private_directory.h"
#include "job/job_contract.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace {

constexpr std::string_view kJobOption = "--job";

}  // namespace

std::optional<std::string> jobIdArgument(const std::vector<std::string>& arguments) {
  if (arguments.size() != 3) return std::nullopt;  // program path, "--job", id
  if (!platform::canonicallyEqual(arguments[1], kJobOption)) return std::nullopt;
  return arguments[2];
}

std::optional<std::string> toolDirectoryForChannel(const platform::PlistValue* channel) {
  if (channel == nullptr) return std::nullopt;
  const std::string* text = channel->as<std::string>();
  if (text == nullptr) return std::nullopt;
  return toolDirectoryName(*text);
}

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

std::optional<platform::Directory> locateJobDirectory(std::string_view home, std::string_view toolDirectory,
                                                      std::string_view jobId) {
  if (!hasNoSymbolicLinkOnPath(jobDirectoryPath(home, toolDirectory, jobId))) return std::nullopt;

  // The test above and every later use are separate lookups; holding each
  // directory open, reached without following any link, keeps a link
  // swapped in afterwards from redirecting them. From the home directory
  // down, each level must be the user's alone: whoever else could write to
  // one could swap the job's files after they are checked. The levels
  // above the home directory are the administrator's.
  auto directory = platform::Directory::openWithoutLinks(home);
  for (const std::string_view name : {toolDirectory, kDraftsDirectory, jobId}) {
    if (!directory || !privateDirectory(*directory)) return std::nullopt;
    directory = platform::Directory::openChildWithoutLinks(*directory, name);
  }
  if (!directory || !privateDirectory(*directory)) return std::nullopt;
  return directory;
}
