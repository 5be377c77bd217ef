"""The host library, loaded once on first use, with every C function the
package calls declared: its argument types and its result type, so that
ctypes converts and checks each call instead of guessing."""
from __future__ import annotations

import ctypes
import threading
from typing import Any, Dict, List, Optional, Tuple

# The soname: the installed shared library, found by the dynamic loader.
LIBRARY_NAME = "libsupport-draft-host.so.0"

_char_p = ctypes.c_char_p
_size = ctypes.c_size_t
_long = ctypes.c_long
_int = ctypes.c_int
_pointer = ctypes.c_void_p  # the library's opaque handles
_pointer_out = ctypes.POINTER(ctypes.c_void_p)
_size_out = ctypes.POINTER(ctypes.c_size_t)
_int_out = ctypes.POINTER(ctypes.c_int)

# name: (result type, argument types). Enumerations are C ints.
_PROTOTYPES: Dict[str, Tuple[Any, List[Any]]] = {
    "support_draft_prepare_job": (
        _int, [_int, _char_p, _char_p, _size, _char_p, _size, _char_p, _size, _pointer_out, _char_p, _size]),
    "support_draft_prepare_bundle_job": (
        _int, [_char_p, _char_p, _char_p, _size, _char_p, _size, _char_p, _size, _pointer_out, _char_p, _size]),
    "support_draft_bundle_subject_prefix": (_int, [_char_p, _char_p, _size, _char_p, _size]),
    "support_draft_read_log": (_int, [_char_p, ctypes.c_uint, _char_p, _size, _size_out, _char_p, _size]),
    "support_draft_bundle_channel": (_int, [_char_p, _int_out, _char_p, _size]),
    "support_draft_job_open": (_int, [_int, _char_p, _char_p, _pointer_out, _char_p, _size]),
    "support_draft_job_at": (_int, [_char_p, _pointer_out, _char_p, _size]),
    "support_draft_job_id": (_char_p, [_pointer]),
    "support_draft_job_directory": (_char_p, [_pointer]),
    "support_draft_job_home": (_char_p, [_pointer]),
    "support_draft_job_channel": (_int, [_pointer]),
    "support_draft_job_free": (None, [_pointer]),
    "support_draft_start_job": (_int, [_char_p, _pointer, _pointer_out, _char_p, _size]),
    "support_draft_start_job_options": (_int, [_char_p, _pointer, ctypes.c_uint, _pointer_out, _char_p, _size]),
    "support_draft_cancel_job": (_int, [_pointer, _char_p, _size]),
    "support_draft_run_descriptor": (_int, [_pointer]),
    "support_draft_poll_job": (_int, [_pointer, _char_p, _size]),
    "support_draft_wait_job": (_int, [_pointer, _long, _char_p, _size]),
    "support_draft_run_free": (None, [_pointer]),
    "support_draft_run_job": (_int, [_char_p, _pointer, _long, _char_p, _size]),
    "support_draft_collect_result": (_int, [_pointer, _char_p, _size]),
    "support_draft_remove_job": (_int, [_pointer]),
    "support_draft_prune_jobs": (_int, [_int, _char_p, _long, _size_out, _char_p, _size]),
    "support_draft_prune_bundle_jobs": (_int, [_char_p, _char_p, _long, _size_out, _char_p, _size]),
    "support_draft_outcome_name": (_char_p, [_int]),
    "support_draft_reason_code": (_char_p, [_int]),
}

_loaded: Optional[ctypes.CDLL] = None
_loading = threading.Lock()


def library() -> ctypes.CDLL:
    """The loaded library; OSError when it is not installed."""
    global _loaded
    with _loading:
        if _loaded is None:
            loaded = ctypes.CDLL(LIBRARY_NAME)
            for name, (result, arguments) in _PROTOTYPES.items():
                function = getattr(loaded, name)
                function.restype = result
                function.argtypes = arguments
            _loaded = loaded
        return _loaded
