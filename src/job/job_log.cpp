#include "job/job_log.h"

#include "job/job_contract.h"
#include "platform/file_facts.h"
#include "platform/file_io.h"

namespace {

constexpr auto kLogLimit = static_cast<std::size_t>(kMaxLogSize);

LogInput refused(Reason reason, const std::string& path) { return {std::nullopt, RuleBreach{reason, path}}; }

// The newest bytes of a log of `size` bytes, from the first line that
// begins within the last kMaxLogSize of them. The byte before that window
// is read too: when it ends a line, the window begins with a whole one.
// When no line begins within the window (the newest line alone is longer
// than the limit), that line's newest bytes are taken, from where a
// character begins: an empty log would hide the very line that matters.
std::optional<std::string> newestLines(const platform::UniqueFd& file, std::int64_t size) {
  if (size <= kMaxLogSize) return platform::readAtMost(file, kLogLimit);
  if (!platform::seekTo(file, size - kMaxLogSize - 1)) return std::nullopt;
  auto window = platform::readAtMost(file, kLogLimit + 1);
  if (!window) return std::nullopt;
  const auto lineEnd = window->find('\n');
  if (lineEnd != std::string::npos && lineEnd + 1 < window->size()) return window->substr(lineEnd + 1);
  std::size_t start = window->size() > kLogLimit ? window->size() - kLogLimit : 0;
  // At most three continuation bytes of a UTF-8 character.
  for (int skipped = 0; skipped < 3 && start < window->size() &&
                        (static_cast<unsigned char>((*window)[start]) & 0xC0) == 0x80;
       ++skipped) {
    ++start;
  }
  return window->substr(start);
}

// What log.txt's check says for each way it can fail.
constexpr PrivateFileReasons kLogFileReasons{Reason::logUnreadable,     Reason::logLinked,   Reason::logIsDirectory,
                                             Reason::logNotRegularFile, Reason::logTooLarge, Reason::logNotOwned,
                                             Reason::logNotPrivate};

}  // namespace

std::optional<RuleBreach> logBreach(const platform::FileLocation& log) {
  const auto reason = privateFileProblem(log, kMaxLogSize, kLogFileReasons);
  if (!reason) return std::nullopt;
  return RuleBreach{*reason, log.path()};
}

LogInput readLogInput(const std::string& path, LogPart part) {
  const auto file = platform::openPathForReading(path);
  if (!file) return refused(Reason::logUnreadable, path);
  const auto facts = platform::fileFacts(*file);
  if (!facts || !facts->size) return refused(Reason::logUnreadable, path);
  if (facts->isDirectory.value_or(false)) return refused(Reason::logIsDirectory, path);
  if (!facts->isRegularFile.value_or(false)) return refused(Reason::logNotRegularFile, path);
  if (part == LogPart::whole && *facts->size > kMaxLogSize) return refused(Reason::logTooLarge, path);

  LogInput input;
  input.bytes = part == LogPart::whole ? platform::readAtMost(*file, kLogLimit + 1) : newestLines(*file, *facts->size);
  if (!input.bytes) return refused(Reason::logUnreadable, path);
  // The log may grow while it is read: what is taken stays within the limit.
  if (input.bytes->size() > kLogLimit) return refused(Reason::logTooLarge, path);
  return input;
}
