/* The host's side of support-draft, as a C API: prepares a job exactly as
 * the program demands, runs the program for it without blocking the host,
 * and tells what came of it.
 *
 * Every mistake a host can make in preparing a job (a loose directory mode,
 * a link in the home directory's path, a subject that is too long, ...)
 * makes the program stop without a word. These functions check the same
 * rules with the program's own code before anything is written, and say
 * which rule a job breaks: a stable code (support_draft_reason_code) and a
 * sentence for the host's own log.
 *
 * Plain C (C89 or later). Link libsupport-draft-host (shared, soname
 * libsupport-draft-host.so.0) or the static libsupport-draft-host.a; from C++
 * include support_draft_host.hpp instead. Every function may be called from
 * several threads at once on different handles; none starts a thread or
 * leaves the host a child process to reap.
 *
 * Messages: functions that take `message` and `message_size` write a
 * NUL-terminated sentence there (cut at a character boundary when it does
 * not fit; SUPPORT_DRAFT_MESSAGE_SIZE bytes always suffice for the sentence
 * with one path in it). `message` may be NULL when `message_size` is 0.
 *
 * Lifetimes: the strings support_draft_job_id, _directory and _home return
 * belong to the job handle and stay valid until support_draft_job_free of
 * that handle (never NULL: "" for a NULL handle). The strings of
 * support_draft_outcome_name and support_draft_reason_code are constants,
 * valid as long as the library is loaded. The run's descriptor belongs to
 * the run: support_draft_run_free closes it.
 *
 * Times: a negative time in milliseconds (support_draft_wait_job,
 * support_draft_run_job) is no bound at all, as with poll(); 0 does not
 * wait. A negative age for support_draft_prune_jobs is refused
 * (SUPPORT_DRAFT_REASON_INVALID_ARGUMENT). */
#ifndef SUPPORT_DRAFT_HOST_H
#define SUPPORT_DRAFT_HOST_H

#include <stddef.h>

#if defined(__GNUC__)
#define SUPPORT_DRAFT_API __attribute__((visibility("default")))
#else
#define SUPPORT_DRAFT_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The program's limits, in bytes. */
#define SUPPORT_DRAFT_MAX_SUBJECT_SIZE 200
#define SUPPORT_DRAFT_MAX_BODY_SIZE 8192
#define SUPPORT_DRAFT_MAX_LOG_SIZE 24576
/* A bundle's own subject prefix (SupportDraftSubjectPrefix) holds at most this many. */
#define SUPPORT_DRAFT_MAX_SUBJECT_PREFIX_SIZE 100

#define SUPPORT_DRAFT_MESSAGE_SIZE 4608

/* support_draft_read_log flag: a log over SUPPORT_DRAFT_MAX_LOG_SIZE is
 * not refused; its newest bytes are read, from the first line that begins
 * within them. When none begins there (the newest line alone is longer),
 * that line's newest bytes are read, from where a character begins: the
 * log is cut, never read as empty. */
#define SUPPORT_DRAFT_LOG_TAIL 1u

/* The bundle's build channel; each has a tool directory of its own in the
 * home directory (".vantrel-devtool-dev" for dev, ".vantrel-devtool" for
 * prod), unless the bundle names one of its own (see
 * support_draft_prepare_bundle_job). */
typedef enum support_draft_channel {
  SUPPORT_DRAFT_CHANNEL_DEV = 0,
  SUPPORT_DRAFT_CHANNEL_PROD = 1
} support_draft_channel;

/* Why something was refused. The numbers and the codes (the texts of
 * support_draft_reason_code, in brackets) never change meaning. 1 to 63 are
 * the rules of a job, which the program checks too; 64 and up are the
 * library's own. */
