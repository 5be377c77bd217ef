"""The host's side of support-draft for Python hosts: prepares a job
exactly as the program demands, starts the program for it without blocking
the host, and tells what came of it. A thin layer over the host library
(libsupport-draft-host.so.0) through ctypes; the library is loaded on first
use.

    import support_draft

    prefix = support_draft.bundle_subject_prefix(bundle)
    try:
        job = support_draft.prepare_bundle_job(bundle, prefix + "Crash on save", body,
                                               support_draft.read_log(log_path, tail=True))
    except support_draft.Refused as refusal:
        log.error("%s: %s", refusal.code, refusal.message)   # nothing was written
        return
    with job, job.start(bundle) as run:   # returns at once
        report = run.wait()               # or: watch run.fileno() in the event loop, then run.poll()
    if report.outcome is support_draft.Outcome.OPENED: ...

A refusal raises Refused with its Reason and a sentence for the host's own
log. Times are in seconds, None for no bound. Texts are str (sent as
UTF-8) or bytes; paths are str, bytes or path-like objects. Every handle
may be used from several threads: a run may be polled while another
thread waits on it, and a handle closed while another thread waits on it
is freed when that wait returns."""
from ._codes import (LOG_TAIL, MAX_BODY_SIZE, MAX_LOG_SIZE, MAX_SUBJECT_PREFIX_SIZE, MAX_SUBJECT_SIZE,
                     MESSAGE_SIZE, START_ONE_AT_A_TIME, Channel, Outcome, Reason)
from ._jobs import (Job, Refused, Report, Run, bundle_channel, bundle_subject_prefix, job_at, open_job,
                    prepare_bundle_job, prepare_job, prune_bundle_jobs, prune_jobs, read_log)
from ._library import LIBRARY_NAME

__all__ = [
    "LIBRARY_NAME", "LOG_TAIL", "MAX_BODY_SIZE", "MAX_LOG_SIZE", "MAX_SUBJECT_PREFIX_SIZE", "MAX_SUBJECT_SIZE",
    "MESSAGE_SIZE", "START_ONE_AT_A_TIME", "Channel", "Job", "Outcome", "Reason", "Refused", "Report", "Run",
    "bundle_channel", "bundle_subject_prefix", "job_at", "open_job", "prepare_bundle_job", "prepare_job",
    "prune_bundle_jobs", "prune_jobs", "read_log",
]
