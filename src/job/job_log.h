// The log a job attaches: log.txt in the job directory, which the program
// hands to the mail client, and the host's own log file it is copied from.
#pragma once

#include <optional>
#include <string>

#include "files/private_file.h"
#include "job/rule_breach.h"
#include "platform/directory.h"

// The rule log.txt breaks in the job directory, or nothing: the user's
// private regular file, not a link, at most kMaxLogSize bytes. The program
// attaches no log that breaks one.
std::optional<RuleBreach> logBreach(const platform::FileLocation& log);

// How much of the host's log to take.
enum class LogPart {
  whole,   // all of it; a log over kMaxLogSize bytes is logTooLarge
  newest,  // the newest kMaxLogSize bytes at most, from the first line that
           // begins within them (all of a smaller log)
};

// The host's log file at `path` (a link is followed: the file is the host's
// own, and only its bytes are copied), read for writing as log.txt; or why
// not: logUnreadable, logIsDirectory, logNotRegularFile, logTooLarge.
struct LogInput {
  std::optional<std::string> bytes;
  std::optional<RuleBreach> breach;
};
LogInput readLogInput(const std::string& path, LogPart part);
