// Swap attack harness. Runs `support-draft --job <id>` again and again in a
// throwaway home while a second thread keeps swapping the job's files and
// every directory on its path for links into a decoy home, FIFOs and files
// of another user. Every run must exit 0 silently and in time, the decoy's
// marker text must never reach the composer, and nothing outside the job
// directory may change. The program may accept or refuse a run; both must
// happen now and then, or the attack proved nothing.
//
// Run as root, every other run faces another user instead (uid 65534): one
// level of the job's path, from the home directory down, is opened to that
// user's writing in turn (or none is), and that user swaps log.txt and the
// directories for links to the decoy wherever the modes let it. The
// composer then reads the attachment a moment after it was handed the path,
// as a mail client does. A job with a level that user can write to must
// stop silently, and every attachment read must be the job's own log.
//
//   attack_harness [--runs N] [--timeout S] [--good-rounds N] [--bad-rounds N]
//                  [--careless] [--keep]
//
// --careless replaces the program with a runner that follows every link, to
// show that the checks catch a program that does.
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "harness.h"
#include "mailto.h"
#include "other_user.h"
#include "setup.h"
#include "swapper.h"

namespace attack {
namespace {

using harness::makeDirectory;
using harness::writeFile;

// What a file holds, read without following a link or waiting on a FIFO;
// empty when it is missing.
std::string readFile(const std::string& path) { return harness::readFileIfPresent(path).value_or(""); }

constexpr uid_t kOtherUser = 65534;  // nobody
constexpr const char* kGoodSubject = "Support Request - Quorvel swap attack";
constexpr const char* kGoodBody = "Only the job directory's own files may be used.\nLine two.";
constexpr const char* kGoodLog = "2026-01-01 00:00:00 the good log\n";

struct Options {
  unsigned runs = 2000;
  bool otherUser = false;  // alternate with runs against another user (needs root)
  int timeoutSeconds = 10;
  Timing timing{0, 0};
  bool careless = false;
  bool keep = false;
};

std::string randomHex(std::size_t bytes) {
  std::random_device device;
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  for (std::size_t i = 0; i < bytes; ++i) {
    const unsigned byte = device() & 0xff;
    out += kHex[byte >> 4];
    out += kHex[byte & 0xf];
  }
  return out;
}

std::string newJobId() {
  const std::string hex = randomHex(16);
  return hex.substr(0, 8) + "-" + hex.substr(8, 4) + "-4" + hex.substr(13, 3) + "-8" + hex.substr(17, 3) +
         "-" + hex.substr(20, 12);
}

// Where everything lives. The real job path and its decoy twin have the
// same shape, so a link at any level leads to a complete, valid job.
struct Layout {
  std::string root, home, tool, drafts, jobDir;
  std::string decoyHome, decoyTool, decoyDrafts, decoyJobDir, secret;
  std::string stage, bundle, program, composer, recordDir, record;
  std::string readAttachments, attachment;  // the composer's switch and what it read
  std::string jobId, marker;
};

Layout makeLayout(const std::string& root) {
  Layout l;
  l.root = root;
  l.jobId = newJobId();
  l.marker = "DECOY-MARKER-" + randomHex(12);
  l.home = root + "/home";
  l.tool = l.home + "/" ATTACK_TOOL_DIRECTORY;
  l.drafts = l.tool + "/support-drafts";
  l.jobDir = l.drafts + "/" + l.jobId;
  l.decoyHome = root + "/decoy";
  l.decoyTool = l.decoyHome + "/" ATTACK_TOOL_DIRECTORY;
  l.decoyDrafts = l.decoyTool + "/support-drafts";
  l.decoyJobDir = l.decoyDrafts + "/" + l.jobId;
  l.secret = l.decoyHome + "/secret.txt";
  l.stage = root + "/stage";
  l.bundle = root + "/bundle/SupportDraft.app";
  l.program = l.bundle + "/Contents/MacOS/support-draft";
  l.composer = root + "/bin/composer";
  l.recordDir = root + "/record";
  l.record = l.recordDir + "/uris";
  l.readAttachments = l.recordDir + "/read-attachments";
  l.attachment = l.recordDir + "/attachment";
  return l;
}

void makeJobTree(const Layout& l, const std::string& home, const std::string& subject,
                 const std::string& body, const std::string& log) {
  harness::prepareJob(home, ATTACK_TOOL_DIRECTORY, l.jobId, harness::jobJson(subject, body, true), log);
}

void makeFifo(const std::string& path) {
  if (::mkfifo(path.c_str(), 0600) != 0) fail("mkfifo " + path + ": " + std::strerror(errno));
}

void giveToOtherUser(const std::string& path) {
  if (::chown(path.c_str(), kOtherUser, kOtherUser) != 0) fail("chown " + path + ": " + std::strerror(errno));
}

// A runner that trusts every path it is handed: it reads through links,
// blocks on a FIFO and writes its result wherever the path leads.
std::string carelessRunner() {
  return "#!/bin/bash\n"
         "dir=\"$HOME/" ATTACK_TOOL_DIRECTORY
         "/support-drafts/$2\"\n"
         "json=$(cat \"$dir/job.json\" 2>/dev/null) || exit 0\n"
         "subject=$(printf '%s' \"$json\" | sed -n 's/.*\"subject\":\"\\([^\"]*\\)\".*/\\1/p')\n"
         "\"$MAILER\" \"mailto:?subject=${subject// /%20}&body=&attach=$dir/log.txt\"\n"
         "printf '{\"ok\":true}' >\"$dir/result.json\" 2>/dev/null\n"
         "exit 0\n";
}

void prepare(const Layout& l, const Options& options) {
  makeJobTree(l, l.home, kGoodSubject, kGoodBody, kGoodLog);

  // The decoy: a whole second home whose job is valid and full of the marker.
  makeJobTree(l, l.decoyHome, std::string("Support Request - Quorvel ") + l.marker, l.marker,
              l.marker + "\n");
  writeFile(l.secret, l.marker + "\n", 0600);

  makeDirectory(l.stage, 0700);
  harness::makeSymlink(l.decoyHome, l.stage + "/home-link");
  harness::makeSymlink(l.decoyTool, l.stage + "/tool-link");
  harness::makeSymlink(l.decoyDrafts, l.stage + "/drafts-link");
  harness::makeSymlink(l.decoyJobDir, l.stage + "/jobdir-link");
  harness::makeSymlink(l.decoyJobDir + "/job.json", l.stage + "/job-link");
  harness::makeSymlink(l.secret, l.stage + "/log-link");
  makeFifo(l.stage + "/job-fifo");
  makeFifo(l.stage + "/log-fifo");
  if (::geteuid() == 0) {
    // Private in every other respect, and the job it holds is valid.
    writeFile(l.stage + "/job-other", readFile(l.decoyJobDir + "/job.json"), 0600);
    giveToOtherUser(l.stage + "/job-other");
    writeFile(l.stage + "/log-other", l.marker + "\n", 0600);
    giveToOtherUser(l.stage + "/log-other");
  }

  namespace fs = std::filesystem;
  fs::create_directories(l.root + "/bundle");
  fs::copy(ATTACK_BUNDLE, l.bundle, fs::copy_options::recursive);
  if (options.careless) {
    fs::remove(l.program);
    writeFile(l.program, carelessRunner(), 0755);
  }

  makeDirectory(l.root + "/bin", 0755);
  writeFile(l.composer,
            R"(#!/bin/bash
# Records the mailto: URI it is handed. When switched on, it also reads the
# attachment a moment later, as a mail client does.
printf '%s\n' "$1" >>"$ATTACK_RECORD"
record=${ATTACK_RECORD%/*}
[[ -e "$record/read-attachments" ]] || exit 0
IFS='&' read -ra fields <<<"${1#mailto:?}"
path=
for field in "${fields[@]}"; do
  [[ $field == attach=* ]] && path=${field#attach=}
done
printf -v path '%b' "${path//%/\\x}"
sleep 0.02
timeout 2 cat -- "$path" >"$record/attachment" 2>/dev/null ||
  printf 'UNREADABLE %s' "$path" >"$record/attachment"
)",
            0755);
  makeDirectory(l.recordDir, 0700);
}

// The descriptors the swapper works through, kept open for the whole pass.
struct SwapTargets {
  Fd root, home, tool, drafts, jobDir, stage;
  std::vector<Swap> plan;
};

SwapTargets swapTargets(const Layout& l) {
  SwapTargets t;
  t.root = openDirectory(l.root);
  t.home = openDirectory(l.home);
  t.tool = openDirectory(l.tool);
  t.drafts = openDirectory(l.drafts);
  t.jobDir = openDirectory(l.jobDir);
  t.stage = openDirectory(l.stage);
  const int s = t.stage.get();
  const std::string tool = ATTACK_TOOL_DIRECTORY;
  // The file swaps come round most often: they are the ones a careless
  // check-then-open gets wrong.
  t.plan = {
      {t.jobDir.get(), "job.json", s, "job-link", "job.json <-> link to decoy job"},
      {t.jobDir.get(), "log.txt", s, "log-link", "log.txt <-> link to decoy secret"},
      {t.drafts.get(), l.jobId, s, "jobdir-link", "job directory <-> link to decoy"},
      {t.jobDir.get(), "job.json", s, "job-fifo", "job.json <-> FIFO"},
      {t.jobDir.get(), "log.txt", s, "log-fifo", "log.txt <-> FIFO"},
      {t.tool.get(), "support-drafts", s, "drafts-link", "support-drafts <-> link to decoy"},
      {t.jobDir.get(), "job.json", s, "job-link", "job.json <-> link to decoy job"},
      {t.home.get(), tool, s, "tool-link", "tool directory <-> link to decoy"},
      {t.jobDir.get(), "log.txt", s, "log-link", "log.txt <-> link to decoy secret"},
      {t.root.get(), "home", s, "home-link", "home <-> link to decoy home"},
  };
  if (::geteuid() == 0) {
    t.plan.push_back({t.jobDir.get(), "job.json", s, "job-other", "job.json <-> file of another user"});
    t.plan.push_back({t.jobDir.get(), "log.txt", s, "log-other", "log.txt <-> file of another user"});
  }
  return t;
}

// Watches the decoy and the bundle for any change at all, so that a change
// made and undone within one run is still seen.
class ChangeWatch {
 public:
  explicit ChangeWatch(const Layout& l) : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    if (!fd_) fail(std::string("inotify_init1: ") + std::strerror(errno));
    constexpr std::uint32_t kMask = IN_CREATE | IN_DELETE | IN_MODIFY | IN_ATTRIB | IN_MOVED_FROM |
                                    IN_MOVED_TO | IN_CLOSE_WRITE | IN_DELETE_SELF | IN_MOVE_SELF;
    for (const std::string& dir :
         {l.decoyHome, l.decoyTool, l.decoyDrafts, l.decoyJobDir, l.bundle, l.bundle + "/Contents",
          l.bundle + "/Contents/MacOS", l.bundle + "/Contents/Resources", l.root + "/bin"}) {
      if (::inotify_add_watch(fd_.get(), dir.c_str(), kMask) < 0) {
        fail("inotify_add_watch " + dir + ": " + std::strerror(errno));
      }
    }
  }

  // The number of events since the last call.
  unsigned drain() {
    unsigned events = 0;
    alignas(inotify_event) char buffer[8192];
    for (;;) {
      const ssize_t got = ::read(fd_.get(), buffer, sizeof buffer);
      if (got <= 0) return events;
      for (ssize_t at = 0; at < got;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        ++events;
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      }
    }
  }

 private:
  Fd fd_;
};

struct RunOutcome {
  bool exited = false;
  int status = 0;
  bool hung = false;
  std::string out, err;
};

// Starts the program with a minimal environment and no locale, and waits at
// most `timeoutSeconds` for it; a program still running then is killed.
RunOutcome runProgram(const Layout& l, int timeoutSeconds) {
  harness::RunOptions options;
  options.timeout = std::chrono::seconds(timeoutSeconds);
  const harness::RunResult result =
      harness::run(l.program, {"--job", l.jobId},
                   {{"PATH", "/usr/bin:/bin"}, {"HOME", l.home}, {"MAILER", l.composer}, {"ATTACK_RECORD", l.record}},
                   options);
  if (!result.started) fail("could not start " + l.program);
  RunOutcome outcome;
  outcome.hung = result.timedOut;
  outcome.exited = result.exitStatus.has_value();
  outcome.status = result.exitStatus ? *result.exitStatus : -result.signal.value_or(0);
  outcome.out = result.out;
  outcome.err = result.err;
  return outcome;
}

// Whether the marker stands in the URI as it is or in one of its decoded
// fields. (A URI that does not decode is judged inconsistent anyway.)
bool carriesMarker(const std::string& uri, const std::string& marker) {
  if (uri.find(marker) != std::string::npos) return true;
  for (const auto& [name, value] : harness::decodeMailto(uri).fields) {
    if (value.find(marker) != std::string::npos) return true;
  }
  return false;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    out.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

struct Tally {
  unsigned runs = 0, drafts = 0, failedDrafts = 0, silentStops = 0;
  unsigned leaks = 0, hangs = 0, outsideChanges = 0, badExits = 0, output = 0, inconsistent = 0, litter = 0;
  std::uint64_t swaps = 0;
  // Runs against the other user: how many, how many with a level that user
  // could write to (and of those, how many were not stopped silently), and
  // the attachments the composer read.
  unsigned otherUserRuns = 0, openLevelRuns = 0, openLevelAccepted = 0, attachmentsRead = 0;
  std::uint64_t otherUserSwaps = 0;
  std::vector<std::string> notes;  // the first few violations, for the report

  unsigned violations() const {
    return leaks + hangs + outsideChanges + badExits + output + inconsistent + litter + openLevelAccepted;
  }
  void note(unsigned run, const std::string& what) {
    if (notes.size() < 12) notes.push_back("run " + std::to_string(run) + ": " + what);
  }
};

enum class Verdict { draft, failedDraft, silentStop, inconsistent };

// What the result document and the composer's record say together.
Verdict judge(const Layout& l, const std::optional<nlohmann::json>& result,
              const std::vector<std::string>& uris, std::string& why) {
  if (!result) {
    if (uris.empty()) return Verdict::silentStop;
    why = "the composer was called but there is no result.json";
    return Verdict::inconsistent;
  }
  if (*result == nlohmann::json{{"ok", false}, {"code", "DRAFT_FAILED"}}) {
    if (uris.empty()) return Verdict::failedDraft;
    why = "DRAFT_FAILED although the composer was called";
    return Verdict::inconsistent;
  }
  if (*result != nlohmann::json{{"ok", true}}) {
    why = "unexpected result.json " + result->dump();
    return Verdict::inconsistent;
  }
  if (uris.size() != 1) {
    why = "ok:true with " + std::to_string(uris.size()) + " composer calls";
    return Verdict::inconsistent;
  }
  const harness::DecodedUri decoded = harness::decodeMailto(uris.front());
  std::map<std::string, std::string> expected = {
      {"subject", kGoodSubject}, {"body", kGoodBody}, {"attach", l.jobDir + "/log.txt"}};
  // The bundle's script addresses its drafts to the recipient it was built with.
  if (!std::string_view(SUPPORT_DRAFT_BUNDLE_RECIPIENT).empty()) expected["to"] = SUPPORT_DRAFT_BUNDLE_RECIPIENT;
  if (!decoded.error.empty() || decoded.fields != expected) {
    why = "the draft is not the job's: " + uris.front();
    return Verdict::inconsistent;
  }
  return Verdict::draft;
}

// result.json as the host would read it: a private regular file holding a
// JSON document. Anything else there counts as an unparsable result.
std::optional<nlohmann::json> readResult(const Layout& l, bool& malformed) {
  const std::string path = l.jobDir + "/result.json";
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return std::nullopt;
  auto parsed = nlohmann::json::parse(readFile(path), nullptr, false);
  malformed = !S_ISREG(st.st_mode) || (st.st_mode & 07777) != 0600 || st.st_uid != ::geteuid() ||
              parsed.is_discarded();
  return parsed;
}

// The levels of the job's path, from the home directory down, one of which
// a run against the other user opens to that user's writing.
std::vector<std::string> pathLevels(const Layout& l) { return {l.home, l.tool, l.drafts, l.jobDir}; }

// What the other user tries to replace in each level: the entry below it,
// and in the job directory log.txt.
std::vector<Lure> otherUserLures(const Layout& l, const SwapTargets& targets) {
  return {
      {targets.home.get(), ATTACK_TOOL_DIRECTORY, l.decoyTool, "tool directory <-> other user's link"},
      {targets.tool.get(), "support-drafts", l.decoyDrafts, "support-drafts <-> other user's link"},
      {targets.drafts.get(), l.jobId, l.decoyJobDir, "job directory <-> other user's link"},
      {targets.jobDir.get(), "log.txt", l.secret, "log.txt <-> other user's link to the secret"},
  };
}

void changeMode(const std::string& path, mode_t mode) {
  if (::chmod(path.c_str(), mode) != 0) fail("chmod " + path + ": " + std::strerror(errno));
}

// Runs the program against the other user, with the given level (if any)
// open to that user's writing for the length of the run.
RunOutcome runAgainstOtherUser(const Layout& l, const Options& options, const SwapTargets& targets,
                               const std::optional<std::string>& openLevel, mode_t openMode, Tally& tally) {
  if (openLevel) changeMode(*openLevel, openMode);
  RunOutcome outcome;
  {
    OtherUserAttacker attacker(kOtherUser, kOtherUser, otherUserLures(l, targets), options.timing);
    if (openLevel && attacker.planted() == 0) fail("the other user could not plant a link in " + *openLevel);
    if (!openLevel && attacker.planted() != 0) fail("the other user planted a link in a closed directory");
    outcome = runProgram(l, options.timeoutSeconds);
    attacker.stop();
    tally.otherUserSwaps += attacker.swapsDone();
  }
  if (openLevel) changeMode(*openLevel, 0700);
  return outcome;
}

void attackOnce(const Layout& l, const Options& options, const SwapTargets& targets, ChangeWatch& watch,
                Tally& tally) {
  const unsigned run = ++tally.runs;
  ::unlink((l.jobDir + "/result.json").c_str());
  ::unlink(l.attachment.c_str());
  const std::size_t recorded = readFile(l.record).size();
  watch.drain();

  // Every other run faces the other user, cycling through the levels it may
  // write to (and none) and through modes that let it.
  const bool againstOtherUser = options.otherUser && run % 2 == 0;
  std::optional<std::string> openLevel;
  RunOutcome outcome;
  if (againstOtherUser) {
    ++tally.otherUserRuns;
    const std::vector<std::string> levels = pathLevels(l);
    const unsigned turn = (run / 2) % (levels.size() + 1);
    if (turn < levels.size()) openLevel = levels[turn];
    const mode_t openMode = (run / 2 / (levels.size() + 1)) % 2 == 0 ? 0777 : 0703;
    writeFile(l.readAttachments, "", 0600);
    outcome = runAgainstOtherUser(l, options, targets, openLevel, openMode, tally);
    ::unlink(l.readAttachments.c_str());
  } else {
    Swapper swapper(targets.plan, options.timing);
    outcome = runProgram(l, options.timeoutSeconds);
    swapper.stop();
    if (!swapper.error().empty()) fail(swapper.error());
    tally.swaps += swapper.swapsDone();
  }

  const std::string& out = outcome.out;
  const std::string& err = outcome.err;
  const std::vector<std::string> uris = lines(readFile(l.record).substr(recorded));
  bool malformed = false;
  const auto result = readResult(l, malformed);

  if (outcome.hung) {
    ++tally.hangs;
    tally.note(run, "still running after " + std::to_string(options.timeoutSeconds) + " s, killed");
  } else if (!outcome.exited || outcome.status != 0) {
    ++tally.badExits;
    tally.note(run, "exit status " + std::to_string(outcome.status));
  }
  if (!out.empty() || !err.empty()) {
    ++tally.output;
    tally.note(run, "printed: " + out + err);
  }

  bool leaked = out.find(l.marker) != std::string::npos || err.find(l.marker) != std::string::npos;
  for (const auto& uri : uris) {
    if (carriesMarker(uri, l.marker)) leaked = true;
  }
  if (leaked) {
    ++tally.leaks;
    tally.note(run, "the decoy's marker reached the composer or the output");
  }

  std::string why;
  const Verdict verdict = malformed ? Verdict::inconsistent : judge(l, result, uris, why);
  if (malformed) why = "result.json is not a private regular file with a JSON document";
  switch (verdict) {
    case Verdict::draft:
      ++tally.drafts;
      break;
    case Verdict::failedDraft:
      ++tally.failedDrafts;
      break;
    case Verdict::silentStop:
      ++tally.silentStops;
      break;
    case Verdict::inconsistent:
      ++tally.inconsistent;
      tally.note(run, why);
      break;
  }

  if (openLevel) {
    ++tally.openLevelRuns;
    if (verdict != Verdict::silentStop) {
      ++tally.openLevelAccepted;
      tally.note(run, "ran although the other user could write to " + *openLevel);
    }
  }
  if (againstOtherUser && !uris.empty()) {
    ++tally.attachmentsRead;
    const std::string attachment = readFile(l.attachment);
    if (attachment != kGoodLog) {
      ++tally.leaks;
      tally.note(run, "the attachment read a moment later is not the job's log: " + attachment.substr(0, 80));
    }
  }

  for (const auto& entry : std::filesystem::directory_iterator(l.jobDir)) {
    const std::string name = entry.path().filename();
    if (name != "job.json" && name != "log.txt" && name != "result.json") {
      ++tally.litter;
      tally.note(run, "left in the job directory: " + name);
    }
  }

  if (const unsigned events = watch.drain(); events != 0) {
    ++tally.outsideChanges;
    tally.note(run, std::to_string(events) + " change events in the decoy or the bundle");
  }
}

unsigned number(const char* text) {
  char* end = nullptr;
  const unsigned long value = std::strtoul(text, &end, 10);
  if (end == text || *end != '\0') fail(std::string("not a number: ") + text);
  return static_cast<unsigned>(value);
}

Options parseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--runs" && hasValue)
      options.runs = number(argv[++i]);
    else if (arg == "--timeout" && hasValue)
      options.timeoutSeconds = static_cast<int>(number(argv[++i]));
    else if (arg == "--good-rounds" && hasValue)
      options.timing.goodRounds = number(argv[++i]);
    else if (arg == "--bad-rounds" && hasValue)
      options.timing.badRounds = number(argv[++i]);
    else if (arg == "--careless")
      options.careless = true;
    else if (arg == "--keep")
      options.keep = true;
    else
      fail("unknown or incomplete option: " + arg);
  }
  return options;
}

int harness(int argc, char** argv) {
  Options options = parseOptions(argc, argv);
  options.otherUser = ::geteuid() == 0;
  harness::TempDir root;
  if (options.keep) root.keep();
  const Layout l = makeLayout(root.path());

  prepare(l, options);
  const SwapTargets targets = swapTargets(l);
  ChangeWatch watch(l);

  // Outside the job directory only the swapper's own staging area, the
  // composer's record and the captured output may change; the directories
  // whose entries it renames keep their entries but not their times.
  const std::string tool = "home/" ATTACK_TOOL_DIRECTORY;
  const harness::SnapshotOptions outside{{tool + "/support-drafts/" + l.jobId, "stage", "record"},
                                         {".", "home", tool, tool + "/support-drafts"},
                                         true};
  const harness::SnapshotOptions exact{{}, {}, true};
  const harness::Snapshot before = harness::takeSnapshot(l.root, outside);
  const harness::Snapshot jobFilesBefore = harness::takeSnapshot(l.jobDir + "/job.json", exact);
  const harness::Snapshot logBefore = harness::takeSnapshot(l.jobDir + "/log.txt", exact);

  const auto started = std::chrono::steady_clock::now();
  Tally tally;
  for (unsigned i = 0; i < options.runs; ++i) attackOnce(l, options, targets, watch, tally);
  const auto seconds =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started)
          .count() /
      1000.0;

  const harness::Snapshot after = harness::takeSnapshot(l.root, outside);
  if (const std::string differences = harness::formatChanges(harness::compareSnapshots(before, after));
      !differences.empty()) {
    ++tally.outsideChanges;
    tally.notes.push_back("outside the job directory, after all runs:\n" + differences);
  }
  if (harness::takeSnapshot(l.jobDir + "/job.json", exact) != jobFilesBefore ||
      harness::takeSnapshot(l.jobDir + "/log.txt", exact) != logBefore) {
    ++tally.inconsistent;
    tally.notes.push_back("job.json or log.txt changed");
  }

  for (const auto& note : tally.notes) std::cerr << "attack: " << note << "\n";
  std::cout << "attack: " << tally.runs << " runs, " << tally.drafts << " drafts, " << tally.failedDrafts
            << " failed drafts, " << tally.silentStops << " silent stops, " << tally.leaks << " leaks, "
            << tally.hangs << " hangs, " << tally.outsideChanges << " outside changes, "
            << tally.badExits + tally.output + tally.inconsistent + tally.litter + tally.openLevelAccepted
            << " other violations\n";
  std::cout << "attack: " << tally.swaps << " swaps (" << (tally.runs ? tally.swaps / tally.runs : 0)
            << " a run) over " << targets.plan.size() << " kinds, "
            << (::geteuid() == 0 ? "as root" : "as a user") << ", " << seconds << " s"
            << (options.keep ? ", kept in " + l.root : std::string()) << "\n";
  if (options.otherUser) {
    std::cout << "attack: against another user: " << tally.otherUserRuns << " runs, " << tally.openLevelRuns
              << " with a directory that user could write to (" << tally.openLevelAccepted << " not stopped), "
              << tally.attachmentsRead << " attachments read a moment later, " << tally.otherUserSwaps
              << " swaps\n";
  } else {
    std::cout << "attack: no runs against another user (they need root)\n";
  }

  // Both outcomes have to turn up: all refusals mean the good state was
  // never there long enough, all drafts mean the swaps never landed.
  const unsigned refused = tally.failedDrafts + tally.silentStops;
  const bool bit = tally.drafts > 0 && refused > 0;
  if (!bit) {
    std::cout << "attack: " << (tally.drafts == 0 ? "no run got through" : "no run was refused")
              << "; the attack proves nothing" << (tally.runs < 100 ? " (too few runs to tell)" : "") << "\n";
  }
  if (tally.violations() != 0) return 1;
  return bit || tally.runs < 100 ? 0 : 1;
}

}  // namespace
}  // namespace attack

int main(int argc, char** argv) {
  if (argc > 1 && argv[1] == attack::kOtherUserMode) return attack::runOtherUserAttacker(argc, argv);
  try {
    return attack::harness(argc, argv);
  } catch (const std::exception& error) {
    std::cerr << "attack: setup failed: " << error.what() << "\n";
    return 2;
  }
}
