"""Jobs and runs: preparing a job with the program's own rules, starting
the program for it without blocking, and reading what came of it."""
from __future__ import annotations

import asyncio
import ctypes
import math
import operator
import os
import select
from dataclasses import dataclass
from typing import Optional, Self, Union

from ._codes import (LOG_TAIL, MAX_LOG_SIZE, MAX_SUBJECT_PREFIX_SIZE, MESSAGE_SIZE, START_ONE_AT_A_TIME, Assurance,
                     Channel, LogCarriage, Outcome, Reason, RouteWay)
from ._handle import Handle
from ._library import library

Path = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]
Text = Union[str, bytes]

# The library's longest time in milliseconds; a longer one is no bound.
_LONG_MAX: int = 2 ** (8 * ctypes.sizeof(ctypes.c_long) - 1) - 1


class Refused(Exception):
    """The library refused: a job that breaks a rule (nothing was written),
    a bundle the program would refuse, an argument out of range."""

    def __init__(self, reason: Reason, message: str) -> None:
        super().__init__(message)
        self.reason = reason
        self.message = message

    @property
    def code(self) -> str:
        """The reason's stable code, to act on ("subjectTooLong", ...)."""
        return self.reason.code


@dataclass(frozen=True)
class Report:
    """What came of a run. ``explanation`` is, for NO_RESULT, what the
    host's own checks found; "" otherwise."""
    outcome: Outcome
    explanation: str = ""


@dataclass(frozen=True)
class RouteAnswer:
    """Which route a job would take in this session: its ``way``, whether a
    log reaches the client (``log``), what an OPENED proves
    (``assurance``), the known ``client`` it starts by its program's name
    ("" when none is known), the default ``handler``'s desktop id, the
    ``portal_backend`` ("gtk", "kde", "unknown"), ``why`` there is no route,
    and the whole as ``support-draft-host --route`` prints it (``json``)."""
    way: RouteWay
    log: LogCarriage
    assurance: Assurance
    client: str
    handler: str
    portal_backend: str
    why: str
    json: str


def _path(path: Optional[Path]) -> Optional[bytes]:
    return None if path is None else os.fsencode(path)


def _text(text: Text) -> bytes:
    # A lone surrogate is kept as bytes that are not UTF-8, so the library
    # refuses it with its rule's reason (subjectNotUtf8, ...).
    return text.encode("utf-8", "surrogatepass") if isinstance(text, str) else bytes(text)


def _message_buffer() -> ctypes.Array[ctypes.c_char]:
    return ctypes.create_string_buffer(MESSAGE_SIZE)


def _sentence(buffer: ctypes.Array[ctypes.c_char]) -> str:
    return buffer.value.decode("utf-8", "replace")


def _check(reason: int, message: ctypes.Array[ctypes.c_char]) -> None:
    if reason != Reason.NONE:
        raise Refused(Reason(reason), _sentence(message))


def _milliseconds(seconds: Optional[float]) -> int:
    """Seconds as the library's milliseconds, rounded up so that a wait
    never ends early; None is no bound (-1)."""
    if seconds is None:
        return -1
    if math.isnan(seconds) or seconds < 0:
        raise ValueError("a time in seconds must be None or at least 0, not %r" % seconds)
    if math.isinf(seconds):
        return -1
    return min(math.ceil(seconds * 1000), _LONG_MAX)


def _report(outcome: int, explanation: ctypes.Array[ctypes.c_char]) -> Report:
    return Report(Outcome(outcome), _sentence(explanation))


class _Owner:
    """What a Job and a Run share: a library handle closed once, by close(),
    the end of a with block, or the object's collection."""

    _handle: Handle

    def close(self) -> None:
        self._handle.close()

    @property
    def closed(self) -> bool:
        return self._handle.closed

    def __enter__(self) -> Self:
        return self

    def __exit__(self, *exception: object) -> None:
        self.close()

    def __del__(self) -> None:
        handle = getattr(self, "_handle", None)
        if handle is not None:
            handle.close()


