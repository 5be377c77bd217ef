// Process-test harness: throwaway directories and bundles, running the real
// executable with a controlled environment, and before/after snapshots of a
// file tree. Everything here is test-only and may use POSIX and libplist
// directly.
//
// The implementation is split by concern:
//   harness_files.cpp    TempDir, tree removal, snapshots, job fixtures
//   harness_bundle.cpp   property lists and throwaway bundles
//   harness_process.cpp  running a child process
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/unique_fd.h"

typedef void* plist_t;

namespace harness {

namespace fs = std::filesystem;

using platform::UniqueFd;

// ---------------------------------------------------------------------------
// Temporary directories

// Removes a tree without ever following a symbolic link, giving directories
// back the permission bits needed to list and empty them (a test may leave a
// directory at 0000 or 0500). Missing paths are fine. Never throws.
void removeTree(const fs::path& path) noexcept;

// A fresh directory from mkdtemp under $TMPDIR (or /tmp), removed with
// removeTree on destruction. path() is already resolved, so a test can tell
// its own symbolic links from any the system put above it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

// Small file helpers that fail the current test (via exceptions) on error.
void writeFile(const fs::path& path, std::string_view bytes, mode_t mode = 0600);
std::string readFile(const fs::path& path);
void makeDirectory(const fs::path& path, mode_t mode = 0700);
void makeSymlink(const fs::path& target, const fs::path& link);
// Gives path and everything below it to uid/gid, links themselves and never
// what they point to.
void changeOwnerOfTree(const fs::path& path, uid_t uid, gid_t gid);

// ---------------------------------------------------------------------------
// Property lists and bundles

// An owned libplist node; copying deep-copies, so values can sit in test
// tables and be reused.
class PlistNode {
 public:
  explicit PlistNode(plist_t node);
  PlistNode(const PlistNode& other);
  PlistNode& operator=(const PlistNode& other);
  ~PlistNode();

  plist_t get() const { return node_; }
  // A deep copy that the caller owns (frees it or inserts it into a container).
  plist_t copy() const;

 private:
  plist_t node_;
};

PlistNode plistString(std::string_view text);
PlistNode plistInteger(std::uint64_t value);
PlistNode plistReal(double value);
PlistNode plistBoolean(bool value);
// Seconds since 2001-01-01 00:00:00 UTC, the property-list date epoch.
PlistNode plistDate(std::int32_t secondsSince2001);
PlistNode plistData(std::string_view bytes);
PlistNode plistArray(const std::vector<PlistNode>& items);

using PlistDict = std::vector<std::pair<std::string, PlistNode>>;
PlistNode plistDict(const PlistDict& entries);

enum class PlistFormat { xml, binary };
std::string serializePlist(const PlistNode& node, PlistFormat format = PlistFormat::xml);

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
void writeInfo(const Bundle& bundle, const PlistDict& keys, PlistFormat format = PlistFormat::xml);
void writeInfoBytes(const Bundle& bundle, std::string_view bytes);
void writeResource(const Bundle& bundle, std::string_view name, std::string_view text);
// Copies a resource of the bundle produced by the build.
void copyBuiltResource(const Bundle& bundle, std::string_view name);

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

// Runs exe with argv = {exe, args...}. Stdin is /dev/null; stdout and stderr
// are captured whole.
RunResult run(const fs::path& exe, const std::vector<std::string>& args, const Environment& env,
              std::chrono::milliseconds timeout = kDefaultTimeout);

// Runs exe with an argument vector that holds no entry at all, not even the
// program name. (Recent Linux kernels substitute a single empty string.)
RunResult runWithEmptyArgv(const fs::path& exe, const Environment& env,
                           std::chrono::milliseconds timeout = kDefaultTimeout);

// What else the child gets besides its arguments and environment. Setting
// any of umask, limits or user makes the child start through fork and exec,
// since posix_spawn can set none of them.
struct RunOptions {
  std::chrono::milliseconds timeout = kDefaultTimeout;
  std::optional<mode_t> umask;  // the child's file-creation mask; unset: inherited
  // Resource limits for the child, soft and hard alike: RLIMIT_* -> value.
  std::map<int, std::uint64_t> limits;
  // Run as this user and group, with no supplementary groups. Needs root.
  std::optional<std::pair<uid_t, gid_t>> user;
};

RunResult run(const fs::path& exe, const std::vector<std::string>& args, const Environment& env,
              const RunOptions& options);

// The account that tests running as root hand files to and run the program
// as, when they need a user other than the test runner.
inline constexpr uid_t kUnprivilegedUid = 65534;
inline constexpr gid_t kUnprivilegedGid = 65534;

std::string describe(const RunResult& result);

// The process side of every job-mode run: status 0 and not a byte of output.
void expectQuietExit(const RunResult& result);

// ---------------------------------------------------------------------------
// File-tree snapshots

struct SnapshotEntry {
  char type = '?';  // 'f' file, 'd' directory, 'l' link, 'p' fifo, 's' socket, 'c'/'b' device
  mode_t mode = 0;  // permission bits and set-id/sticky bits
  uid_t uid = 0;
  gid_t gid = 0;
  std::int64_t size = 0;
  std::int64_t mtimeNs = 0;
  std::string linkTarget;               // links only
  std::optional<std::string> contents;  // regular files up to kSnapshotContentLimit
  bool unreadable = false;              // a directory or file that could not be read

  bool operator==(const SnapshotEntry&) const = default;
};

inline constexpr std::int64_t kSnapshotContentLimit = 1 << 20;

// Relative path ("." for the root itself) → entry. Links are recorded, never
// followed.
using Snapshot = std::map<std::string, SnapshotEntry>;

Snapshot takeSnapshot(const fs::path& root);

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

// Creates home/<toolDir>/support-drafts/<jobId>/ (each level 0700, existing
// levels left as they are) with job.json (0600) and, when given, log.txt
// (0600). Returns the job directory.
fs::path prepareJob(const fs::path& home, std::string_view toolDir, std::string_view jobId,
                    std::string_view jobJson = kWellFormedJob,
                    std::optional<std::string_view> log = std::nullopt);

}  // namespace harness