typedef enum support_draft_reason {
  SUPPORT_DRAFT_REASON_NONE = 0,                        /* "" */
  SUPPORT_DRAFT_REASON_SUBJECT_PREFIX = 1,              /* subjectPrefix */
  SUPPORT_DRAFT_REASON_SUBJECT_TOO_LONG = 2,            /* subjectTooLong */
  SUPPORT_DRAFT_REASON_SUBJECT_HOLDS_NUL = 3,           /* subjectHoldsNul */
  SUPPORT_DRAFT_REASON_SUBJECT_NOT_UTF8 = 4,            /* subjectNotUtf8 */
  SUPPORT_DRAFT_REASON_BODY_TOO_LONG = 5,               /* bodyTooLong */
  SUPPORT_DRAFT_REASON_BODY_HOLDS_NUL = 6,              /* bodyHoldsNul */
  SUPPORT_DRAFT_REASON_BODY_NOT_UTF8 = 7,               /* bodyNotUtf8 */
  SUPPORT_DRAFT_REASON_JOB_ID_INVALID = 8,              /* jobIdInvalid */
  SUPPORT_DRAFT_REASON_JOB_DOCUMENT_TOO_LARGE = 9,      /* jobDocumentTooLarge */
  SUPPORT_DRAFT_REASON_JOB_DOCUMENT_UNREADABLE = 10,    /* jobDocumentUnreadable */
  SUPPORT_DRAFT_REASON_JOB_DOCUMENT_NOT_REGULAR_FILE = 11, /* jobDocumentNotRegularFile */
  SUPPORT_DRAFT_REASON_JOB_DOCUMENT_LINKED = 12,        /* jobDocumentLinked */
  SUPPORT_DRAFT_REASON_JOB_DOCUMENT_NOT_OWNED = 13,     /* jobDocumentNotOwned */
  SUPPORT_DRAFT_REASON_JOB_DOCUMENT_NOT_PRIVATE = 14,   /* jobDocumentNotPrivate */
  SUPPORT_DRAFT_REASON_JOB_DOCUMENT_INVALID = 15,       /* jobDocumentInvalid */
  SUPPORT_DRAFT_REASON_LOG_UNREADABLE = 16,             /* logUnreadable */
  SUPPORT_DRAFT_REASON_LOG_IS_DIRECTORY = 17,           /* logIsDirectory */
  SUPPORT_DRAFT_REASON_LOG_NOT_REGULAR_FILE = 18,       /* logNotRegularFile */
  SUPPORT_DRAFT_REASON_LOG_LINKED = 19,                 /* logLinked */
  SUPPORT_DRAFT_REASON_LOG_TOO_LARGE = 20,              /* logTooLarge */
  SUPPORT_DRAFT_REASON_LOG_NOT_OWNED = 21,              /* logNotOwned */
  SUPPORT_DRAFT_REASON_LOG_NOT_PRIVATE = 22,            /* logNotPrivate */
  SUPPORT_DRAFT_REASON_HOME_MISSING = 23,               /* homeMissing: HOME unset, no home in the password entry */
  SUPPORT_DRAFT_REASON_HOME_NOT_ABSOLUTE = 24,          /* homeNotAbsolute */
  SUPPORT_DRAFT_REASON_HOME_NOT_FOUND = 25,             /* homeNotFound: the home directory does not exist */
  SUPPORT_DRAFT_REASON_HOME_NOT_UTF8 = 26,              /* homeNotUtf8 */
  SUPPORT_DRAFT_REASON_HOME_IS_ROOT = 27,               /* homeIsRoot */
  SUPPORT_DRAFT_REASON_DIRECTORY_LINKED = 28,           /* directoryLinked */
  SUPPORT_DRAFT_REASON_DIRECTORY_MISSING = 29,          /* directoryMissing */
  SUPPORT_DRAFT_REASON_DIRECTORY_NOT_DIRECTORY = 30,    /* directoryNotDirectory */
  SUPPORT_DRAFT_REASON_DIRECTORY_UNREADABLE = 31,       /* directoryUnreadable */
  SUPPORT_DRAFT_REASON_DIRECTORY_NOT_OWNED = 32,        /* directoryNotOwned */
  SUPPORT_DRAFT_REASON_DIRECTORY_WRITABLE_BY_OTHERS = 33, /* directoryWritableByOthers */
  SUPPORT_DRAFT_REASON_BUNDLE_MISSING = 34,             /* bundleMissing */
  SUPPORT_DRAFT_REASON_BUNDLE_EXECUTABLE_MISSING = 35,  /* bundleExecutableMissing */
  SUPPORT_DRAFT_REASON_BUNDLE_CHANNEL_UNKNOWN = 36,     /* bundleChannelUnknown */
  SUPPORT_DRAFT_REASON_BUNDLE_SUBJECT_PREFIX_INVALID = 37, /* bundleSubjectPrefixInvalid */
  SUPPORT_DRAFT_REASON_BUNDLE_TOOL_DIRECTORY_INVALID = 38, /* bundleToolDirectoryInvalid */
  SUPPORT_DRAFT_REASON_BUNDLE_RECIPIENT_INVALID = 39,   /* bundleRecipientInvalid */
  SUPPORT_DRAFT_REASON_SUBJECT_NOT_ONE_LINE = 40,       /* subjectNotOneLine: a line break or control character */
  SUPPORT_DRAFT_REASON_DIRECTORY_NOT_MADE = 64,         /* directoryNotMade */
  SUPPORT_DRAFT_REASON_JOB_NOT_WRITTEN = 65,            /* jobNotWritten */
  SUPPORT_DRAFT_REASON_NOT_A_JOB_DIRECTORY = 66,        /* notAJobDirectory: not <home>/<tool directory>/support-drafts/<id> */
  SUPPORT_DRAFT_REASON_RESULT_NOT_REMOVABLE = 67,       /* resultNotRemovable: an earlier result.json stays */
  SUPPORT_DRAFT_REASON_START_FAILED = 68,               /* startFailed */
  SUPPORT_DRAFT_REASON_BODY_FILE_UNREADABLE = 69,       /* bodyFileUnreadable: the command's --body-file */
  SUPPORT_DRAFT_REASON_INVALID_ARGUMENT = 70,           /* invalidArgument: a NULL or out-of-range argument */
  SUPPORT_DRAFT_REASON_OUT_OF_MEMORY = 71,              /* outOfMemory */
  SUPPORT_DRAFT_REASON_BUNDLE_NAME_INVALID = 72,        /* bundleNameInvalid: the command's --make-bundle */
  SUPPORT_DRAFT_REASON_BUNDLE_IDENTIFIER_INVALID = 73,  /* bundleIdentifierInvalid: the command's --make-bundle */
  SUPPORT_DRAFT_REASON_BUNDLE_NOT_MADE = 74,            /* bundleNotMade: the command's --make-bundle */
  SUPPORT_DRAFT_REASON_JOB_RUNNING = 75                 /* jobRunning: a one-at-a-time start while another of the bundle's jobs runs */
} support_draft_reason;

