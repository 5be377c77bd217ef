#!/usr/bin/env python3
"""The host library from a Python host through ctypes: a refusal with its
code, a log file over the limit read by its newest lines, and a job opened
through the built bundle with a recording composer.

    host_ctypes_test.py LIBRARY BUNDLE
"""
import ctypes
import os
import sys
import tempfile

library, bundle = sys.argv[1:3]
api = ctypes.CDLL(library)

job_p = ctypes.c_void_p
api.support_draft_prepare_job.restype = ctypes.c_int
api.support_draft_prepare_job.argtypes = [
    ctypes.c_int, ctypes.c_char_p, ctypes.c_char_p, ctypes.c_size_t, ctypes.c_char_p, ctypes.c_size_t,
    ctypes.c_char_p, ctypes.c_size_t, ctypes.POINTER(job_p), ctypes.c_char_p, ctypes.c_size_t]
api.support_draft_read_log.argtypes = [
    ctypes.c_char_p, ctypes.c_uint, ctypes.c_char_p, ctypes.c_size_t, ctypes.POINTER(ctypes.c_size_t),
    ctypes.c_char_p, ctypes.c_size_t]
api.support_draft_bundle_channel.argtypes = [
    ctypes.c_char_p, ctypes.POINTER(ctypes.c_int), ctypes.c_char_p, ctypes.c_size_t]
api.support_draft_run_job.restype = ctypes.c_int
api.support_draft_run_job.argtypes = [ctypes.c_char_p, job_p, ctypes.c_long, ctypes.c_char_p, ctypes.c_size_t]
for name in ("support_draft_reason_code", "support_draft_outcome_name", "support_draft_job_directory"):
    getattr(api, name).restype = ctypes.c_char_p
api.support_draft_outcome_name.argtypes = [ctypes.c_int]
api.support_draft_reason_code.argtypes = [ctypes.c_int]
api.support_draft_job_directory.argtypes = [job_p]
api.support_draft_remove_job.argtypes = [job_p]
api.support_draft_job_free.argtypes = [job_p]

LOG_TAIL = 1
MAX_LOG = 24576
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("failed:", what, file=sys.stderr)


channel = ctypes.c_int(-1)
message = ctypes.create_string_buffer(4608)
if api.support_draft_bundle_channel(bundle.encode(), ctypes.byref(channel), message, len(message)) != 0:
    sys.exit("the bundle has no channel: " + message.value.decode())


def prepare(home, subject, body, log=None):
    job = job_p()
    message = ctypes.create_string_buffer(4608)
    reason = api.support_draft_prepare_job(
        channel.value, home.encode(), subject, len(subject), body, len(body), log, len(log or b""),
        ctypes.byref(job), message, len(message))
    return reason, api.support_draft_reason_code(reason).decode(), message.value.decode(), job


def read_log(path, flags):
    buffer = ctypes.create_string_buffer(MAX_LOG)
    size = ctypes.c_size_t(0)
    message = ctypes.create_string_buffer(4608)
    reason = api.support_draft_read_log(path.encode(), flags, buffer, MAX_LOG, ctypes.byref(size), message,
                                        len(message))
    return api.support_draft_reason_code(reason).decode(), buffer.raw[:size.value]


with tempfile.TemporaryDirectory() as root:
    home = os.path.join(root, "home")
    os.mkdir(home, 0o700)
    record = os.path.join(root, "record")
    composer = os.path.join(root, "composer")
    with open(composer, "w") as script:
        script.write("#!/bin/sh\nprintf '%%s\\n' \"$1\" >> '%s'\n" % record)
    os.chmod(composer, 0o755)
    os.environ["MAILER"] = composer  # the library hands its environment on

    subject = b"Support Request - Quorvel from-ctypes"
    reason, code, message, job = prepare(home, b"Support request - x", b"b")
    check(code == "subjectPrefix" and not job.value and "must begin with" in message, (reason, code, message))
    big = b"".join(b"line %05d\n" % i for i in range(4000))
    log_path = os.path.join(root, "app.log")
    with open(log_path, "wb") as log_file:
        log_file.write(big)
    code, log = read_log(log_path, 0)
    check(code == "logTooLarge" and log == b"", code)
    code, log = read_log(log_path, LOG_TAIL)
    check(code == "" and len(log) <= MAX_LOG and big.endswith(log) and log.startswith(b"line "), (code, len(log)))
    check(log.endswith(b"line 03999\n") and len(log) > MAX_LOG - 11, len(log))

    reason, code, message, job = prepare(home, subject, b"Hello", log)
    check(reason == 0 and job.value, (code, message))
    directory = api.support_draft_job_directory(job).decode()
    with open(os.path.join(directory, "log.txt"), "rb") as kept:
        check(kept.read() == log, "log.txt is not the log read")

    explanation = ctypes.create_string_buffer(4608)
    outcome = api.support_draft_run_job(bundle.encode(), job, 60000, explanation, len(explanation))
    check(api.support_draft_outcome_name(outcome) == b"opened", explanation.value)
    with open(record) as received:
        check("from-ctypes" in received.read(), "the composer got no draft")
    check(api.support_draft_remove_job(job) == 1 and not os.path.exists(directory), "not removed")
    api.support_draft_job_free(job)

print("failed" if failures else "all passed")
sys.exit(1 if failures else 0)
