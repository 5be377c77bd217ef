/* A host in C, built with pkg-config against the installed packages: it
 * prepares one job for its bundle with the bundle's own subject prefix,
 * starts it without blocking, waits for the run's descriptor as an event
 * loop would, and prints the outcome's name.
 *   cc c_host.c $(pkg-config --cflags --libs support-draft-host) -DBUNDLE='"..."' */
#define _XOPEN_SOURCE 700
#include <poll.h>
#include <stdio.h>

#include <support_draft_host.h>

#include "example_job.h"

int main(void) {
  static char message[SUPPORT_DRAFT_MESSAGE_SIZE];
  support_draft_job *job = prepare_example_job("package check from C");
  support_draft_run *run = NULL;
  support_draft_outcome outcome;
  struct pollfd ended;

  if (job == NULL) return 1;
  if (support_draft_start_job(BUNDLE, job, &run, message, sizeof message) != SUPPORT_DRAFT_REASON_NONE) {
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