/* What came of a run. */
typedef enum support_draft_outcome {
  SUPPORT_DRAFT_OUTCOME_OPENED = 0,            /* the draft was handed to the mail client */
  SUPPORT_DRAFT_OUTCOME_PERMISSION_DENIED = 1, /* the user has not allowed the program to drive the mail client */
  SUPPORT_DRAFT_OUTCOME_FAILED = 2,            /* the draft could not be made (the program said so) */
  SUPPORT_DRAFT_OUTCOME_NO_RESULT = 3,         /* the program ended, or never started, without a result */
  SUPPORT_DRAFT_OUTCOME_TIMED_OUT = 4,         /* still running at the time bound; it is left to finish */
  SUPPORT_DRAFT_OUTCOME_RUNNING = 5,           /* still running; ask again later */
  SUPPORT_DRAFT_OUTCOME_CANCELLED = 6          /* ended by support_draft_cancel_job before it wrote a result */
} support_draft_outcome;

/* A job on disk: its id, its directory and the place it is in. */
typedef struct support_draft_job support_draft_job;
/* One run of the program for a job, started by support_draft_start_job. */
typedef struct support_draft_run support_draft_run;

/* Prepares a job for `channel` in `home` (NULL or "" for the user's home:
 * HOME when it holds an absolute path, otherwise the password entry's).
 * The subject must begin with "Support Request - Quorvel " and hold at most
 * 200 bytes of UTF-8, the body at most 8192; neither may contain U+0000.
 * `log` (NULL for none) is written as log.txt and attached, at most 24576
 * bytes (support_draft_read_log reads a log file's newest lines within
 * that). The texts are given with their sizes and need no NUL.
 *
 * Checks the texts and the log, then every directory from the home
 * directory down (a real directory, not a link, owned by the user or root,
 * not writable by group or others; no link above the home directory
 * either), makes the missing ones with mode 0700 without following links,
 * and writes log.txt and job.json with mode 0600, each atomically, in a new
 * directory named by a random UUID. A refused job leaves nothing behind.
 * On success *job is set (free it with support_draft_job_free) and
 * SUPPORT_DRAFT_REASON_NONE returned; otherwise *job is NULL. */
