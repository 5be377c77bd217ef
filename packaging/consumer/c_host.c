/* A host in C, built with pkg-config against the installed packages: it
 * prepares one job for its bundle with the bundle's own subject prefix,
 * starts it without blocking, waits for the run's descriptor as an event
 * loop would, and prints the outcome's name.
 *   cc c_host.c $(pkg-config --cflags --libs support-draft-host) -DBUNDLE='"..."' */
#define _XOPEN_SOURCE 700
#include <poll.h>
#include <stdio.h>
#include <string.h>

#include <support_draft_host.h>

int main(void) {
  static char message[SUPPORT_DRAFT_MESSAGE_SIZE];
  char subject[SUPPORT_DRAFT_MAX_SUBJECT_SIZE + 1];
  const char *body = "Hello";
  const char *log = "log\n";
  support_draft_job *job = NULL;
  support_draft_run *run = NULL;
  support_draft_outcome outcome;
  struct pollfd ended;

  if (support_draft_bundle_subject_prefix(BUNDLE, subject, sizeof subject, message, sizeof message) !=
      SUPPORT_DRAFT_REASON_NONE) {
    printf("refused: %s\n", message);
    return 1;
  }
  strcat(subject, "package check from C");
  if (support_draft_prepare_bundle_job(BUNDLE, NULL, subject, strlen(subject), body, strlen(body), log, strlen(log),
                                       &job, message, sizeof message) != SUPPORT_DRAFT_REASON_NONE ||
      support_draft_start_job(BUNDLE, job, &run, message, sizeof message) != SUPPORT_DRAFT_REASON_NONE) {
    printf("refused: %s\n", message);
    support_draft_job_free(job);
    return 1;
  }
  ended.fd = support_draft_run_descriptor(run);
  ended.events = POLLIN;
  if (poll(&ended, 1, 30000) < 0) perror("poll");
  outcome = support_draft_poll_job(run, message, sizeof message);
  printf("%s%s\n", support_draft_outcome_name(outcome), message);
  support_draft_run_free(run);
  support_draft_job_free(job);
  return outcome == SUPPORT_DRAFT_OUTCOME_OPENED ? 0 : 1;
}
