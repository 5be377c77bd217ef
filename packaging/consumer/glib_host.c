/* A host with a GLib main loop, built with pkg-config against the installed
 * packages: it prepares one job for its bundle with the bundle's own
 * subject prefix and a log, starts it without blocking, watches the run's
 * descriptor with g_unix_fd_add while the loop keeps running, and prints
 * the outcome's name.
 *   cc glib_host.c $(pkg-config --cflags --libs glib-2.0 support-draft-host) -DBUNDLE='"..."' */
#include <glib-unix.h>
#include <glib.h>
#include <stdio.h>
#include <string.h>

#include <support_draft_host.h>

#include "example_job.h"

typedef struct {
  GMainLoop *loop;
  support_draft_run *run;
  support_draft_outcome outcome;
  guint ended_watch;
  guint time_bound;
  char explanation[SUPPORT_DRAFT_MESSAGE_SIZE];
} Watch;

/* The descriptor is readable: the program has ended. */
static gboolean run_ended(gint descriptor, GIOCondition condition, gpointer data) {
  Watch *watch = data;
  (void)descriptor;
  (void)condition;
  watch->outcome = support_draft_poll_job(watch->run, watch->explanation, sizeof watch->explanation);
  if (watch->outcome == SUPPORT_DRAFT_OUTCOME_RUNNING) return G_SOURCE_CONTINUE;
  watch->ended_watch = 0;
  g_main_loop_quit(watch->loop);
  return G_SOURCE_REMOVE; /* out of the loop before the run (and its descriptor) is freed */
}

/* The program still runs at the time bound: it is left to finish. */
static gboolean time_bound_reached(gpointer data) {
  Watch *watch = data;
  watch->outcome = SUPPORT_DRAFT_OUTCOME_TIMED_OUT;
  watch->time_bound = 0;
  g_main_loop_quit(watch->loop);
  return G_SOURCE_REMOVE;
}

int main(void) {
  static char message[SUPPORT_DRAFT_MESSAGE_SIZE];
  support_draft_job *job = prepare_example_job("package check from GLib");
  Watch watch;

  if (job == NULL) return 1;
  memset(&watch, 0, sizeof watch);
  if (support_draft_start_job(BUNDLE, job, &watch.run, message, sizeof message) != SUPPORT_DRAFT_REASON_NONE) {
    printf("refused: %s\n", message);
    support_draft_job_free(job);
    return 1;
  }
  watch.loop = g_main_loop_new(NULL, FALSE);
  watch.ended_watch = g_unix_fd_add(support_draft_run_descriptor(watch.run), G_IO_IN, run_ended, &watch);
  watch.time_bound = g_timeout_add_seconds(30, time_bound_reached, &watch);
  g_main_loop_run(watch.loop);
  if (watch.ended_watch != 0) g_source_remove(watch.ended_watch);
  if (watch.time_bound != 0) g_source_remove(watch.time_bound);
  g_main_loop_unref(watch.loop);

  printf("%s%s\n", support_draft_outcome_name(watch.outcome), watch.explanation);
  support_draft_run_free(watch.run);
  support_draft_job_free(job);
  return watch.outcome == SUPPORT_DRAFT_OUTCOME_OPENED ? 0 : 1;
}
