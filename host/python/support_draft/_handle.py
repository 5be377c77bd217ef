"""An opaque handle of the library owned by a Python object: freed once,
and never while a call on it is still in the library. A handle closed by
one thread while another waits on it is freed when that wait returns,
instead of being used after it was freed."""
from __future__ import annotations

import contextlib
import threading
from typing import Callable, Iterator, Optional


class Handle:
    def __init__(self, pointer: int, free: Callable[[int], None], what: str) -> None:
        self._pointer: Optional[int] = pointer
        self._free = free
        self._what = what
        self._state = threading.Lock()  # guards _pointer, _closed and _users
        self._closed = False
        self._users = 0
        # For the calls that change the handle, which the library takes one
        # at a time; held only for calls that return at once.
        self.changes = threading.Lock()

    @property
    def closed(self) -> bool:
        return self._closed

    @contextlib.contextmanager
    def use(self) -> Iterator[int]:
        """The pointer, kept alive until the block ends; ValueError once closed."""
        with self._state:
            if self._closed or self._pointer is None:
                raise ValueError("the %s is closed" % self._what)
            self._users += 1
            pointer = self._pointer
        try:
            yield pointer
        finally:
            with self._state:
                self._users -= 1
                pointer_to_free = self._take_if_unused()
            self._release(pointer_to_free)

    def close(self) -> None:
        with self._state:
            self._closed = True
            pointer_to_free = self._take_if_unused()
        self._release(pointer_to_free)

    def _take_if_unused(self) -> Optional[int]:
        if not self._closed or self._users > 0 or self._pointer is None:
            return None
        pointer, self._pointer = self._pointer, None
        return pointer

    def _release(self, pointer: Optional[int]) -> None:
        if pointer is not None:
            self._free(pointer)
