/* The job both C examples prepare for their bundle: a subject of the
 * bundle's own prefix followed by `what`, a short body and a log. */
#ifndef EXAMPLE_JOB_H
#define EXAMPLE_JOB_H

#include <stdio.h>
#include <string.h>

#include <support_draft_host.h>

/* The prepared job, or NULL after printing why it was refused. */
static support_draft_job *prepare_example_job(const char *what) {
  static char message[SUPPORT_DRAFT_MESSAGE_SIZE];
  char subject[SUPPORT_DRAFT_MAX_SUBJECT_SIZE + 1];
  const char *body = "Hello";
  const char *log = "log\n";
  support_draft_job *job = NULL;

  if (support_draft_bundle_subject_prefix(BUNDLE, subject, sizeof subject, message, sizeof message) !=
      SUPPORT_DRAFT_REASON_NONE) {
    printf("refused: %s\n", message);
    return NULL;
  }
  strncat(subject, what, sizeof subject - strlen(subject) - 1);
  if (support_draft_prepare_bundle_job(BUNDLE, NULL, subject, strlen(subject), body, strlen(body), log, strlen(log),
                                       &job, message, sizeof message) != SUPPORT_DRAFT_REASON_NONE) {
    printf("refused: %s\n", message);
    return NULL;
  }
  return job;
}

#endif
