#!/usr/bin/env python3
"""A host in Python, through ctypes on the installed shared library: one job
for its bundle, with the bundle's own subject prefix, run to its outcome.

    python_host.py BUNDLE
"""
import ctypes
import sys

bundle = sys.argv[1].encode()
api = ctypes.CDLL("libsupport-draft-host.so.0")
job_p = ctypes.c_void_p
MESSAGE_SIZE = 4608

api.support_draft_bundle_subject_prefix.argtypes = [
    ctypes.c_char_p, ctypes.c_char_p, ctypes.c_size_t, ctypes.c_char_p, ctypes.c_size_t]
api.support_draft_prepare_bundle_job.argtypes = [
    ctypes.c_char_p, ctypes.c_char_p, ctypes.c_char_p, ctypes.c_size_t, ctypes.c_char_p, ctypes.c_size_t,
    ctypes.c_char_p, ctypes.c_size_t, ctypes.POINTER(job_p), ctypes.c_char_p, ctypes.c_size_t]
api.support_draft_run_job.argtypes = [ctypes.c_char_p, job_p, ctypes.c_long, ctypes.c_char_p, ctypes.c_size_t]
api.support_draft_outcome_name.restype = ctypes.c_char_p
api.support_draft_outcome_name.argtypes = [ctypes.c_int]
api.support_draft_job_free.argtypes = [job_p]

message = ctypes.create_string_buffer(MESSAGE_SIZE)
prefix = ctypes.create_string_buffer(201)
if api.support_draft_bundle_subject_prefix(bundle, prefix, len(prefix), message, len(message)) != 0:
    sys.exit("refused: " + message.value.decode())
subject = prefix.value + "package check from Python".encode()
body, log = "Hello".encode(), "log\n".encode()
job = job_p()
if api.support_draft_prepare_bundle_job(bundle, None, subject, len(subject), body, len(body), log, len(log),
                                        ctypes.byref(job), message, len(message)) != 0:
    sys.exit("refused: " + message.value.decode())
outcome = api.support_draft_run_job(bundle, job, 30000, message, len(message))
api.support_draft_job_free(job)
print(api.support_draft_outcome_name(outcome).decode() + message.value.decode())
sys.exit(0 if outcome == 0 else 1)
