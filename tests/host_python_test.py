#!/usr/bin/env python3
"""The support_draft package over the built host library: its numbers
agree with the C header, refusals carry their reason, a job opens a draft
through the built bundle (blocking, through a selector and through
asyncio), and its handles stay safe when closed at any moment.

    host_python_test.py BUNDLE HEADER [unittest arguments]

The package is found through PYTHONPATH and the library through the
dynamic loader (LD_LIBRARY_PATH), as the suite sets them."""
import asyncio
import ctypes
import fcntl
import os
import re
import selectors
import sys
import tempfile
import threading
import time
import unittest

import support_draft as sd

BUNDLE = HEADER = ""
PREFIX = "Support Request - Quorvel "


def header_text():
    with open(HEADER) as header:
        return re.sub(r"/\*.*?\*/", "", header.read(), flags=re.S)


def header_enumerations():
    """{enumeration: {member without the common prefix: value}} of the header's typedef enums."""
    enumerations = {}
    for name, body in re.findall(r"typedef enum (\w+) \{(.*?)\}", header_text(), flags=re.S):
        members = dict(re.findall(r"(\w+)\s*=\s*(\d+)", body))
        prefix = os.path.commonprefix(list(members))
        prefix = prefix[:prefix.rindex("_") + 1]
        enumerations[name] = {member[len(prefix):]: int(value) for member, value in members.items()}
    return enumerations


class NumbersAgreeWithTheHeader(unittest.TestCase):
    def test_each_enumeration_has_exactly_the_header_values(self):
        python = {"support_draft_reason": sd.Reason, "support_draft_outcome": sd.Outcome,
                  "support_draft_channel": sd.Channel, "support_draft_route_way": sd.RouteWay,
                  "support_draft_log_carriage": sd.LogCarriage, "support_draft_assurance": sd.Assurance}
        enumerations = header_enumerations()
        self.assertEqual(set(enumerations), set(python), "an enumeration of the header has no Python counterpart")
        for name, enumeration in python.items():
            with self.subTest(name):
                self.assertEqual({member.name: member.value for member in enumeration}, enumerations[name])

    def test_limits_are_the_header_limits(self):
        limits = {name: int(value) for name, value in
                  re.findall(r"#define SUPPORT_DRAFT_(\w+) (\d+)u?\b", header_text())}
        for name in ("MAX_SUBJECT_SIZE", "MAX_BODY_SIZE", "MAX_LOG_SIZE", "MAX_SUBJECT_PREFIX_SIZE",
                     "MESSAGE_SIZE", "LOG_TAIL", "START_ONE_AT_A_TIME"):
            self.assertEqual(getattr(sd, name), limits[name], name)

    def test_codes_come_from_the_library_and_are_distinct(self):
        codes = [reason.code for reason in sd.Reason if reason is not sd.Reason.NONE]
        self.assertNotIn("", codes)
        self.assertEqual(len(codes), len(set(codes)))
        self.assertEqual(sd.Reason.SUBJECT_TOO_LONG.code, "subjectTooLong")
        self.assertEqual([outcome.code for outcome in sd.Outcome],
                         ["opened", "permissionDenied", "failed", "noResult", "timedOut", "running",
                          "cancelled"])

    def test_a_value_from_a_newer_library_is_kept_not_an_error(self):
        unknown = sd.Reason(200)
        self.assertEqual((unknown, unknown.name, sd.Reason(200)), (200, "UNKNOWN_200", unknown))
        self.assertIsInstance(unknown.code, str)
        with self.assertRaises(ValueError):
            sd.Reason("subjectTooLong")


def await_unlocked(directory):
    """Waits until no program's watcher holds its lock on the directory."""
    descriptor = os.open(directory, os.O_RDONLY | os.O_DIRECTORY)
    try:
        fcntl.flock(descriptor, fcntl.LOCK_EX)
    finally:
        os.close(descriptor)


