// The host library for C++17 hosts: a thin inline layer over the C API of
// support_draft_host.h that takes and gives standard strings and values.
// What each call does is described there.
#pragma once

// Stopped here, by name, rather than deep inside <optional> or at the first
// structured binding. (MSVC keeps __cplusplus at 199711L unless asked.)
#if !defined(__cplusplus) || \
    (__cplusplus < 201703L && !(defined(_MSVC_LANG) && _MSVC_LANG >= 201703L))
#error "support_draft_host.hpp needs C++17 or later (-std=c++17); C and older C++ include support_draft_host.h"
#endif

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "support_draft_host.h"

namespace support_draft {

enum class Channel { dev = SUPPORT_DRAFT_CHANNEL_DEV, prod = SUPPORT_DRAFT_CHANNEL_PROD };

// Why something was refused; reasonCode gives its stable text.
using Reason = support_draft_reason;
inline const char* reasonCode(Reason reason) { return support_draft_reason_code(reason); }

// Where jobs go: the channel of the bundle that will run them and the home
// directory ("" for the user's home as the program finds it).
struct JobPlace {
  Channel channel = Channel::prod;
  std::string home;
};

// What the draft should hold; readLog reads a log file for it.
struct DraftRequest {
  std::string subject;
  std::string body;
  std::optional<std::string> log;
};

// A job on disk (the home directory is the one the program must be given).
struct PreparedJob {
  std::string id;
  std::string directory;
  JobPlace place;
};

// Either a job, or why there is none.
struct Preparation {
  std::optional<PreparedJob> job;
  std::string refusal;  // empty when `job` is set
  Reason reason = SUPPORT_DRAFT_REASON_NONE;
};

enum class Outcome {
  opened = SUPPORT_DRAFT_OUTCOME_OPENED,
  permissionDenied = SUPPORT_DRAFT_OUTCOME_PERMISSION_DENIED,
  failed = SUPPORT_DRAFT_OUTCOME_FAILED,
  noResult = SUPPORT_DRAFT_OUTCOME_NO_RESULT,
  timedOut = SUPPORT_DRAFT_OUTCOME_TIMED_OUT,
  running = SUPPORT_DRAFT_OUTCOME_RUNNING,
  cancelled = SUPPORT_DRAFT_OUTCOME_CANCELLED,
};

struct RunReport {
  Outcome outcome = Outcome::noResult;
  std::string explanation;  // for noResult: what the host-side checks found
};

// "opened", "permissionDenied", "failed", "noResult", "timedOut", "running", "cancelled".
inline const char* outcomeName(Outcome outcome) {
  return support_draft_outcome_name(static_cast<support_draft_outcome>(outcome));
}

namespace c_layer {

struct Message {
  char text[SUPPORT_DRAFT_MESSAGE_SIZE] = {};
};

// Owns a handle of the C API, which `release` frees. Movable, not copyable.
template <typename Handle, void (*release)(Handle*)>
class Owner {
 public:
  Owner() = default;
  explicit Owner(Handle* handle) : handle_(handle) {}
  Owner(Owner&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  Owner& operator=(Owner&& other) noexcept {
    std::swap(handle_, other.handle_);
    return *this;
  }
  ~Owner() { release(handle_); }
  Handle* get() const { return handle_; }
  Handle** out() { return &handle_; }

 private:
  Handle* handle_ = nullptr;
};

using JobHandle = Owner<support_draft_job, support_draft_job_free>;

inline PreparedJob valueOf(const JobHandle& handle) {
  return {support_draft_job_id(handle.get()), support_draft_job_directory(handle.get()),
          {static_cast<Channel>(support_draft_job_channel(handle.get())), support_draft_job_home(handle.get())}};
}

inline Preparation preparation(Reason reason, const JobHandle& handle, const Message& message) {
  if (reason != SUPPORT_DRAFT_REASON_NONE) return {std::nullopt, message.text, reason};
  return {valueOf(handle), "", reason};
}

// A handle for a job value, or the refusal of its form: by its directory
// when the value has one (a job of an application's own bundle lives in
// that bundle's tool directory), otherwise by its channel and home.
inline JobHandle handleOf(const PreparedJob& job, Reason& reason, Message& message) {
  JobHandle handle;
  if (!job.directory.empty()) {
    reason = support_draft_job_at(job.directory.c_str(), handle.out(), message.text, sizeof message.text);
    return handle;
  }
  reason = support_draft_job_open(static_cast<support_draft_channel>(job.place.channel), job.place.home.c_str(),
                                  job.id.c_str(), handle.out(), message.text, sizeof message.text);
  return handle;
}

}  // namespace c_layer

// Prepares a job under the program's rules; see support_draft_prepare_job.
inline Preparation prepareJob(const JobPlace& place, const DraftRequest& request) {
  c_layer::JobHandle handle;
  c_layer::Message message;
  const Reason reason = support_draft_prepare_job(
      static_cast<support_draft_channel>(place.channel), place.home.c_str(), request.subject.data(),
      request.subject.size(), request.body.data(), request.body.size(), request.log ? request.log->data() : nullptr,
      request.log ? request.log->size() : 0, handle.out(), message.text, sizeof message.text);
  return c_layer::preparation(reason, handle, message);
}

// Prepares a job for the bundle at `bundlePath`, in its tool directory and
// under its subject prefix (`home` empty: the user's); see
// support_draft_prepare_bundle_job.
inline Preparation prepareBundleJob(const std::string& bundlePath, const std::string& home,
                                    const DraftRequest& request) {
  c_layer::JobHandle handle;
  c_layer::Message message;
  const Reason reason = support_draft_prepare_bundle_job(
      bundlePath.c_str(), home.c_str(), request.subject.data(), request.subject.size(), request.body.data(),
      request.body.size(), request.log ? request.log->data() : nullptr, request.log ? request.log->size() : 0,
      handle.out(), message.text, sizeof message.text);
  return c_layer::preparation(reason, handle, message);
}

// The subject prefix of the bundle at `bundlePath`, or why it has none.
struct BundleSubjectPrefix {
  std::optional<std::string> prefix;
  std::string refusal;
  Reason reason = SUPPORT_DRAFT_REASON_NONE;
};
inline BundleSubjectPrefix bundleSubjectPrefix(const std::string& bundlePath) {
  c_layer::Message message;
  char prefix[SUPPORT_DRAFT_MAX_SUBJECT_PREFIX_SIZE + 1];
  const Reason reason =
      support_draft_bundle_subject_prefix(bundlePath.c_str(), prefix, sizeof prefix, message.text, sizeof message.text);
  if (reason != SUPPORT_DRAFT_REASON_NONE) return {std::nullopt, message.text, reason};
  return {std::string(prefix), "", reason};
}

// The job whose directory this is (as the command prints it).
inline Preparation jobAt(const std::string& directory) {
  c_layer::JobHandle handle;
  c_layer::Message message;
  const Reason reason = support_draft_job_at(directory.c_str(), handle.out(), message.text, sizeof message.text);
  return c_layer::preparation(reason, handle, message);
}

// The channel of the bundle at `bundlePath`, or why it has none.
struct BundleChannel {
  std::optional<Channel> channel;
  std::string refusal;
  Reason reason = SUPPORT_DRAFT_REASON_NONE;
};
inline BundleChannel bundleChannel(const std::string& bundlePath) {
  c_layer::Message message;
  support_draft_channel channel = SUPPORT_DRAFT_CHANNEL_PROD;
  const Reason reason = support_draft_bundle_channel(bundlePath.c_str(), &channel, message.text, sizeof message.text);
  if (reason != SUPPORT_DRAFT_REASON_NONE) return {std::nullopt, message.text, reason};
  return {static_cast<Channel>(channel), "", reason};
}

struct LogReading {
  std::optional<std::string> log;
  std::string refusal;
  Reason reason = SUPPORT_DRAFT_REASON_NONE;
};

// Reads a host's log file; with `tail`, its newest lines when it is too large.
inline LogReading readLog(const std::string& path, bool tail) {
  std::string buffer(SUPPORT_DRAFT_MAX_LOG_SIZE, '\0');
  std::size_t size = 0;
  c_layer::Message message;
  const Reason reason = support_draft_read_log(path.c_str(), tail ? SUPPORT_DRAFT_LOG_TAIL : 0u, buffer.data(),
                                               buffer.size(), &size, message.text, sizeof message.text);
  if (reason != SUPPORT_DRAFT_REASON_NONE) return {std::nullopt, message.text, reason};
  buffer.resize(size);
  return {std::move(buffer), "", reason};
}

// One run of the program, started by startJob. Movable, not copyable;
// destroying it leaves a program still running to finish.
class Run : private c_layer::Owner<support_draft_run, support_draft_run_free> {
 public:
  using Owner::Owner;
  using Owner::get;
  explicit operator bool() const { return get() != nullptr; }

