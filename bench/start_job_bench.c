/* How long support_draft_start_job keeps the caller's thread: the time
 * from the call to its return, over many starts of one job, with the host
 * holding as much resident memory as a desktop application does (a start
 * that copies the host's address space pays for every page of it).
 *
 *   start_job_bench BUNDLE [--runs N] [--resident MIB] [--target-ms MS]
 *
 * Prints the median, the 90th percentile and the largest of the runs in
 * milliseconds. Exits 1 when the median is over the target (default 2 ms),
 * 2 when the benchmark itself cannot run. Each run is waited for to its end
 * (outside the timed part) before the next starts. */
#define _GNU_SOURCE
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "support_draft_host.h"

static double nowMs(void) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (double)now.tv_sec * 1000.0 + (double)now.tv_nsec / 1e6;
}

static int byValue(const void *a, const void *b) {
  const double x = *(const double *)a, y = *(const double *)b;
  return x < y ? -1 : x > y;
}

static int usage(void) {
  fprintf(stderr, "usage: start_job_bench BUNDLE [--runs N] [--resident MIB] [--target-ms MS]\n");
  return 2;
}

int main(int argc, char **argv) {
  const char *bundle;
  long runs = 200, residentMib = 256;
  double targetMs = 2.0;
  int i;
  if (argc < 2) return usage();
  bundle = argv[1];
  for (i = 2; i + 1 < argc; i += 2) {
    if (strcmp(argv[i], "--runs") == 0) runs = atol(argv[i + 1]);
    else if (strcmp(argv[i], "--resident") == 0) residentMib = atol(argv[i + 1]);
    else if (strcmp(argv[i], "--target-ms") == 0) targetMs = atof(argv[i + 1]);
    else return usage();
  }
  if (i != argc || runs < 10 || residentMib < 0) return usage();

  /* The host's own memory, every page touched, so that it is resident. */
  char *resident = NULL;
  if (residentMib > 0) {
    resident = malloc((size_t)residentMib << 20);
    if (resident == NULL) return 2;
    memset(resident, 1, (size_t)residentMib << 20);
  }

  char home[] = "/tmp/start-job-bench-XXXXXX";
  if (mkdtemp(home) == NULL || chmod(home, 0700) != 0) return 2;
  char prefix[SUPPORT_DRAFT_MAX_SUBJECT_PREFIX_SIZE + 1];
  char message[SUPPORT_DRAFT_MESSAGE_SIZE];
  if (support_draft_bundle_subject_prefix(bundle, prefix, sizeof prefix, message, sizeof message) !=
      SUPPORT_DRAFT_REASON_NONE) {
    fprintf(stderr, "start_job_bench: %s\n", message);
    return 2;
  }
  char subject[SUPPORT_DRAFT_MAX_SUBJECT_SIZE];
  snprintf(subject, sizeof subject, "%sExport stops", prefix);
  support_draft_job *job = NULL;
  if (support_draft_prepare_bundle_job(bundle, home, subject, strlen(subject), "Hello", 5, "log line\n", 9, &job,
                                       message, sizeof message) != SUPPORT_DRAFT_REASON_NONE) {
    fprintf(stderr, "start_job_bench: %s\n", message);
    return 2;
  }

  double *times = calloc((size_t)runs, sizeof *times);
  if (times == NULL) return 2;
  int failed = 0;
  for (i = 0; i < runs; ++i) {
    support_draft_run *run = NULL;
    const double before = nowMs();
    const support_draft_reason reason = support_draft_start_job(bundle, job, &run, message, sizeof message);
    times[i] = nowMs() - before;
    if (reason != SUPPORT_DRAFT_REASON_NONE) {
      fprintf(stderr, "start_job_bench: not started: %s\n", message);
      return 2;
    }
    if (support_draft_wait_job(run, -1, message, sizeof message) != SUPPORT_DRAFT_OUTCOME_OPENED) failed = 1;
    support_draft_run_free(run);
  }
  if (failed) fprintf(stderr, "start_job_bench: a run did not open its draft (%s)\n", message);

  qsort(times, (size_t)runs, sizeof *times, byValue);
  const double median = times[runs / 2], p90 = times[runs * 9 / 10], most = times[runs - 1];
  printf("start_job: %ld runs, host resident %ld MiB: median %.3f ms, p90 %.3f ms, max %.3f ms (target %.1f ms)\n",
         runs, residentMib, median, p90, most, targetMs);

  support_draft_remove_job(job);
  support_draft_job_free(job);
  free(times);
  free(resident);
  char command[sizeof home + 16];
  snprintf(command, sizeof command, "rm -rf '%s'", home);
  if (system(command) != 0) fprintf(stderr, "start_job_bench: %s is left behind\n", home);
  if (failed) return 2;
  return median > targetMs ? 1 : 0;
}