class Place(unittest.TestCase):
    """A throwaway home, and a composer (MAILER) that records the draft's
    mailto: URI and waits until the test makes the file `gate`: until then
    the program cannot have ended, however slow the machine. A test that
    fails before opening the gate leaves no composer behind: the wait ends
    as well once the test's directory is gone, or after some ten minutes."""

    def setUp(self):
        scratch = tempfile.TemporaryDirectory()
        self.addCleanup(scratch.cleanup)
        self.root = scratch.name
        self.home = os.path.join(self.root, "home")
        os.mkdir(self.home, 0o700)
        self.record = os.path.join(self.root, "record")
        self.gate = os.path.join(self.root, "gate")
        composer = os.path.join(self.root, "composer")
        with open(composer, "w") as script:
            script.write("#!/bin/sh\ni=0; until [ -e '%s' ]; do [ -d '%s' ] && [ $i -lt 60000 ] || exit 1; "
                         "i=$((i + 1)); sleep 0.01; done\nprintf '%%s\\n' \"$1\" >> '%s'\n"
                         % (self.gate, self.root, self.record))
        os.chmod(composer, 0o755)
        mailer = os.environ.get("MAILER")
        os.environ["MAILER"] = composer  # the library hands the host's environment on
        self.addCleanup(lambda: os.environ.pop("MAILER") if mailer is None else os.environ.update(MAILER=mailer))

    def open_gate(self):
        open(self.gate, "w").close()

    def prepare(self, subject="from Python", body="Hello", log=None):
        job = sd.prepare_bundle_job(BUNDLE, PREFIX + subject if isinstance(subject, str) else subject, body, log,
                                    home=self.home)
        self.addCleanup(job.close)
        return job

    def drafts(self):
        with open(self.record) as record:
            return record.read()

    def assertRefused(self, reason, call, *arguments, **keywords):
        with self.assertRaises(sd.Refused) as refusal:
            call(*arguments, **keywords)
        self.assertIs(refusal.exception.reason, reason)
        self.assertTrue(refusal.exception.message)
        return refusal.exception

    def refused(self, code, **texts):
        before = sorted(os.walk(self.root))
        with self.assertRaises(sd.Refused) as refusal:
            self.prepare(**texts)
        self.assertEqual((refusal.exception.reason.code, refusal.exception.code), (code, code))
        self.assertTrue(refusal.exception.message)
        self.assertEqual(sorted(os.walk(self.root)), before, "a refused job left something behind")


class Refusals(Place):
    def test_texts_are_measured_and_sent_as_utf8_bytes(self):
        # 180 characters, 360 bytes: the limit counts bytes.
        self.refused("subjectTooLong", subject="é" * 90)
        self.prepare(subject="x" * (sd.MAX_SUBJECT_SIZE - len(PREFIX)))
        self.refused("subjectTooLong", subject="x" * (sd.MAX_SUBJECT_SIZE - len(PREFIX) + 1))
        self.refused("bodyHoldsNul", body="before\0after")  # the size is passed, not cut at the NUL
        self.refused("subjectNotUtf8", subject="lone \udc80 surrogate")
        self.refused("bodyNotUtf8", body=b"\xff\xfe")
        self.refused("subjectPrefix", subject=b"Support request - x")
        self.refused("logTooLarge", log=b"x" * (sd.MAX_LOG_SIZE + 1))

    def test_bundle_and_arguments(self):
        missing = os.path.join(self.root, "missing.app")
        self.assertIn("missing.app", self.assertRefused(sd.Reason.BUNDLE_MISSING, sd.bundle_channel, missing).message)
        self.assertRefused(sd.Reason.INVALID_ARGUMENT, sd.prune_bundle_jobs, BUNDLE, -1, home=self.home)
        with self.assertRaises(TypeError):
            sd.prune_bundle_jobs(BUNDLE, 1.5, home=self.home)
        self.assertEqual(sd.prune_bundle_jobs(BUNDLE, 10 ** 30, home=self.home), 0)
        self.assertEqual(sd.bundle_subject_prefix(BUNDLE), PREFIX)

    def test_log_over_the_limit_is_refused_or_read_by_its_newest_lines(self):
        big = b"".join(b"line %05d \xff\n" % i for i in range(4000))
        path = os.path.join(self.root, "app.log")
        with open(path, "wb") as log:
            log.write(big)
        self.assertRefused(sd.Reason.LOG_TOO_LARGE, sd.read_log, path)
        newest = sd.read_log(path, tail=True)
        self.assertTrue(big.endswith(newest) and newest.startswith(b"line "))
        self.assertGreater(len(newest), sd.MAX_LOG_SIZE - 13)
        self.assertLessEqual(len(newest), sd.MAX_LOG_SIZE)


