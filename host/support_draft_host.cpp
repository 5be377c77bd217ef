// The C API over the host library's C++ internals. No exception crosses it:
// each entry point catches what the standard library may throw (only a
// failed allocation, in practice) and answers with a reason or an outcome.
#include "support_draft_host.h"

#include <cstring>
#include <new>
#include <string>

#include "host_job.h"
#include "host_run.h"
#include "job/bundle_identity.h"
#include "job/job_contract.h"
#include "job/job_log.h"
#include "job_path.h"
#include "job_prune.h"
#include "job_removal.h"
#include "reason_codes.h"
#include "route_query.h"

static_assert(SUPPORT_DRAFT_MAX_SUBJECT_SIZE == kMaxSubjectSize);
static_assert(SUPPORT_DRAFT_MAX_BODY_SIZE == kMaxBodySize);
static_assert(SUPPORT_DRAFT_MAX_LOG_SIZE == kMaxLogSize);
static_assert(SUPPORT_DRAFT_MAX_SUBJECT_PREFIX_SIZE == kMaxSubjectPrefixSize);

// This header spells every number out for its readers; it must say what the
// reasons' tables say.
#define SUPPORT_DRAFT_RULE_AGREES(name, api, number, sentence, limit) \
  static_assert(SUPPORT_DRAFT_REASON_##api == (number), "support_draft_host.h numbers " #name " otherwise");
SUPPORT_DRAFT_REASONS(SUPPORT_DRAFT_RULE_AGREES)
#undef SUPPORT_DRAFT_RULE_AGREES
#define SUPPORT_DRAFT_LIBRARY_AGREES(name, api, number) \
  static_assert(SUPPORT_DRAFT_REASON_##api == (number), "support_draft_host.h numbers " #name " otherwise");
SUPPORT_DRAFT_LIBRARY_REASONS(SUPPORT_DRAFT_LIBRARY_AGREES)
#undef SUPPORT_DRAFT_LIBRARY_AGREES

using namespace support_draft::host_side;

struct support_draft_job {
  JobOnDisk job;
};

struct support_draft_run {
  Run run;
};

struct support_draft_route_answer {
  mail::RouteAnswer answer;
  std::string client;
  std::string portalBackend;
  std::string json;
};

// The C API's outcomes are the run's, number for number.
static_assert(SUPPORT_DRAFT_OUTCOME_OPENED == static_cast<int>(RunOutcome::opened) &&
              SUPPORT_DRAFT_OUTCOME_PERMISSION_DENIED == static_cast<int>(RunOutcome::permissionDenied) &&
              SUPPORT_DRAFT_OUTCOME_FAILED == static_cast<int>(RunOutcome::failed) &&
              SUPPORT_DRAFT_OUTCOME_NO_RESULT == static_cast<int>(RunOutcome::noResult) &&
              SUPPORT_DRAFT_OUTCOME_TIMED_OUT == static_cast<int>(RunOutcome::timedOut) &&
              SUPPORT_DRAFT_OUTCOME_RUNNING == static_cast<int>(RunOutcome::running) &&
              SUPPORT_DRAFT_OUTCOME_CANCELLED == static_cast<int>(RunOutcome::cancelled));

// The C API's route enumerations are the answer's, number for number.
static_assert(SUPPORT_DRAFT_ROUTE_NONE == static_cast<int>(mail::RouteAnswer::Way::None) &&
              SUPPORT_DRAFT_ROUTE_DEFAULT_CLIENT == static_cast<int>(mail::RouteAnswer::Way::DefaultClient) &&
              SUPPORT_DRAFT_ROUTE_TERMINAL == static_cast<int>(mail::RouteAnswer::Way::Terminal) &&
              SUPPORT_DRAFT_ROUTE_MAILER == static_cast<int>(mail::RouteAnswer::Way::Mailer) &&
              SUPPORT_DRAFT_ROUTE_PORTAL == static_cast<int>(mail::RouteAnswer::Way::Portal) &&
              SUPPORT_DRAFT_ROUTE_FLATPAK_HOST == static_cast<int>(mail::RouteAnswer::Way::Host));
static_assert(SUPPORT_DRAFT_LOG_CARRIED == static_cast<int>(mail::RouteAnswer::Log::Carried) &&
              SUPPORT_DRAFT_LOG_NOT_CARRIED == static_cast<int>(mail::RouteAnswer::Log::NotCarried) &&
              SUPPORT_DRAFT_LOG_NO_ROUTE == static_cast<int>(mail::RouteAnswer::Log::NoRoute) &&
              SUPPORT_DRAFT_LOG_DECIDED_ON_HOST == static_cast<int>(mail::RouteAnswer::Log::DecidedOnHost));
static_assert(SUPPORT_DRAFT_ASSURANCE_NONE == static_cast<int>(mail::RouteAnswer::Proof::None) &&
              SUPPORT_DRAFT_ASSURANCE_CHECKED == static_cast<int>(mail::RouteAnswer::Proof::Checked) &&
              SUPPORT_DRAFT_ASSURANCE_START_ONLY == static_cast<int>(mail::RouteAnswer::Proof::StartOnly) &&
              SUPPORT_DRAFT_ASSURANCE_DECIDED_ON_HOST == static_cast<int>(mail::RouteAnswer::Proof::DecidedOnHost));

namespace {

// Copies `text` into the caller's buffer, cut where a character begins when
// it does not fit.
void tell(const std::string& text, char* message, std::size_t size) {
  if (message == nullptr || size == 0) return;
  std::size_t length = std::min(text.size(), size - 1);
  if (length < text.size()) {
    while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) --length;
  }
  std::memcpy(message, text.data(), length);
  message[length] = '\0';
}

// The reasons share their numbers with the C API (checked above).
support_draft_reason apiReason(HostReason reason) { return static_cast<support_draft_reason>(reason); }

JobChannel jobChannel(support_draft_channel channel) {
  return channel == SUPPORT_DRAFT_CHANNEL_DEV ? JobChannel::dev : JobChannel::prod;
}

support_draft_channel apiChannel(JobChannel channel) {
  return channel == JobChannel::dev ? SUPPORT_DRAFT_CHANNEL_DEV : SUPPORT_DRAFT_CHANNEL_PROD;
}

support_draft_outcome apiOutcome(RunOutcome outcome) { return static_cast<support_draft_outcome>(outcome); }

support_draft_reason answer(const Refusal& refusal, char* message, std::size_t size) {
  tell(refusal.text, message, size);
  return apiReason(refusal.reason);
}

support_draft_reason outOfMemory(char* message, std::size_t size) {
  tell("out of memory", message, size);
  return SUPPORT_DRAFT_REASON_OUT_OF_MEMORY;
}

bool knownChannel(support_draft_channel channel) {
  return channel == SUPPORT_DRAFT_CHANNEL_DEV || channel == SUPPORT_DRAFT_CHANNEL_PROD;
}

support_draft_reason invalid(const char* what, char* message, std::size_t size) {
  tell(std::string("invalid argument: ") + what, message, size);
  return SUPPORT_DRAFT_REASON_INVALID_ARGUMENT;
}

// A negative time in milliseconds is no bound at all, as with poll().
std::chrono::milliseconds timeBound(long milliseconds) {
  return milliseconds < 0 ? std::chrono::milliseconds::max() : std::chrono::milliseconds(milliseconds);
}

// No refusal: the message is emptied.
support_draft_reason accepted(char* message, std::size_t size) {
  tell("", message, size);
  return SUPPORT_DRAFT_REASON_NONE;
}

support_draft_reason handOut(Prepared&& prepared, support_draft_job** job, char* message, std::size_t size) {
  if (!prepared.job) return answer(prepared.refusal, message, size);
  *job = new support_draft_job{std::move(*prepared.job)};
  return accepted(message, size);
}

// Runs `work`, answering a failed allocation with SUPPORT_DRAFT_REASON_OUT_OF_MEMORY.
template <typename Work>
support_draft_reason guarded(char* message, std::size_t size, Work work) {
  try {
    return work();
  } catch (const std::bad_alloc&) {
    return outOfMemory(message, size);
  }
}

// Runs `work`, answering a failed allocation with `otherwise`.
template <typename Work>
support_draft_outcome guardedOutcome(support_draft_outcome otherwise, char* explanation, std::size_t size, Work work) {
  try {
    return work();
  } catch (const std::bad_alloc&) {
    tell("out of memory", explanation, size);
    return otherwise;
  }
}

// The caller's texts; a null subject or body is empty.
JobText jobText(const char* subject, std::size_t subjectSize, const char* body, std::size_t bodySize, const char* log,
                std::size_t logSize) {
  JobText text{std::string_view(subject == nullptr ? "" : subject, subjectSize),
               std::string_view(body == nullptr ? "" : body, bodySize), std::nullopt};
  if (log != nullptr) text.log = std::string_view(log, logSize);
  return text;
}

support_draft_reason handOutRoute(RouteQuery&& query, support_draft_route_answer** out, char* message,
                                  std::size_t size) {
  if (!query.answer) return answer(query.refusal, message, size);
  const mail::RouteAnswer& found = *query.answer;
  std::string backend;
  if (found.way == mail::RouteAnswer::Way::Portal) backend = mail::portalBackendName(found.portalBackend);
  *out = new support_draft_route_answer{found, std::string(mail::clientName(found.client)), std::move(backend),
                                        routeAnswerJson(found, query.logAsked)};
  return accepted(message, size);
}

support_draft_outcome report(const Report& report, char* explanation, std::size_t size) {
  tell(report.explanation, explanation, size);
  return apiOutcome(report.outcome);
}

}  // namespace

extern "C" {

support_draft_reason support_draft_prepare_job(support_draft_channel channel, const char* home, const char* subject,
                                               size_t subject_size, const char* body, size_t body_size,
                                               const char* log, size_t log_size, support_draft_job** job,
                                               char* message, size_t message_size) {
  if (job == nullptr) return invalid("job", message, message_size);
  *job = nullptr;
  if (!knownChannel(channel)) return invalid("channel", message, message_size);
  if ((subject == nullptr && subject_size != 0) || (body == nullptr && body_size != 0)) {
    return invalid("subject or body", message, message_size);
  }
  return guarded(message, message_size, [&] {
    const JobText text = jobText(subject, subject_size, body, body_size, log, log_size);
    return handOut(prepareJob(defaultIdentity(jobChannel(channel)), home == nullptr ? "" : home, text), job, message,
                   message_size);
  });
}

support_draft_reason support_draft_prepare_bundle_job(const char* bundle, const char* home, const char* subject,
                                                      size_t subject_size, const char* body, size_t body_size,
                                                      const char* log, size_t log_size, support_draft_job** job,
                                                      char* message, size_t message_size) {
  if (job == nullptr) return invalid("job", message, message_size);
  *job = nullptr;
  if (bundle == nullptr) return invalid("bundle", message, message_size);
  if ((subject == nullptr && subject_size != 0) || (body == nullptr && body_size != 0)) {
    return invalid("subject or body", message, message_size);
  }
  return guarded(message, message_size, [&] {
    const BundleJobIdentity found = bundleJobIdentity(bundle);
    if (!found.identity) return answer(found.refusal, message, message_size);
    const JobText text = jobText(subject, subject_size, body, body_size, log, log_size);
    return handOut(prepareJob(*found.identity, home == nullptr ? "" : home, text), job, message, message_size);
  });
}

support_draft_reason support_draft_bundle_subject_prefix(const char* bundle, char* prefix, size_t prefix_size,
                                                         char* message, size_t message_size) {
  if (bundle == nullptr || prefix == nullptr || prefix_size <= kMaxSubjectPrefixSize) {
    return invalid("bundle, or a prefix buffer of SUPPORT_DRAFT_MAX_SUBJECT_PREFIX_SIZE + 1 bytes", message,
                   message_size);
  }
  prefix[0] = '\0';
  return guarded(message, message_size, [&] {
    const BundleJobIdentity found = bundleJobIdentity(bundle);
    if (!found.identity) return answer(found.refusal, message, message_size);
    tell(found.identity->subjectPrefix, prefix, prefix_size);
    return accepted(message, message_size);
  });
}

support_draft_reason support_draft_read_log(const char* path, unsigned flags, char* buffer, size_t buffer_size,
                                            size_t* log_size, char* message, size_t message_size) {
  if (path == nullptr || log_size == nullptr || buffer == nullptr || buffer_size < SUPPORT_DRAFT_MAX_LOG_SIZE) {
    return invalid("path, log_size, or a buffer of fewer than SUPPORT_DRAFT_MAX_LOG_SIZE bytes", message,
                   message_size);
  }
  *log_size = 0;
  return guarded(message, message_size, [&] {
    const LogInput input = readLogInput(path, (flags & SUPPORT_DRAFT_LOG_TAIL) != 0 ? LogPart::newest : LogPart::whole);
    if (input.breach) return answer(refusalFor(*input.breach), message, message_size);
    std::memcpy(buffer, input.bytes->data(), input.bytes->size());
    *log_size = input.bytes->size();
    return accepted(message, message_size);
  });
}

support_draft_reason support_draft_bundle_channel(const char* bundle, support_draft_channel* channel, char* message,
                                                  size_t message_size) {
  if (bundle == nullptr || channel == nullptr) return invalid("bundle or channel", message, message_size);
  return guarded(message, message_size, [&] {
    const BundleJobIdentity found = bundleJobIdentity(bundle);
    if (!found.identity) return answer(found.refusal, message, message_size);
    *channel = apiChannel(found.identity->channel);
    return accepted(message, message_size);
  });
}

support_draft_reason support_draft_job_open(support_draft_channel channel, const char* home, const char* job_id,
                                            support_draft_job** job, char* message, size_t message_size) {
  if (job == nullptr) return invalid("job", message, message_size);
  *job = nullptr;
  if (!knownChannel(channel) || job_id == nullptr) return invalid("channel or job_id", message, message_size);
  return guarded(message, message_size, [&] {
    return handOut(namedJob(jobChannel(channel), home == nullptr ? "" : home, job_id), job, message, message_size);
  });
}

support_draft_reason support_draft_job_at(const char* directory, support_draft_job** job, char* message,
                                          size_t message_size) {
  if (job == nullptr) return invalid("job", message, message_size);
  *job = nullptr;
  if (directory == nullptr) return invalid("directory", message, message_size);
  return guarded(message, message_size, [&] { return handOut(jobAtDirectory(directory), job, message, message_size); });
}

const char* support_draft_job_id(const support_draft_job* job) { return job == nullptr ? "" : job->job.id.c_str(); }

const char* support_draft_job_directory(const support_draft_job* job) {
  return job == nullptr ? "" : job->job.directory.c_str();
}

const char* support_draft_job_home(const support_draft_job* job) {
  return job == nullptr ? "" : job->job.home.c_str();
}

support_draft_channel support_draft_job_channel(const support_draft_job* job) {
  return job == nullptr ? SUPPORT_DRAFT_CHANNEL_PROD : apiChannel(job->job.channel);
}

void support_draft_job_free(support_draft_job* job) { delete job; }

support_draft_reason support_draft_start_job(const char* bundle, const support_draft_job* job,
                                             support_draft_run** run, char* message, size_t message_size) {
  return support_draft_start_job_options(bundle, job, 0u, run, message, message_size);
}

support_draft_reason support_draft_start_job_options(const char* bundle, const support_draft_job* job,
                                                     unsigned options, support_draft_run** run, char* message,
                                                     size_t message_size) {
  if (run == nullptr) return invalid("run", message, message_size);
  *run = nullptr;
  if (bundle == nullptr || job == nullptr) return invalid("bundle or job", message, message_size);
  if ((options & ~SUPPORT_DRAFT_START_ONE_AT_A_TIME) != 0) return invalid("options", message, message_size);
  return guarded(message, message_size, [&] {
    StartOptions startOptions;
    startOptions.oneAtATime = (options & SUPPORT_DRAFT_START_ONE_AT_A_TIME) != 0;
    Started started = startJob(bundle, job->job, startOptions);
    if (!started.run) return answer(started.refusal, message, message_size);
    *run = new support_draft_run{std::move(*started.run)};
    return accepted(message, message_size);
  });
}

int support_draft_run_descriptor(const support_draft_run* run) {
  // Stays open, and readable, until the run is freed.
  return run == nullptr ? -1 : run->run.ended.get();
}

support_draft_outcome support_draft_wait_job(support_draft_run* run, long timeout_ms, char* explanation,
                                             size_t explanation_size) {
  if (run == nullptr) {
    tell("invalid argument: run", explanation, explanation_size);
    return SUPPORT_DRAFT_OUTCOME_NO_RESULT;
  }
  return guardedOutcome(SUPPORT_DRAFT_OUTCOME_RUNNING, explanation, explanation_size, [&] {
    return report(waitJob(run->run, timeBound(timeout_ms)), explanation, explanation_size);
  });
}

support_draft_outcome support_draft_poll_job(support_draft_run* run, char* explanation, size_t explanation_size) {
  return support_draft_wait_job(run, 0, explanation, explanation_size);
}

support_draft_outcome support_draft_cancel_job(support_draft_run* run, char* explanation, size_t explanation_size) {
  if (run == nullptr) {
    tell("invalid argument: run", explanation, explanation_size);
    return SUPPORT_DRAFT_OUTCOME_NO_RESULT;
  }
  return guardedOutcome(SUPPORT_DRAFT_OUTCOME_RUNNING, explanation, explanation_size,
                        [&] { return report(cancelJob(run->run), explanation, explanation_size); });
}

void support_draft_run_free(support_draft_run* run) { delete run; }

support_draft_outcome support_draft_run_job(const char* bundle, const support_draft_job* job, long time_bound_ms,
                                            char* explanation, size_t explanation_size) {
  if (bundle == nullptr || job == nullptr) {
    tell("invalid argument: bundle or job", explanation, explanation_size);
    return SUPPORT_DRAFT_OUTCOME_NO_RESULT;
  }
  return guardedOutcome(SUPPORT_DRAFT_OUTCOME_NO_RESULT, explanation, explanation_size, [&] {
    return report(runJob(bundle, job->job, timeBound(time_bound_ms)), explanation, explanation_size);
  });
}

support_draft_outcome support_draft_collect_result(const support_draft_job* job, char* explanation,
                                                   size_t explanation_size) {
  if (job == nullptr) {
    tell("invalid argument: job", explanation, explanation_size);
    return SUPPORT_DRAFT_OUTCOME_NO_RESULT;
  }
  return guardedOutcome(SUPPORT_DRAFT_OUTCOME_NO_RESULT, explanation, explanation_size,
                        [&] { return report(collectResult(job->job), explanation, explanation_size); });
}

int support_draft_remove_job(const support_draft_job* job) {
  if (job == nullptr) return 0;
  try {
    return removeJob(job->job) ? 1 : 0;
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

support_draft_reason support_draft_prune_jobs(support_draft_channel channel, const char* home, long age_seconds,
                                              size_t* removed, char* message, size_t message_size) {
  if (removed != nullptr) *removed = 0;
  if (!knownChannel(channel)) return invalid("channel", message, message_size);
  return guarded(message, message_size, [&] {
    const Pruning pruning = pruneJobs(toolDirectoryFor(jobChannel(channel)), home == nullptr ? "" : home, age_seconds);
    if (removed != nullptr) *removed = pruning.removed;
    return answer(pruning.refusal, message, message_size);
  });
}

support_draft_reason support_draft_prune_bundle_jobs(const char* bundle, const char* home, long age_seconds,
                                                     size_t* removed, char* message, size_t message_size) {
  if (removed != nullptr) *removed = 0;
  if (bundle == nullptr) return invalid("bundle", message, message_size);
  return guarded(message, message_size, [&] {
    const BundleJobIdentity found = bundleJobIdentity(bundle);
    if (!found.identity) return answer(found.refusal, message, message_size);
    const Pruning pruning = pruneJobs(found.identity->toolDirectory, home == nullptr ? "" : home, age_seconds);
    if (removed != nullptr) *removed = pruning.removed;
    return answer(pruning.refusal, message, message_size);
  });
}

support_draft_reason support_draft_route(const char* bundle, const char* home, unsigned flags,
                                         support_draft_route_answer** answer, char* message, size_t message_size) {
  if (answer == nullptr) return invalid("answer", message, message_size);
  *answer = nullptr;
  if (bundle == nullptr) return invalid("bundle", message, message_size);
  return guarded(message, message_size, [&] {
    return handOutRoute(queryRoute(bundle, home == nullptr ? "" : home, (flags & SUPPORT_DRAFT_ROUTE_WITH_LOG) != 0),
                        answer, message, message_size);
  });
}

support_draft_reason support_draft_job_route(const char* bundle, const support_draft_job* job,
                                             support_draft_route_answer** answer, char* message,
                                             size_t message_size) {
  if (answer == nullptr) return invalid("answer", message, message_size);
  *answer = nullptr;
  if (bundle == nullptr || job == nullptr) return invalid("bundle or job", message, message_size);
  return guarded(message, message_size,
                 [&] { return handOutRoute(queryJobRoute(bundle, job->job), answer, message, message_size); });
}

support_draft_route_way support_draft_route_answer_way(const support_draft_route_answer* answer) {
  return answer == nullptr ? SUPPORT_DRAFT_ROUTE_NONE : static_cast<support_draft_route_way>(answer->answer.way);
}

support_draft_log_carriage support_draft_route_answer_log(const support_draft_route_answer* answer) {
  return answer == nullptr ? SUPPORT_DRAFT_LOG_NO_ROUTE : static_cast<support_draft_log_carriage>(answer->answer.log);
}

support_draft_assurance support_draft_route_answer_assurance(const support_draft_route_answer* answer) {
  return answer == nullptr ? SUPPORT_DRAFT_ASSURANCE_NONE : static_cast<support_draft_assurance>(answer->answer.proof);
}

const char* support_draft_route_answer_client(const support_draft_route_answer* answer) {
  return answer == nullptr ? "" : answer->client.c_str();
}

const char* support_draft_route_answer_handler(const support_draft_route_answer* answer) {
  return answer == nullptr ? "" : answer->answer.handler.c_str();
}

const char* support_draft_route_answer_portal_backend(const support_draft_route_answer* answer) {
  return answer == nullptr ? "" : answer->portalBackend.c_str();
}

const char* support_draft_route_answer_why(const support_draft_route_answer* answer) {
  return answer == nullptr ? "" : answer->answer.why.c_str();
}

const char* support_draft_route_answer_json(const support_draft_route_answer* answer) {
  return answer == nullptr ? "" : answer->json.c_str();
}

void support_draft_route_answer_free(support_draft_route_answer* answer) { delete answer; }

// The names are string literals: NUL-terminated and constant.
const char* support_draft_route_way_name(support_draft_route_way way) {
  return mail::wayName(static_cast<mail::RouteAnswer::Way>(way)).data();
}

const char* support_draft_log_carriage_name(support_draft_log_carriage log) {
  return mail::logName(static_cast<mail::RouteAnswer::Log>(log)).data();
}

const char* support_draft_assurance_name(support_draft_assurance assurance) {
  return mail::proofName(static_cast<mail::RouteAnswer::Proof>(assurance)).data();
}

const char* support_draft_outcome_name(support_draft_outcome outcome) {
  switch (outcome) {
    case SUPPORT_DRAFT_OUTCOME_OPENED:
      return "opened";
    case SUPPORT_DRAFT_OUTCOME_PERMISSION_DENIED:
      return "permissionDenied";
    case SUPPORT_DRAFT_OUTCOME_FAILED:
      return "failed";
    case SUPPORT_DRAFT_OUTCOME_NO_RESULT:
      return "noResult";
    case SUPPORT_DRAFT_OUTCOME_TIMED_OUT:
      return "timedOut";
    case SUPPORT_DRAFT_OUTCOME_RUNNING:
      return "running";
    case SUPPORT_DRAFT_OUTCOME_CANCELLED:
      return "cancelled";
  }
  return "noResult";
}

const char* support_draft_reason_code(support_draft_reason reason) {
  return reasonCodeOf(static_cast<HostReason>(reason));
}

}  // extern "C"
