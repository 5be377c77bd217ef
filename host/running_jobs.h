// Which jobs a program of this user is running for right now, read from
// the process table, so that a job is never collected as ended or pruned
// while its program still works on it, whichever host started it.
#pragma once

#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace support_draft::host_side {

// The job id of a command line (the NUL-separated arguments as the process
// table gives them) when it is the program's job mode:
// ".../support-draft --job <id>".
std::optional<std::string> jobOfCommandLine(std::string_view arguments);

// The jobs of the programs that run as the effective user now (and of any
// process the process table shows as root's, as it shows undumpable ones).
std::set<std::string> jobsBeingRun();

}  // namespace support_draft::host_side