class Job(_Owner):
    """A job on disk: its id, its directory and the home directory the
    program must be given. Made by prepare_job, prepare_bundle_job,
    open_job or job_at; close it (or use it as a context manager) to free
    the handle. Closing leaves the job directory on disk: the mail client
    may read the log after the program has ended (see remove)."""

    def __init__(self, pointer: int) -> None:
        self._handle = Handle(pointer, library().support_draft_job_free, "job")

    def _string(self, name: str) -> bytes:
        with self._handle.use() as pointer:
            return bytes(getattr(library(), name)(pointer))

    @property
    def id(self) -> str:
        return self._string("support_draft_job_id").decode("ascii")

    @property
    def directory(self) -> str:
        return os.fsdecode(self._string("support_draft_job_directory"))

    @property
    def home(self) -> str:
        """The home directory the program is given (HOME) for the job."""
        return os.fsdecode(self._string("support_draft_job_home"))

    @property
    def channel(self) -> Channel:
        with self._handle.use() as pointer:
            return Channel(library().support_draft_job_channel(pointer))

    def start(self, bundle: Path, *, one_at_a_time: bool = False) -> "Run":
        """Starts the bundle's program for the job and returns at once
        (any earlier result.json is removed first). Refused when it cannot
        be started. With ``one_at_a_time``, refused (Reason.JOB_RUNNING)
        while a program runs for another job of the bundle, whichever host
        process started it: the answer to repeated clicks."""
        run = ctypes.c_void_p()
        message = _message_buffer()
        options = START_ONE_AT_A_TIME if one_at_a_time else 0
        with self._handle.use() as pointer:
            reason = library().support_draft_start_job_options(_path(bundle), pointer, options, ctypes.byref(run),
                                                               message, MESSAGE_SIZE)
        _check(reason, message)
        assert run.value is not None
        return Run(run.value, self)

    def run(self, bundle: Path, time_bound: Optional[float] = None) -> Report:
        """Starts the program and waits for it, at most ``time_bound``
        seconds (None: until it has ended); TIMED_OUT when it still runs
        then. A job that could not be started is NO_RESULT with the reason
        in the explanation."""
        explanation = _message_buffer()
        milliseconds = _milliseconds(time_bound)
        with self._handle.use() as pointer:
            outcome = library().support_draft_run_job(_path(bundle), pointer, milliseconds, explanation,
                                                      MESSAGE_SIZE)
        return _report(outcome, explanation)

    def collect(self) -> Report:
        """The outcome the job's directory holds now: RUNNING while a
        program runs for the job (whichever host process started it),
        otherwise the result it left, else NO_RESULT."""
        explanation = _message_buffer()
        with self._handle.use() as pointer:
            outcome = library().support_draft_collect_result(pointer, explanation, MESSAGE_SIZE)
        return _report(outcome, explanation)

    def route(self, bundle: Path) -> RouteAnswer:
        """The route the job would take now, as its document asks it (with
        its log when it has one). After a FAILED outcome,
        LogCarriage.NOT_CARRIED says the route could not carry the log and
        the job without it would have one. Refused when the job document or
        the log now fails its check."""
        answer = ctypes.c_void_p()
        message = _message_buffer()
        with self._handle.use() as pointer:
            reason = library().support_draft_job_route(_path(bundle), pointer, ctypes.byref(answer), message,
                                                       MESSAGE_SIZE)
        return _route_answer(reason, answer, message)

    def remove(self) -> bool:
        """Removes the job's directory and its files, never following a
        link; True when the directory is gone. Only when the host wants it:
        a mail client may still read the log."""
        with self._handle.use() as pointer:
            return bool(library().support_draft_remove_job(pointer) != 0)

    def __repr__(self) -> str:
        if self.closed:
            return "<support_draft.Job closed>"
        return "<support_draft.Job %s in %r>" % (self.id, self.directory)


