"""The numbers the C API speaks in: channels, reasons for a refusal and
outcomes of a run, as integer enumerations with the C values, and the
program's limits. Their stable texts (``Reason.code``, ``Outcome.code``)
come from the library itself, so a host acts on the same text the
support-draft-host command prints."""
from __future__ import annotations

import enum
from typing import Any, Optional

from ._library import library

MAX_SUBJECT_SIZE = 200
MAX_BODY_SIZE = 8192
MAX_LOG_SIZE = 24576
MAX_SUBJECT_PREFIX_SIZE = 100
MESSAGE_SIZE = 4608
LOG_TAIL = 1
START_ONE_AT_A_TIME = 1


class _LibraryEnum(enum.IntEnum):
    """A C enumeration. A value a newer library returns that this package
    does not know yet becomes a member named UNKNOWN_<value> rather than an
    error, so a host still gets the refusal and its code."""

    @classmethod
    def _missing_(cls, value: Any) -> Optional["_LibraryEnum"]:
        if not isinstance(value, int) or isinstance(value, bool):
            return None
        member = int.__new__(cls, value)
        member._name_ = "UNKNOWN_%d" % value
        member._value_ = value
        return member


class Channel(_LibraryEnum):
    """A bundle's build channel; each has a tool directory of its own."""
    DEV = 0
    PROD = 1


class Reason(_LibraryEnum):
    """Why something was refused. 1 to 63 are the rules of a job, which the
    program checks too; 64 and up are the library's own."""
    NONE = 0
    SUBJECT_PREFIX = 1
    SUBJECT_TOO_LONG = 2
    SUBJECT_HOLDS_NUL = 3
    SUBJECT_NOT_UTF8 = 4
    BODY_TOO_LONG = 5
    BODY_HOLDS_NUL = 6
    BODY_NOT_UTF8 = 7
    JOB_ID_INVALID = 8
    JOB_DOCUMENT_TOO_LARGE = 9
    JOB_DOCUMENT_UNREADABLE = 10
    JOB_DOCUMENT_NOT_REGULAR_FILE = 11
    JOB_DOCUMENT_LINKED = 12
    JOB_DOCUMENT_NOT_OWNED = 13
    JOB_DOCUMENT_NOT_PRIVATE = 14
    JOB_DOCUMENT_INVALID = 15
    LOG_UNREADABLE = 16
    LOG_IS_DIRECTORY = 17
    LOG_NOT_REGULAR_FILE = 18
    LOG_LINKED = 19
    LOG_TOO_LARGE = 20
    LOG_NOT_OWNED = 21
    LOG_NOT_PRIVATE = 22
    HOME_MISSING = 23
    HOME_NOT_ABSOLUTE = 24
    HOME_NOT_FOUND = 25
    HOME_NOT_UTF8 = 26
    HOME_IS_ROOT = 27
    DIRECTORY_LINKED = 28
    DIRECTORY_MISSING = 29
    DIRECTORY_NOT_DIRECTORY = 30
    DIRECTORY_UNREADABLE = 31
    DIRECTORY_NOT_OWNED = 32
    DIRECTORY_WRITABLE_BY_OTHERS = 33
    BUNDLE_MISSING = 34
    BUNDLE_EXECUTABLE_MISSING = 35
    BUNDLE_CHANNEL_UNKNOWN = 36
    BUNDLE_SUBJECT_PREFIX_INVALID = 37
    BUNDLE_TOOL_DIRECTORY_INVALID = 38
    BUNDLE_RECIPIENT_INVALID = 39
    SUBJECT_NOT_ONE_LINE = 40
    DIRECTORY_NOT_MADE = 64
    JOB_NOT_WRITTEN = 65
    NOT_A_JOB_DIRECTORY = 66
    RESULT_NOT_REMOVABLE = 67
    START_FAILED = 68
    BODY_FILE_UNREADABLE = 69
    INVALID_ARGUMENT = 70
    OUT_OF_MEMORY = 71
    BUNDLE_NAME_INVALID = 72
    BUNDLE_IDENTIFIER_INVALID = 73
    BUNDLE_NOT_MADE = 74
    JOB_RUNNING = 75

    @property
    def code(self) -> str:
        """The stable code ("subjectTooLong", ...; "" for NONE)."""
        text: Optional[bytes] = library().support_draft_reason_code(self.value)
        return "" if text is None else text.decode("ascii")


class Outcome(_LibraryEnum):
    """What came of a run."""
    OPENED = 0              # the draft was handed to the mail client
    PERMISSION_DENIED = 1   # the user has not allowed the program to drive the mail client
    FAILED = 2              # the draft could not be made (the program said so)
    NO_RESULT = 3           # the program ended, or never started, without a result
    TIMED_OUT = 4           # still running at the time bound; it is left to finish
    RUNNING = 5             # still running; ask again later
    CANCELLED = 6           # ended by Run.cancel before it wrote a result

    @property
    def code(self) -> str:
        """The stable name ("opened", "permissionDenied", ...)."""
        text: Optional[bytes] = library().support_draft_outcome_name(self.value)
        return "" if text is None else text.decode("ascii")