SUPPORT_DRAFT_API support_draft_reason support_draft_prepare_job(
    support_draft_channel channel, const char *home, const char *subject, size_t subject_size, const char *body,
    size_t body_size, const char *log, size_t log_size, support_draft_job **job, char *message, size_t message_size);

/* Prepares a job for the bundle at `bundle` as support_draft_prepare_job
 * does for a channel, with the bundle's identity read from its Info.plist
 * by the program's own code: the job goes to the bundle's tool directory
 * (SupportDraftToolDirectory, or its channel's) and the subject must begin
 * with the bundle's subject prefix (SupportDraftSubjectPrefix, or "Support
 * Request - Quorvel "). A bundle the program would refuse is refused here
 * with the reason (bundleChannelUnknown, bundleSubjectPrefixInvalid,
 * bundleToolDirectoryInvalid, bundleRecipientInvalid, ...), and nothing is
 * written. This is the call for an application's own bundle; for the
 * packaged one it does what support_draft_prepare_job does for its channel. */
SUPPORT_DRAFT_API support_draft_reason support_draft_prepare_bundle_job(
    const char *bundle, const char *home, const char *subject, size_t subject_size, const char *body,
    size_t body_size, const char *log, size_t log_size, support_draft_job **job, char *message, size_t message_size);

/* The subject prefix of the bundle at `bundle`, NUL-terminated into
 * `prefix` (at least SUPPORT_DRAFT_MAX_SUBJECT_PREFIX_SIZE + 1 bytes), as
 * the program reads it: the bundle's own or the default. */
SUPPORT_DRAFT_API support_draft_reason support_draft_bundle_subject_prefix(const char *bundle, char *prefix,
                                                                           size_t prefix_size, char *message,
                                                                           size_t message_size);

/* Reads a log file of the host into `buffer` (at least
 * SUPPORT_DRAFT_MAX_LOG_SIZE bytes) and sets *log_size. A file over the
 * limit is refused, or with SUPPORT_DRAFT_LOG_TAIL in `flags` its newest
 * bytes are read, from the first line that begins within them. A link to
 * the log is followed. */
SUPPORT_DRAFT_API support_draft_reason support_draft_read_log(const char *path, unsigned flags, char *buffer,
                                                              size_t buffer_size, size_t *log_size, char *message,
                                                              size_t message_size);

/* The channel of the bundle at `bundle`, read from its Info.plist as the
 * program reads it. */
SUPPORT_DRAFT_API support_draft_reason support_draft_bundle_channel(const char *bundle,
                                                                    support_draft_channel *channel, char *message,
                                                                    size_t message_size);

/* A handle for an existing job: by its parts, or by its directory's path
 * (<home>/<tool directory>/support-drafts/<job id>, as printed by the
 * command; any tool directory a bundle may name, whose job then has the
 * channel prod). Nothing on disk is touched. */
SUPPORT_DRAFT_API support_draft_reason support_draft_job_open(support_draft_channel channel, const char *home,
                                                              const char *job_id, support_draft_job **job,
                                                              char *message, size_t message_size);
SUPPORT_DRAFT_API support_draft_reason support_draft_job_at(const char *directory, support_draft_job **job,
                                                            char *message, size_t message_size);
SUPPORT_DRAFT_API const char *support_draft_job_id(const support_draft_job *job);
SUPPORT_DRAFT_API const char *support_draft_job_directory(const support_draft_job *job);
/* The home directory the program must be given (HOME) for the job. */
SUPPORT_DRAFT_API const char *support_draft_job_home(const support_draft_job *job);
SUPPORT_DRAFT_API support_draft_channel support_draft_job_channel(const support_draft_job *job);
SUPPORT_DRAFT_API void support_draft_job_free(support_draft_job *job);

