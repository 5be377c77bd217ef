// The first stage of a job: the command line, the job id, the channel and a
// job directory with no symbolic link on its path and no other writer. The
// facts come in as values; processJob fetches them from the process.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "job/job_contract.h"
#include "platform/directory.h"
#include "platform/plist_value.h"

// The job id from a job command line (`--job <id>`, program path dropped),
// still unchecked; nothing for any other command line.
std::optional<std::string> jobIdArgument(const std::vector<std::string>& arguments);

// The key of the bundle's information dictionary that names the channel.
inline constexpr std::string_view kChannelKey = "QuorvelChannel";

// The tool directory name for the bundle's channel value: ".vantrel-devtool-dev"
// for "dev", ".vantrel-devtool" for "prod"; nothing for an absent value, a
// value that is not text, or any other text.
std::optional<std::string> toolDirectoryForChannel(const platform::PlistValue* channel);

// `home`/`toolDirectory`/support-drafts/`jobId`, as built, not resolved.
std::string jobDirectoryPath(std::string_view home, std::string_view toolDirectory, std::string_view jobId);

// True when resolving every symbolic link on `path` changes nothing beyond
// what standardising the path changes: no link lies anywhere on it.
bool hasNoSymbolicLinkOnPath(std::string_view path);

// The job directory `home`/`toolDirectory`/support-drafts/`jobId`, opened
// without following links, when no link lies on its path and the home
// directory and each directory below it down to the job directory are
// owned by the user (or the superuser) and closed to writing by others;
// nothing otherwise. The job id must already be canonical.
std::optional<platform::Directory> locateJobDirectory(std::string_view home, std::string_view toolDirectory,
                                                      std::string_view jobId);
