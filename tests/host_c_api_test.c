/* The host library from a C host: a refusal with its code, then a job
 * started without blocking, watched through its descriptor, opened through
 * the built bundle with a recording composer, collected again and removed,
 * leaving the host no child. Built as C89 against the shared library.
 *   host_c_api_test BUNDLE */
#define _XOPEN_SOURCE 700
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support_draft_host.h"

static int failures = 0;

#define CHECK(condition)                                                  \
  do {                                                                    \
    if (!(condition)) {                                                   \
      fprintf(stderr, "%s:%d: failed: %s\n", __FILE__, __LINE__, #condition); \
      ++failures;                                                         \
    }                                                                     \
  } while (0)

static char message[SUPPORT_DRAFT_MESSAGE_SIZE];

static int contains(const char *path, const char *needle) {
  static char text[65536];
  size_t size;
  FILE *file = fopen(path, "r");
  if (file == NULL) return 0;
  size = fread(text, 1, sizeof text - 1, file);
  fclose(file);
  text[size] = '\0';
  return strstr(text, needle) != NULL;
}

int main(int argc, char **argv) {
  char root[] = "/tmp/host-c-api-XXXXXX";
  char home[256], missing[256], composer[256], record[256], command[512];
  static char body[SUPPORT_DRAFT_MAX_BODY_SIZE + 1];
  const char *subject = "Support Request - Quorvel from-C-89";
  const char *log = "log line\n";
  support_draft_channel channel;
  support_draft_job *job = NULL;
  support_draft_run *run = NULL;
  support_draft_reason reason;
  struct pollfd ended;
  FILE *script;

  if (argc != 2) {
    fprintf(stderr, "usage: host_c_api_test BUNDLE\n");
    return 2;
  }
  if (support_draft_bundle_channel(argv[1], &channel, message, sizeof message) != SUPPORT_DRAFT_REASON_NONE) {
    fprintf(stderr, "%s\n", message);
    return 2;
  }
  if (mkdtemp(root) == NULL) return 2;
  sprintf(home, "%s/home", root);
  sprintf(missing, "%s/missing", root);
  sprintf(composer, "%s/composer", root);
  sprintf(record, "%s/record", root);
  if (mkdir(home, 0700) != 0) return 2;
  script = fopen(composer, "w");
  if (script == NULL) return 2;
  fprintf(script, "#!/bin/sh\nprintf '%%s\\n' \"$1\" >> '%s'\n", record);
  fclose(script);
  if (chmod(composer, 0755) != 0 || setenv("MAILER", composer, 1) != 0) return 2;

  /* Refusals: a code and a sentence, no handle. */
  memset(body, 'b', sizeof body);
  job = (support_draft_job *)1;
  reason = support_draft_prepare_job(channel, home, subject, strlen(subject), body, sizeof body, NULL, 0, &job,
                                     message, sizeof message);
  CHECK(reason == SUPPORT_DRAFT_REASON_BODY_TOO_LONG);
  CHECK(strcmp(support_draft_reason_code(reason), "bodyTooLong") == 0);
  CHECK(strstr(message, "body is too long") != NULL);
  CHECK(job == NULL);
  reason = support_draft_prepare_job(channel, missing, subject, strlen(subject), "b", 1, NULL, 0, &job, message,
                                     sizeof message);
  CHECK(reason == SUPPORT_DRAFT_REASON_HOME_NOT_FOUND);
  CHECK(strcmp(support_draft_reason_code(reason), "homeNotFound") == 0);
  CHECK(strstr(message, missing) != NULL);

  /* A job, started without waiting, its end seen on the descriptor. */
  reason = support_draft_prepare_job(channel, home, subject, strlen(subject), "Hello", 5, log, strlen(log), &job,
                                     message, sizeof message);
  CHECK(reason == SUPPORT_DRAFT_REASON_NONE);
  if (job == NULL) return 1;
  CHECK(strncmp(support_draft_job_directory(job), home, strlen(home)) == 0);
  reason = support_draft_start_job(argv[1], job, &run, message, sizeof message);
  CHECK(reason == SUPPORT_DRAFT_REASON_NONE);
  if (run == NULL) return 1;
  ended.fd = support_draft_run_descriptor(run);
  ended.events = POLLIN;
  CHECK(poll(&ended, 1, 60000) == 1);
  CHECK(support_draft_poll_job(run, message, sizeof message) == SUPPORT_DRAFT_OUTCOME_OPENED);
  support_draft_run_free(run);
  /* Freeing the run closed its descriptor. */
  CHECK(fcntl(ended.fd, F_GETFD) == -1 && errno == EBADF);
  CHECK(contains(record, "from-C-89"));
  CHECK(contains(record, "log.txt"));

  /* Options it does not know are refused; a cancel that comes after the
   * program wrote its result gives that result. */
  CHECK(support_draft_start_job_options(argv[1], job, 2u, &run, message, sizeof message) ==
        SUPPORT_DRAFT_REASON_INVALID_ARGUMENT);
  CHECK(run == NULL);
  CHECK(strcmp(support_draft_reason_code(SUPPORT_DRAFT_REASON_JOB_RUNNING), "jobRunning") == 0);
  CHECK(strcmp(support_draft_outcome_name(SUPPORT_DRAFT_OUTCOME_CANCELLED), "cancelled") == 0);
  reason = support_draft_start_job_options(argv[1], job, SUPPORT_DRAFT_START_ONE_AT_A_TIME, &run, message,
                                           sizeof message);
  CHECK(reason == SUPPORT_DRAFT_REASON_NONE);
  if (run == NULL) return 1;
  ended.fd = support_draft_run_descriptor(run);
  CHECK(poll(&ended, 1, 60000) == 1);
  CHECK(support_draft_cancel_job(run, message, sizeof message) == SUPPORT_DRAFT_OUTCOME_OPENED);
  support_draft_run_free(run);

  /* Read again later, then removed; nothing left for the host to reap. */
  CHECK(support_draft_collect_result(job, message, sizeof message) == SUPPORT_DRAFT_OUTCOME_OPENED);
  CHECK(support_draft_remove_job(job) == 1);
  CHECK(access(support_draft_job_directory(job), F_OK) != 0);
  support_draft_job_free(job);
  CHECK(waitpid(-1, NULL, WNOHANG) == -1 && errno == ECHILD);

  sprintf(command, "rm -rf '%s'", root);
  if (system(command) != 0) return 2;
  if (failures == 0) printf("all passed\n");
  return failures == 0 ? 0 : 1;
}