/* Starts <bundle>/Contents/MacOS/support-draft for the job and returns at
 * once. Any earlier result.json is removed first, so the answer read later
 * is this run's. The program gets the host's environment with HOME set to
 * the job's home, /dev/null as its standard streams, and no other
 * descriptor of the host. The host gets no child process: the program is
 * watched by a process of its own, and support_draft_run_descriptor
 * becomes readable when the program has ended. The program's exec is not
 * waited for: a program file that is missing or may not be executed is
 * refused (startFailed), one that fails to start after all ends the run
 * with NO_RESULT and says so. */
SUPPORT_DRAFT_API support_draft_reason support_draft_start_job(const char *bundle, const support_draft_job *job,
                                                               support_draft_run **run, char *message,
                                                               size_t message_size);
/* support_draft_start_job_options flag: refuse the start with
 * SUPPORT_DRAFT_REASON_JOB_RUNNING while a program runs for another job
 * of the same bundle (its tool directory, in the same home), whichever host
 * process started it: a host's answer to repeated clicks. Only runs started
 * through this library count; the refusal lasts until that program has
 * ended, and a refused start changes nothing on disk. */
#define SUPPORT_DRAFT_START_ONE_AT_A_TIME 1u

/* support_draft_start_job with `options` (0, or the flags above; any
 * other bit is refused as SUPPORT_DRAFT_REASON_INVALID_ARGUMENT). */
SUPPORT_DRAFT_API support_draft_reason support_draft_start_job_options(const char *bundle,
                                                                       const support_draft_job *job,
                                                                       unsigned options, support_draft_run **run,
                                                                       char *message, size_t message_size);

/* Ends the run's program and whatever it started in its process group
 * (a mail client it handed the draft to runs in a session of its own and
 * stays, with the draft), and returns once it has ended and the process
 * watching it has gone (a moment after, bounded): the job's lock is free
 * then, so support_draft_collect_result or a one-at-a-time start right
 * after it finds no run, and the run's descriptor is readable. The outcome:
 * SUPPORT_DRAFT_OUTCOME_CANCELLED, unless the program wrote its result
 * before it ended (that result is returned: a cancel that comes too late
 * changes nothing) or the outcome was known already (returned again).
 * After it, poll and wait return the same outcome.
 * SUPPORT_DRAFT_OUTCOME_RUNNING, with why in `explanation`, when
 * the program could not be asked to end. */
SUPPORT_DRAFT_API support_draft_outcome support_draft_cancel_job(support_draft_run *run, char *explanation,
                                                                 size_t explanation_size);

/* For the host's event loop (poll, GLib, Qt socket notifiers, asyncio):
 * readable once the program has ended and the job's lock is free, and
 * stays readable until the run is freed. Owned by the run; do not close it. support_draft_run_free closes
 * it: take it out of the event loop first, since the number may then be
 * given to any descriptor the host opens next. -1 for a NULL run. */
SUPPORT_DRAFT_API int support_draft_run_descriptor(const support_draft_run *run);
/* The outcome without waiting: SUPPORT_DRAFT_OUTCOME_RUNNING while the
 * program runs. Once known, the same outcome is returned again.
 * `explanation` gets, for NO_RESULT, what the host-side checks found. */
SUPPORT_DRAFT_API support_draft_outcome support_draft_poll_job(support_draft_run *run, char *explanation,
                                                               size_t explanation_size);
/* Waits at most `timeout_ms` milliseconds for the outcome (0: not at all;
 * negative: until the program has ended, as with poll());
 * SUPPORT_DRAFT_OUTCOME_RUNNING when the program still runs then. */
SUPPORT_DRAFT_API support_draft_outcome support_draft_wait_job(support_draft_run *run, long timeout_ms,
                                                               char *explanation, size_t explanation_size);
/* Forgets the run and closes its descriptor. A program still running is
 * left to finish; its result can be read later with
 * support_draft_collect_result. NULL is ignored. */
SUPPORT_DRAFT_API void support_draft_run_free(support_draft_run *run);

/* Starts the program and waits for it at most `time_bound_ms` (negative:
 * until it has ended): SUPPORT_DRAFT_OUTCOME_TIMED_OUT when it still runs
 * then. A job that could
 * not be started is NO_RESULT with the reason in `explanation`. */