class Runs(Place):
    def test_blocking_run_opens_the_draft_with_the_log(self):
        self.open_gate()
        job = self.prepare(log=b"log \xffline\n")
        with open(os.path.join(job.directory, "log.txt"), "rb") as kept:
            self.assertEqual(kept.read(), b"log \xffline\n")
        self.assertEqual(job.run(BUNDLE, time_bound=60), sd.Report(sd.Outcome.OPENED, ""))
        self.assertIn("from%20Python", self.drafts())
        self.assertIn("attach=", self.drafts())
        self.assertEqual(job.collect().outcome, sd.Outcome.OPENED)
        self.assertTrue(job.remove())
        self.assertFalse(os.path.exists(job.directory))

    def test_route_is_asked_before_and_after_a_job(self):
        # MAILER is the place's recording composer: the user's own, handed the log.
        answer = sd.route(BUNDLE, with_log=True, home=self.home)
        self.assertEqual((answer.way, answer.log, answer.assurance),
                         (sd.RouteWay.MAILER, sd.LogCarriage.CARRIED, sd.Assurance.START_ONLY))
        self.assertEqual((answer.way.code, answer.log.code), ("mailer", "carried"))
        self.assertIn('"route":"mailer"', answer.json)
        self.assertEqual(self.prepare(log=b"line\n").route(BUNDLE).way, sd.RouteWay.MAILER)
        self.assertRefused(sd.Reason.BUNDLE_MISSING, sd.route, os.path.join(self.root, "missing.app"))

    def test_handles_of_the_same_job_agree(self):
        job = self.prepare()
        self.assertRegex(job.id, r"^[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}$")
        self.assertEqual(job.home, self.home)
        self.assertEqual(os.path.dirname(job.directory), os.path.join(self.home, ".vantrel-devtool-dev"
                         if sd.bundle_channel(BUNDLE) is sd.Channel.DEV else ".vantrel-devtool", "support-drafts"))
        with sd.job_at(os.fsencode(job.directory)) as same, sd.open_job(job.channel, job.id, home=self.home) as also:
            self.assertEqual((same.id, same.directory, also.directory), (job.id, job.directory, job.directory))
        self.assertTrue(same.closed)
        with self.assertRaises(ValueError):
            same.id

    def test_start_returns_at_once_and_a_selector_sees_the_end(self):
        job = self.prepare()
        with job.start(BUNDLE) as run, selectors.DefaultSelector() as selector:
            selector.register(run, selectors.EVENT_READ)
            self.assertEqual(selector.select(timeout=0), [])
            self.assertEqual(run.poll().outcome, sd.Outcome.RUNNING)
            self.assertEqual(run.wait(0).outcome, sd.Outcome.RUNNING)
            self.assertEqual(job.collect().outcome, sd.Outcome.RUNNING)
            self.open_gate()
            self.assertEqual(len(selector.select()), 1)
            selector.unregister(run)
            self.assertEqual(run.poll().outcome, sd.Outcome.OPENED)
            self.assertEqual(run.poll().outcome, sd.Outcome.OPENED)
        self.assertTrue(run.closed)
        with self.assertRaises(ValueError):
            run.fileno()
        run.close()  # twice is harmless
        self.assertEqual(job.collect().outcome, sd.Outcome.OPENED)

    def test_asyncio_waits_on_the_descriptor(self):
        job = self.prepare()

        async def host():
            with job.start(BUNDLE) as run:
                waiting = asyncio.ensure_future(run.wait_async())
                await asyncio.sleep(0)
                self.assertFalse(waiting.done())
                asyncio.get_running_loop().call_soon(self.open_gate)
                return await waiting

        self.assertEqual(asyncio.run(host()).outcome, sd.Outcome.OPENED)

    def test_time_bounds(self):
        job = self.prepare()
        with self.assertRaises(ValueError):
            job.run(BUNDLE, time_bound=-1)
        with self.assertRaises(ValueError):
            job.run(BUNDLE, time_bound=float("nan"))
        self.assertEqual(job.run(BUNDLE, time_bound=0.001).outcome, sd.Outcome.TIMED_OUT)
        self.assertEqual(job.collect().outcome, sd.Outcome.RUNNING)
        self.open_gate()
        await_unlocked(job.directory)
        self.assertEqual(job.collect().outcome, sd.Outcome.OPENED)

    def test_polling_and_closing_a_run_another_thread_waits_on(self):
        job = self.prepare()
        run = job.start(BUNDLE)
        descriptor = run.fileno()
        reports = []
        waiter = threading.Thread(target=lambda: reports.append(run.wait()))
        waiter.start()
        while run._handle._users == 0:  # until the waiter holds the run
            time.sleep(0.001)
        self.assertEqual(run.poll().outcome, sd.Outcome.RUNNING)  # not behind the wait
        run.close()  # freed only when the wait has returned
        with self.assertRaises(ValueError):
            run.poll()
        os.fstat(descriptor)  # still open: the wait uses it
        self.open_gate()
        waiter.join()
        self.assertEqual([report.outcome for report in reports], [sd.Outcome.OPENED])
        with self.assertRaises(OSError):
            os.fstat(descriptor)  # closed with the run, once nothing used it


    def test_cancel_ends_the_program_under_a_waiting_thread(self):
        job = self.prepare()
        run = job.start(BUNDLE)
        reports = []
        waiter = threading.Thread(target=lambda: reports.append(run.wait()))
        waiter.start()
        self.assertEqual(run.cancel(), sd.Report(sd.Outcome.CANCELLED, ""))
        waiter.join()
        self.assertEqual([report.outcome for report in reports], [sd.Outcome.CANCELLED])
        self.assertEqual((run.poll().outcome, run.cancel().outcome), (sd.Outcome.CANCELLED, sd.Outcome.CANCELLED))
        # The cancel returned once the watcher had gone: the descriptor is
        # readable and the job's lock free.
        with selectors.DefaultSelector() as selector:
            selector.register(run, selectors.EVENT_READ)
            self.assertEqual(len(selector.select(timeout=0)), 1)
        run.close()
        self.assertFalse(os.path.exists(self.record), "the composer handed on a draft")
        self.assertEqual(job.collect().outcome, sd.Outcome.NO_RESULT)

    def test_one_at_a_time_refuses_a_second_job_while_the_first_runs(self):
        first, second = self.prepare(), self.prepare()
        with first.start(BUNDLE, one_at_a_time=True) as run:
            self.assertRefused(sd.Reason.JOB_RUNNING, second.start, BUNDLE, one_at_a_time=True)
            self.assertFalse(os.path.exists(os.path.join(second.directory, "result.json")))
            self.open_gate()
            self.assertEqual(run.wait().outcome, sd.Outcome.OPENED)
        with second.start(BUNDLE, one_at_a_time=True) as run:
            self.assertEqual(run.wait().outcome, sd.Outcome.OPENED)


if __name__ == "__main__":
    BUNDLE, HEADER = sys.argv[1:3]
    unittest.main(argv=sys.argv[:1] + sys.argv[3:], verbosity=2)