  // For the host's event loop: readable once the program has ended.
  int descriptor() const { return support_draft_run_descriptor(get()); }
};

struct Start {
  Run run;  // empty when refused
  std::string refusal;
  Reason reason = SUPPORT_DRAFT_REASON_NONE;
};

struct StartOptions {
  // Refused with SUPPORT_DRAFT_REASON_JOB_RUNNING while another run of the
  // bundle's jobs goes on (SUPPORT_DRAFT_START_ONE_AT_A_TIME).
  bool oneAtATime = false;
};

// Starts the program for the job and returns at once.
inline Start startJob(const std::string& bundlePath, const PreparedJob& job, StartOptions options = {}) {
  c_layer::Message message;
  Reason reason = SUPPORT_DRAFT_REASON_NONE;
  const c_layer::JobHandle handle = c_layer::handleOf(job, reason, message);
  if (reason != SUPPORT_DRAFT_REASON_NONE) return {Run(), message.text, reason};
  support_draft_run* run = nullptr;
  reason = support_draft_start_job_options(bundlePath.c_str(), handle.get(),
                                           options.oneAtATime ? SUPPORT_DRAFT_START_ONE_AT_A_TIME : 0u, &run,
                                           message.text, sizeof message.text);
  return {Run(run), reason == SUPPORT_DRAFT_REASON_NONE ? "" : message.text, reason};
}

// Ends the program and what it started in its process group, and waits for
// its end and its watcher's (the job's lock is free then):
// Outcome::cancelled, or the result it wrote before it ended.
inline RunReport cancelJob(Run& run) {
  c_layer::Message message;
  const support_draft_outcome outcome = support_draft_cancel_job(run.get(), message.text, sizeof message.text);
  return {static_cast<Outcome>(outcome), message.text};
}

// The outcome within `timeout` (zero: now; negative: whenever the program
// ends), else Outcome::running.
inline RunReport waitJob(Run& run, std::chrono::milliseconds timeout) {
  c_layer::Message message;
  const support_draft_outcome outcome =
      support_draft_wait_job(run.get(), static_cast<long>(timeout.count()), message.text, sizeof message.text);
  return {static_cast<Outcome>(outcome), message.text};
}

inline RunReport pollJob(Run& run) { return waitJob(run, std::chrono::milliseconds(0)); }

// Starts the program and waits at most `timeBound` (Outcome::timedOut after).
inline RunReport runJob(const std::string& bundlePath, const PreparedJob& job, std::chrono::milliseconds timeBound) {
  c_layer::Message message;
  Reason reason = SUPPORT_DRAFT_REASON_NONE;
  const c_layer::JobHandle handle = c_layer::handleOf(job, reason, message);
  if (reason != SUPPORT_DRAFT_REASON_NONE) return {Outcome::noResult, std::string("not run: ") + message.text};
  const support_draft_outcome outcome = support_draft_run_job(
      bundlePath.c_str(), handle.get(), static_cast<long>(timeBound.count()), message.text, sizeof message.text);
  return {static_cast<Outcome>(outcome), message.text};
}

// The result a job's directory holds now (Outcome::running while its
// program runs).
inline RunReport collectResult(const PreparedJob& job) {
  c_layer::Message message;
  Reason reason = SUPPORT_DRAFT_REASON_NONE;
  const c_layer::JobHandle handle = c_layer::handleOf(job, reason, message);
  if (reason != SUPPORT_DRAFT_REASON_NONE) return {Outcome::noResult, message.text};
  const support_draft_outcome outcome = support_draft_collect_result(handle.get(), message.text, sizeof message.text);
  return {static_cast<Outcome>(outcome), message.text};
}

// Removes the job's directory, never following a link. True when it is gone.
inline bool removeJob(const PreparedJob& job) {
  c_layer::Message message;
  Reason reason = SUPPORT_DRAFT_REASON_NONE;
  const c_layer::JobHandle handle = c_layer::handleOf(job, reason, message);
  return reason == SUPPORT_DRAFT_REASON_NONE && support_draft_remove_job(handle.get()) != 0;
}

// Which route a job would take in this session; see support_draft_route.
enum class RouteWay {
  none = SUPPORT_DRAFT_ROUTE_NONE,
  defaultClient = SUPPORT_DRAFT_ROUTE_DEFAULT_CLIENT,
  terminal = SUPPORT_DRAFT_ROUTE_TERMINAL,
  mailer = SUPPORT_DRAFT_ROUTE_MAILER,
  portal = SUPPORT_DRAFT_ROUTE_PORTAL,
  flatpakHost = SUPPORT_DRAFT_ROUTE_FLATPAK_HOST,
};
enum class LogCarriage {
  carried = SUPPORT_DRAFT_LOG_CARRIED,
  notCarried = SUPPORT_DRAFT_LOG_NOT_CARRIED,
  noRoute = SUPPORT_DRAFT_LOG_NO_ROUTE,
  decidedOnHost = SUPPORT_DRAFT_LOG_DECIDED_ON_HOST,
};
enum class Assurance {
  none = SUPPORT_DRAFT_ASSURANCE_NONE,
  checked = SUPPORT_DRAFT_ASSURANCE_CHECKED,
  startOnly = SUPPORT_DRAFT_ASSURANCE_START_ONLY,
  decidedOnHost = SUPPORT_DRAFT_ASSURANCE_DECIDED_ON_HOST,
};

struct RouteAnswer {
  RouteWay way = RouteWay::none;
  LogCarriage log = LogCarriage::noRoute;
  Assurance assurance = Assurance::none;
  std::string client;         // "thunderbird", ...; "" when none is known
  std::string handler;        // the default client's desktop id
  std::string portalBackend;  // "gtk", "kde", "unknown" for the portal
  std::string why;            // for RouteWay::none
  std::string json;           // as `support-draft-host --route` prints it
};

struct RouteQuery {
  std::optional<RouteAnswer> answer;
  std::string refusal;
  Reason reason = SUPPORT_DRAFT_REASON_NONE;
};

inline const char* routeWayName(RouteWay way) {
  return support_draft_route_way_name(static_cast<support_draft_route_way>(way));
}
inline const char* logCarriageName(LogCarriage log) {
  return support_draft_log_carriage_name(static_cast<support_draft_log_carriage>(log));
}
inline const char* assuranceName(Assurance assurance) {
  return support_draft_assurance_name(static_cast<support_draft_assurance>(assurance));
}

namespace c_layer {

inline RouteQuery routeQuery(Reason reason, support_draft_route_answer* answer, const Message& message) {
  if (reason != SUPPORT_DRAFT_REASON_NONE) return {std::nullopt, message.text, reason};
  RouteAnswer value;
  value.way = static_cast<RouteWay>(support_draft_route_answer_way(answer));
  value.log = static_cast<LogCarriage>(support_draft_route_answer_log(answer));
  value.assurance = static_cast<Assurance>(support_draft_route_answer_assurance(answer));
  value.client = support_draft_route_answer_client(answer);
  value.handler = support_draft_route_answer_handler(answer);
  value.portalBackend = support_draft_route_answer_portal_backend(answer);
  value.why = support_draft_route_answer_why(answer);
  value.json = support_draft_route_answer_json(answer);
  support_draft_route_answer_free(answer);
  return {std::move(value), "", reason};
}

}  // namespace c_layer

// The route a job of the bundle would take (`home` empty: the user's), with
// a log when `withLog`.
inline RouteQuery route(const std::string& bundlePath, const std::string& home, bool withLog) {
  c_layer::Message message;
  support_draft_route_answer* answer = nullptr;
  const Reason reason = support_draft_route(bundlePath.c_str(), home.c_str(), withLog ? SUPPORT_DRAFT_ROUTE_WITH_LOG : 0u,
                                            &answer, message.text, sizeof message.text);
  return c_layer::routeQuery(reason, answer, message);
}

// The route of a prepared job as its document asks it; after Outcome::failed,
// LogCarriage::notCarried says the route could not carry its log.
inline RouteQuery jobRoute(const std::string& bundlePath, const PreparedJob& job) {
  c_layer::Message message;
  Reason reason = SUPPORT_DRAFT_REASON_NONE;
  const c_layer::JobHandle handle = c_layer::handleOf(job, reason, message);
  if (reason != SUPPORT_DRAFT_REASON_NONE) return {std::nullopt, message.text, reason};
  support_draft_route_answer* answer = nullptr;
  reason = support_draft_job_route(bundlePath.c_str(), handle.get(), &answer, message.text, sizeof message.text);
  return c_layer::routeQuery(reason, answer, message);
}

struct Pruning {
  std::size_t removed = 0;
  std::string refusal;
  Reason reason = SUPPORT_DRAFT_REASON_NONE;
};

// Removes the finished job directories older than `age` in the tool
// directory of the bundle at `bundlePath` (`home` empty: the user's).
inline Pruning pruneBundleJobs(const std::string& bundlePath, const std::string& home, std::chrono::seconds age) {
  c_layer::Message message;
  Pruning pruning;
  pruning.reason = support_draft_prune_bundle_jobs(bundlePath.c_str(), home.c_str(), static_cast<long>(age.count()),
                                                   &pruning.removed, message.text, sizeof message.text);
  pruning.refusal = message.text;
  return pruning;
}

// Removes the place's finished job directories older than `age`.
inline Pruning pruneJobs(const JobPlace& place, std::chrono::seconds age) {
  c_layer::Message message;
  Pruning pruning;
  pruning.reason = support_draft_prune_jobs(static_cast<support_draft_channel>(place.channel), place.home.c_str(),
                                            static_cast<long>(age.count()), &pruning.removed, message.text,
                                            sizeof message.text);
  pruning.refusal = message.text;
  return pruning;
}

}  // namespace support_draft