SUPPORT_DRAFT_API support_draft_outcome support_draft_run_job(const char *bundle, const support_draft_job *job,
                                                              long time_bound_ms, char *explanation,
                                                              size_t explanation_size);

/* Reads the result of a job whose run the host no longer waits for (one
 * that timed out, or was started by an earlier host process): the outcome
 * it left, RUNNING while a program still runs for the job, else NO_RESULT
 * (also for a run that was cancelled: only its run handle tells that).
 * A program runs for the job while the process that watches it holds a lock
 * on the job directory (flock), from before support_draft_start_job returns
 * until the program has ended, whichever host process started it. */
SUPPORT_DRAFT_API support_draft_outcome support_draft_collect_result(const support_draft_job *job,
                                                                     char *explanation, size_t explanation_size);

/* Removes the job's directory and the files in it, never following a link.
 * Only when the host asks: the mail client may read the log after the
 * program has ended. Nonzero when the directory is gone. */
SUPPORT_DRAFT_API int support_draft_remove_job(const support_draft_job *job);

/* Removes the finished job directories of a place whose newest file is
 * older than `age_seconds` (not negative): only directories laid out as this library makes
 * them (a canonical job id as name, a directory of the user with mode 0700
 * holding nothing but the job's own regular files), never through a link,
 * and never one a program still runs for. *removed (when not NULL) gets the
 * number removed. */
SUPPORT_DRAFT_API support_draft_reason support_draft_prune_jobs(support_draft_channel channel, const char *home,
                                                                long age_seconds, size_t *removed, char *message,
                                                                size_t message_size);
/* The same in the tool directory of the bundle at `bundle`. */
SUPPORT_DRAFT_API support_draft_reason support_draft_prune_bundle_jobs(const char *bundle, const char *home,
                                                                       long age_seconds, size_t *removed,
                                                                       char *message, size_t message_size);

/* Which route a job would take in this session, asked before it starts or
 * after it failed: the way to the mail client, whether a log reaches the
 * client, and what an "opened" proves. Decided by the program's own code
 * (the facts of the session, the decision and the admission of the route),
 * linked into this library, with the bundle's identity and helpers, the
 * home, and the environment the program is given (the host's, with HOME
 * set to the home); nothing is started. The session may change between
 * the question and the job (a client set up, MAILER set): the answer holds
 * for the moment it is asked. */
typedef enum support_draft_route_way {
  SUPPORT_DRAFT_ROUTE_NONE = 0,           /* "none": nothing would be started; the job fails */
  SUPPORT_DRAFT_ROUTE_DEFAULT_CLIENT = 1, /* "defaultClient": the desktop's default mail client */
  SUPPORT_DRAFT_ROUTE_TERMINAL = 2,       /* "terminal": the default client, run in a terminal */
  SUPPORT_DRAFT_ROUTE_MAILER = 3,         /* "mailer": the composer command MAILER names */
  SUPPORT_DRAFT_ROUTE_PORTAL = 4,         /* "portal": the desktop portal, from inside a sandbox */
  SUPPORT_DRAFT_ROUTE_FLATPAK_HOST = 5    /* "flatpakHost": from a sandbox, the host's own route */
} support_draft_route_way;

/* Whether a draft with a log gets the log into the mail client. */
typedef enum support_draft_log_carriage {
  SUPPORT_DRAFT_LOG_CARRIED = 0,        /* "carried" */
  SUPPORT_DRAFT_LOG_NOT_CARRIED = 1,    /* "notCarried": no route carries the log; without it there is one */
  SUPPORT_DRAFT_LOG_NO_ROUTE = 2,       /* "noRoute": no route even without the log */
  SUPPORT_DRAFT_LOG_DECIDED_ON_HOST = 3 /* "decidedOnHost": the host decides; the sandbox cannot tell */
} support_draft_log_carriage;

/* What an "opened" outcome of the route proves. */
typedef enum support_draft_assurance {
  SUPPORT_DRAFT_ASSURANCE_NONE = 0,           /* "": no route */
  SUPPORT_DRAFT_ASSURANCE_CHECKED = 1,        /* "checked": the client's own files say it shows its composer */
  SUPPORT_DRAFT_ASSURANCE_START_ONLY = 2,     /* "startOnly": the client or portal was started and took the draft */
  SUPPORT_DRAFT_ASSURANCE_DECIDED_ON_HOST = 3 /* "decidedOnHost" */
} support_draft_assurance;

