// Process-test harness: throwaway directories and bundles, running the real
// executable with a controlled environment, and before/after snapshots of a
// file tree. Everything here is test-only and may use POSIX and libplist
// directly.
//
// The process tests and the attack harness share it. The implementation is
// split by concern:
//   harness_files.cpp    file helpers, snapshots, job fixtures
//   harness_bundle.cpp   property lists and throwaway bundles
//   harness_process.cpp  running a child process
//   mailto.cpp           decoding the mailto: URI a composer is handed
#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/child_process.h"
#include "platform/unique_fd.h"
#include "testing/scratch_directory.h"

namespace harness {

namespace fs = std::filesystem;

using platform::UniqueFd;

// ---------------------------------------------------------------------------
// Temporary directories

using testing_support::removeTree;

// The scratch directory with its path as a filesystem path.
class TempDir {
 public:
  const fs::path& path() const { return path_; }
  void keep() { scratch_.keep(); }

 private:
  testing_support::ScratchDirectory scratch_;
  fs::path path_{scratch_.path()};
};

// Small file helpers that fail the current test (via exceptions) on error.
void writeFile(const fs::path& path, std::string_view bytes, mode_t mode = 0600);
std::string readFile(const fs::path& path);
// The bytes of a file, never through a symbolic link and never waiting on a
// FIFO; nothing when it cannot be opened or read.
std::optional<std::string> readFileIfPresent(const fs::path& path);
void makeDirectory(const fs::path& path, mode_t mode = 0700);
void makeSymlink(const fs::path& target, const fs::path& link);
// Puts a built program at `placed` (mode 0755): a hard link where the file
// system allows one, since the programs are large and no test changes them,
// and a copy elsewhere. Either finds its bundle by the path it was started
// through.
void placeProgram(const fs::path& built, const fs::path& placed);
// Gives path and everything below it to uid/gid, links themselves and never
// what they point to.
void changeOwnerOfTree(const fs::path& path, uid_t uid, gid_t gid);

// ---------------------------------------------------------------------------
// Property lists and bundles

// A property-list value as the XML text that stands for it, so that values
// can sit in test tables and be nested.
struct PlistValue {
  std::string xml;
};

PlistValue plistString(std::string_view text);
PlistValue plistInteger(std::uint64_t value);
PlistValue plistReal(double value);
PlistValue plistBoolean(bool value);
// Seconds since 2001-01-01 00:00:00 UTC, the property-list date epoch.
PlistValue plistDate(std::int32_t secondsSince2001);
PlistValue plistData(std::string_view bytes);
PlistValue plistArray(const std::vector<PlistValue>& items);

using PlistDict = std::vector<std::pair<std::string, PlistValue>>;
PlistValue plistDict(const PlistDict& entries);

// A whole XML property list whose top object is the dictionary.
std::string xmlPlist(const PlistDict& entries);

// The keys a packaged bundle normally carries, with the given channel.
PlistDict standardInfo(std::string_view channel);
// The same without QuorvelChannel, for tests that supply their own value.
PlistDict standardInfoWithoutChannel();

struct Bundle {
  fs::path root;        // <dir>/SupportDraft.app
  fs::path executable;  // Contents/MacOS/support-draft
  fs::path infoPlist;   // Contents/Info.plist
  fs::path resources;   // Contents/Resources
};

// Lays out <dir>/SupportDraft.app with a copy of the built executable (mode
// 0755) and an empty Resources directory; no Info.plist yet.
Bundle makeBundle(const fs::path& dir);
void writeInfo(const Bundle& bundle, const PlistDict& keys);
void writeInfoBytes(const Bundle& bundle, std::string_view bytes);
void writeResource(const Bundle& bundle, std::string_view name, std::string_view text);
// Copies a resource of the bundle produced by the build.
void copyBuiltResource(const Bundle& bundle, std::string_view name);
// Puts a helper program of the built bundle (Contents/MacOS/<name>) beside
// the executable, as a hard link where the file system allows one.
void linkBuiltHelper(const Bundle& bundle, std::string_view name);

// A mail draft script whose handler reports success without touching
// anything, so that a whole job can run inside a test.
extern const std::string_view kSucceedingMailScript;

// ---------------------------------------------------------------------------
// Running the executable

using Environment = std::map<std::string, std::string>;

// PATH=/usr/bin:/bin and HOME=<home>, nothing else (in particular no LANG or
// LC_*), except the sanitizer option variables when the test runner has
// them, so that a sanitizer build reports the same way in the child.
Environment minimalEnvironment(const fs::path& home);

struct RunResult {
  bool started = false;          // the spawn itself succeeded
  bool timedOut = false;         // killed after the timeout
  std::optional<int> exitStatus; // set when the child exited normally
  std::optional<int> signal;     // set when a signal ended it
  bool outputLeftOpen = false;   // a descendant kept stdout/stderr open after the child ended
  std::string out;
  std::string err;
};

inline constexpr std::chrono::milliseconds kDefaultTimeout{30'000};
// How long the output pipes may stay open after the child has ended. Only a
// descendant that inherited them can hold them that long.
inline constexpr std::chrono::milliseconds kDefaultOutputGrace{2'000};

// Runs exe with argv = {exe, args...}. Stdin is /dev/null; stdout and stderr
// are captured whole.
RunResult run(const fs::path& exe, const std::vector<std::string>& args, const Environment& env,
              std::chrono::milliseconds timeout = kDefaultTimeout);

// Runs exe with an argument vector that holds no entry at all, not even the
// program name. (Recent Linux kernels substitute a single empty string.)
RunResult runWithEmptyArgv(const fs::path& exe, const Environment& env,
                           std::chrono::milliseconds timeout = kDefaultTimeout);

// What else the child gets besides its arguments and environment. A user,
// a working directory, ignored signals and resource limits are set up by
// setpriv, env and prlimit, which the child starts through (each execs the
// next); a program that is missing then ends with their status 127 instead
// of not starting.
struct RunOptions {
  std::chrono::milliseconds timeout = kDefaultTimeout;
  // How long to go on reading after the child has ended before the output
  // counts as held open by a descendant.
  std::chrono::milliseconds outputGrace = kDefaultOutputGrace;
  std::optional<mode_t> umask;  // the child's file-creation mask; unset: inherited
  // Run as this user and group, with no supplementary groups. Needs root.
  std::optional<std::pair<uid_t, gid_t>> user;
  // The child's current directory, entered as that user; unset: inherited.
  std::optional<fs::path> workingDirectory;
  // Signals the child starts with ignored, as a parent that ignores them
  // hands them on across exec; every other signal has its default.
  std::vector<int> ignoredSignals;
  // Resource limits (RLIMIT_CPU, RLIMIT_AS, ...) set as both soft and hard
  // limit: a CPU-time limit bounds a test by work done, not by a clock.
  std::map<int, rlim_t> limits;
  // Standard output is a pipe whose reading end is already closed, as when
  // the reader went away: every write to it fails with EPIPE.
  bool outputReaderGone = false;
};

RunResult run(const fs::path& exe, const std::vector<std::string>& args, const Environment& env,
              const RunOptions& options);

// A program that runs beside a test, such as a stand-in service on a bus
// of its own: started with a pipe as its standard input, it says that it is
// ready with a first line on its standard output, and is to end once its
// standard input is closed. Its standard error is the test's.
class Companion {
 public:
  // Starts `exe` and waits for its first line (or its end), at most for
  // kDefaultTimeout: a bound for a machine that is merely slow.
  Companion(const fs::path& exe, const std::vector<std::string>& args, const Environment& env);
  // Closes its standard input and waits for its end; kills its process
  // group when it has not ended within kDefaultTimeout.
  ~Companion();
  Companion(const Companion&) = delete;
  Companion& operator=(const Companion&) = delete;

  // The first line it wrote, without its line feed; nothing when it ended
  // or could not be started before writing one.
  const std::optional<std::string>& readyLine() const { return readyLine_; }

 private:
  std::optional<std::string> readyLine_;
  UniqueFd input_;
  UniqueFd output_;
  std::optional<platform::Child> child_;
};

// The account that tests running as root hand files to and run the program
// as, when they need a user other than the test runner.
inline constexpr uid_t kUnprivilegedUid = 65534;
inline constexpr gid_t kUnprivilegedGid = 65534;

std::string describe(const RunResult& result);

// ---------------------------------------------------------------------------
// File-tree snapshots

struct SnapshotEntry {
  char type = '?';  // 'f' file, 'd' directory, 'l' link, 'p' fifo, 's' socket, 'c'/'b' device
  mode_t mode = 0;  // permission bits and set-id/sticky bits
  uid_t uid = 0;
  gid_t gid = 0;
  std::int64_t size = 0;
  std::int64_t mtimeNs = 0;
  ino_t inode = 0;                      // only when SnapshotOptions::inodes
  std::string linkTarget;               // links only
  std::optional<std::string> contents;  // regular files up to kSnapshotContentLimit
  bool unreadable = false;              // a directory or file that could not be read

  bool operator==(const SnapshotEntry&) const = default;
};

inline constexpr std::int64_t kSnapshotContentLimit = 1 << 20;

// Relative path ("." for the root itself) → entry. Links are recorded, never
// followed.
using Snapshot = std::map<std::string, SnapshotEntry>;

struct SnapshotOptions {
  // Relative paths left out, with everything below them.
  std::set<std::string> skipped;
  // Directories whose entries are renamed back and forth while a snapshot is
  // taken: their entries still count, their time and size do not.
  std::set<std::string> timeless;
  // Inode numbers too, so that an entry replaced by an identical one counts
  // as changed.
  bool inodes = false;
};

Snapshot takeSnapshot(const fs::path& root, const SnapshotOptions& options = {});

struct SnapshotChange {
  enum Kind { added, removed, changed } kind;
  std::string path;
  std::string detail;
};

std::vector<SnapshotChange> compareSnapshots(const Snapshot& before, const Snapshot& after);
// One line per change; empty when the snapshots agree.
std::string formatChanges(const std::vector<SnapshotChange>& changes);

// ---------------------------------------------------------------------------
// Job fixtures

inline constexpr std::string_view kDevToolDir = ".vantrel-devtool-dev";
inline constexpr std::string_view kProdToolDir = ".vantrel-devtool";
std::string_view toolDirFor(std::string_view channel);

// A well-formed job document that asks for no log.
extern const std::string_view kWellFormedJob;

// The text of a job document with the given fields, as the host would write
// it (UTF-8, not ASCII-escaped).
std::string jobJson(std::string_view subject, std::string_view body, bool attachLogs);

// Creates home/<toolDir>/support-drafts/<jobId>/ (each level 0700, existing
// levels left as they are) with job.json (0600) and, when given, log.txt
// (0600). Returns the job directory.
fs::path prepareJob(const fs::path& home, std::string_view toolDir, std::string_view jobId,
                    std::string_view jobJson = kWellFormedJob,
                    std::optional<std::string_view> log = std::nullopt);

}  // namespace harness