class Run(_Owner):
    """One run of the program for a job, made by Job.start. For an event
    loop, ``fileno()`` becomes readable once the program has ended and stays
    readable until the run is closed; ``poll()`` then gives the outcome.
    Take the descriptor out of the event loop before closing the run: the
    number may then be given to the next descriptor the process opens.
    Closing a run whose program still runs leaves the program to finish;
    Job.collect reads its result later."""

    def __init__(self, pointer: int, job: Job) -> None:
        self._handle = Handle(pointer, library().support_draft_run_free, "run")
        # Fixed for the run's life: asked without waiting for a call on the
        # run that another thread may be blocked in.
        self._descriptor: int = library().support_draft_run_descriptor(pointer)
        self.job = job

    def fileno(self) -> int:
        if self._handle.closed:
            raise ValueError("the run is closed")
        return self._descriptor

    def poll(self) -> Report:
        """The outcome now: RUNNING while the program runs. Once known, the
        same outcome is given again."""
        return self.wait(0)

    def wait(self, timeout: Optional[float] = None) -> Report:
        """Waits at most ``timeout`` seconds (None: until the program has
        ended; 0: not at all); RUNNING when the program still runs then.
        Other threads may poll the run meanwhile."""
        milliseconds = _milliseconds(timeout)
        with self._handle.use() as pointer:
            if milliseconds != 0:
                # The wait itself is on the descriptor, which the library
                # leaves alone, so that no call on the run waits behind it.
                ended = select.poll()
                ended.register(self._descriptor, select.POLLIN)
                ended.poll(None if milliseconds < 0 else milliseconds)
            explanation = _message_buffer()
            with self._handle.changes:
                outcome = library().support_draft_wait_job(pointer, 0, explanation, MESSAGE_SIZE)
        return _report(outcome, explanation)

    def cancel(self) -> Report:
        """Ends the program and whatever it started (a mail client that has
        the draft stays, with it) and returns once it has ended: CANCELLED,
        unless the program wrote its result first (that result) or the
        outcome was known already (the same again). Afterwards poll and
        wait give the same outcome and the descriptor is readable. RUNNING,
        with why, when the program could not be asked to end."""
        explanation = _message_buffer()
        with self._handle.use() as pointer, self._handle.changes:
            outcome = library().support_draft_cancel_job(pointer, explanation, MESSAGE_SIZE)
        return _report(outcome, explanation)

    async def wait_async(self) -> Report:
        """Waits in the running asyncio loop for the program to end."""
        report = self.poll()
        if report.outcome != Outcome.RUNNING:
            return report
        loop = asyncio.get_running_loop()
        ended: asyncio.Future[None] = loop.create_future()
        descriptor = self.fileno()

        def readable() -> None:
            if not ended.done():
                ended.set_result(None)

        loop.add_reader(descriptor, readable)
        try:
            await ended
        finally:
            loop.remove_reader(descriptor)
        return self.poll()


def _job_from(reason: int, job: ctypes.c_void_p, message: ctypes.Array[ctypes.c_char]) -> Job:
    _check(reason, message)
    assert job.value is not None
    return Job(job.value)


def prepare_job(channel: Channel, subject: Text, body: Text, log: Optional[bytes] = None, *,
                home: Optional[Path] = None) -> Job:
    """Checks a job for the channel's tool directory and default subject
    prefix with the program's own rules and writes it: job.json and, when
    ``log`` is given, log.txt (attached to the draft). ``home`` None is the
    user's home. Refused, with nothing written, when it breaks a rule."""
    return _prepare(Channel(channel), None, subject, body, log, home)


def prepare_bundle_job(bundle: Path, subject: Text, body: Text, log: Optional[bytes] = None, *,
                       home: Optional[Path] = None) -> Job:
    """prepare_job for the bundle's own identity: the job goes to its tool
    directory and the subject must begin with its subject prefix
    (bundle_subject_prefix)."""
    return _prepare(None, bundle, subject, body, log, home)


def _prepare(channel: Optional[Channel], bundle: Optional[Path], subject: Text, body: Text,
             log: Optional[bytes], home: Optional[Path]) -> Job:
    subject_bytes, body_bytes = _text(subject), _text(body)
    log_bytes = None if log is None else bytes(log)
    job = ctypes.c_void_p()
    message = _message_buffer()
    texts = (subject_bytes, len(subject_bytes), body_bytes, len(body_bytes), log_bytes,
             0 if log_bytes is None else len(log_bytes))
    if bundle is None:
        assert channel is not None
        reason = library().support_draft_prepare_job(channel.value, _path(home), *texts, ctypes.byref(job),
                                                     message, MESSAGE_SIZE)
    else:
        reason = library().support_draft_prepare_bundle_job(_path(bundle), _path(home), *texts,
                                                            ctypes.byref(job), message, MESSAGE_SIZE)
    return _job_from(reason, job, message)


def open_job(channel: Channel, job_id: str, *, home: Optional[Path] = None) -> Job:
    """A handle for an existing job of the channel, by its id; nothing on
    disk is touched."""
    job = ctypes.c_void_p()
    message = _message_buffer()
    reason = library().support_draft_job_open(Channel(channel).value, _path(home), job_id.encode("utf-8"),
                                              ctypes.byref(job), message, MESSAGE_SIZE)
    return _job_from(reason, job, message)