/* The answer of support_draft_route or support_draft_job_route. */
typedef struct support_draft_route_answer support_draft_route_answer;

/* support_draft_route flag: the job would carry a log. */
#define SUPPORT_DRAFT_ROUTE_WITH_LOG 1u

/* The route of a job of the bundle at `bundle` in `home` (NULL or "" for
 * the user's home), with a log when `flags` holds SUPPORT_DRAFT_ROUTE_WITH_LOG.
 * The job's texts stand in as a subject of the bundle's prefix and an empty
 * body; its log lies where a job's would. A bundle the program would refuse
 * is refused with its reason. On success *answer is set (free it with
 * support_draft_route_answer_free); otherwise it is NULL. */
SUPPORT_DRAFT_API support_draft_reason support_draft_route(const char *bundle, const char *home, unsigned flags,
                                                           support_draft_route_answer **answer, char *message,
                                                           size_t message_size);
/* The route of a prepared job as its job document asks it (its subject,
 * body and, when it asks for one, its log). After a `failed` outcome,
 * support_draft_route_answer_log giving SUPPORT_DRAFT_LOG_NOT_CARRIED says
 * the route could not carry the log, and the job without it would have
 * one. A job document or log that now fails its check is refused with its
 * rule (that is what failed the job). */
SUPPORT_DRAFT_API support_draft_reason support_draft_job_route(const char *bundle, const support_draft_job *job,
                                                               support_draft_route_answer **answer, char *message,
                                                               size_t message_size);
SUPPORT_DRAFT_API support_draft_route_way support_draft_route_answer_way(const support_draft_route_answer *answer);
SUPPORT_DRAFT_API support_draft_log_carriage support_draft_route_answer_log(const support_draft_route_answer *answer);
SUPPORT_DRAFT_API support_draft_assurance
support_draft_route_answer_assurance(const support_draft_route_answer *answer);
/* The strings belong to the answer and stay valid until
 * support_draft_route_answer_free of it ("" for a NULL answer).
 * _client: the known mail client the route starts by its program's name
 * ("thunderbird", "evolution", "claws-mail", "sylpheed", "balsa",
 * "neomutt", "geary", "kmail"), "" when none is known. _handler: the
 * default client's desktop id for DEFAULT_CLIENT and TERMINAL, else "".
 * _portal_backend: "gtk", "kde" or "unknown" for PORTAL, else "". _why:
 * for NONE, why nothing would be started, else "". _json: the answer as
 * one compact JSON object, as `support-draft-host --route` prints it. */
SUPPORT_DRAFT_API const char *support_draft_route_answer_client(const support_draft_route_answer *answer);
SUPPORT_DRAFT_API const char *support_draft_route_answer_handler(const support_draft_route_answer *answer);
SUPPORT_DRAFT_API const char *support_draft_route_answer_portal_backend(const support_draft_route_answer *answer);
SUPPORT_DRAFT_API const char *support_draft_route_answer_why(const support_draft_route_answer *answer);
SUPPORT_DRAFT_API const char *support_draft_route_answer_json(const support_draft_route_answer *answer);
SUPPORT_DRAFT_API void support_draft_route_answer_free(support_draft_route_answer *answer);
/* The stable names above, as constants ("none", "notCarried", "checked", ...). */
SUPPORT_DRAFT_API const char *support_draft_route_way_name(support_draft_route_way way);
SUPPORT_DRAFT_API const char *support_draft_log_carriage_name(support_draft_log_carriage log);
SUPPORT_DRAFT_API const char *support_draft_assurance_name(support_draft_assurance assurance);

/* "opened", "permissionDenied", "failed", "noResult", "timedOut", "running", "cancelled". */
SUPPORT_DRAFT_API const char *support_draft_outcome_name(support_draft_outcome outcome);
/* The stable code of a reason ("subjectTooLong", ...; "" for none). */
SUPPORT_DRAFT_API const char *support_draft_reason_code(support_draft_reason reason);

#ifdef __cplusplus
}
#endif

#endif