def job_at(directory: Path) -> Job:
    """A handle for an existing job by its directory
    (<home>/<tool directory>/support-drafts/<job id>)."""
    job = ctypes.c_void_p()
    message = _message_buffer()
    reason = library().support_draft_job_at(_path(directory), ctypes.byref(job), message, MESSAGE_SIZE)
    return _job_from(reason, job, message)


def _route_answer(reason: int, answer: ctypes.c_void_p, message: ctypes.Array[ctypes.c_char]) -> RouteAnswer:
    _check(reason, message)
    loaded = library()
    try:
        def text(name: str) -> str:
            value: Optional[bytes] = getattr(loaded, name)(answer)
            return "" if value is None else value.decode("utf-8", "replace")

        return RouteAnswer(RouteWay(loaded.support_draft_route_answer_way(answer)),
                           LogCarriage(loaded.support_draft_route_answer_log(answer)),
                           Assurance(loaded.support_draft_route_answer_assurance(answer)),
                           text("support_draft_route_answer_client"), text("support_draft_route_answer_handler"),
                           text("support_draft_route_answer_portal_backend"), text("support_draft_route_answer_why"),
                           text("support_draft_route_answer_json"))
    finally:
        loaded.support_draft_route_answer_free(answer)


def route(bundle: Path, *, with_log: bool = False, home: Optional[Path] = None) -> RouteAnswer:
    """Which route a job of the bundle (with a log when ``with_log``) would
    take in this session, decided by the program's own code; nothing is
    started. Refused for a bundle the program would refuse."""
    answer = ctypes.c_void_p()
    message = _message_buffer()
    reason = library().support_draft_route(_path(bundle), _path(home), 1 if with_log else 0, ctypes.byref(answer),
                                           message, MESSAGE_SIZE)
    return _route_answer(reason, answer, message)


def bundle_subject_prefix(bundle: Path) -> str:
    """The prefix every subject of the bundle's jobs must begin with."""
    prefix = ctypes.create_string_buffer(MAX_SUBJECT_PREFIX_SIZE + 1)
    message = _message_buffer()
    _check(library().support_draft_bundle_subject_prefix(_path(bundle), prefix, len(prefix), message,
                                                         MESSAGE_SIZE), message)
    return prefix.value.decode("utf-8")


def bundle_channel(bundle: Path) -> Channel:
    """The channel the bundle's Info.plist names, read as the program reads it."""
    channel = ctypes.c_int(-1)
    message = _message_buffer()
    _check(library().support_draft_bundle_channel(_path(bundle), ctypes.byref(channel), message, MESSAGE_SIZE),
           message)
    return Channel(channel.value)


def read_log(path: Path, *, tail: bool = False) -> bytes:
    """A log file of the host, for a job's log: refused when it is larger
    than MAX_LOG_SIZE, or with ``tail`` its newest lines within that (a
    newest line longer than that is cut, never dropped)."""
    buffer = ctypes.create_string_buffer(MAX_LOG_SIZE)
    size = ctypes.c_size_t(0)
    message = _message_buffer()
    _check(library().support_draft_read_log(_path(path), LOG_TAIL if tail else 0, buffer, MAX_LOG_SIZE,
                                            ctypes.byref(size), message, MESSAGE_SIZE), message)
    return buffer.raw[:size.value]


def prune_jobs(channel: Channel, age_seconds: int, *, home: Optional[Path] = None) -> int:
    """Removes the finished job directories of the channel's tool directory
    whose newest file is older than ``age_seconds``; the number removed."""
    removed = ctypes.c_size_t(0)
    message = _message_buffer()
    _check(library().support_draft_prune_jobs(Channel(channel).value, _path(home), _age(age_seconds),
                                              ctypes.byref(removed), message, MESSAGE_SIZE), message)
    return removed.value


def prune_bundle_jobs(bundle: Path, age_seconds: int, *, home: Optional[Path] = None) -> int:
    """prune_jobs in the tool directory of the bundle."""
    removed = ctypes.c_size_t(0)
    message = _message_buffer()
    _check(library().support_draft_prune_bundle_jobs(_path(bundle), _path(home), _age(age_seconds),
                                                     ctypes.byref(removed), message, MESSAGE_SIZE), message)
    return removed.value


def _age(age_seconds: int) -> int:
    # A negative age is the library's to refuse; one past its range is
    # older than any file can be.
    return max(-_LONG_MAX - 1, min(operator.index(age_seconds), _LONG_MAX))
