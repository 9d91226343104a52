"""An output file that is replaced whole or not at all.

The new content goes to a temporary file beside the output, which is flushed
to the disk and renamed over the output only when complete. Until then the
previous file stays as it was; a failure, or an exception such as
KeyboardInterrupt, removes the temporary file. A process killed outright may
leave the temporary file behind, never a partial output.

Standard output (``-``) and outputs that are no regular file (a terminal, a
pipe, /dev/null) are written straight through: there is no file to keep.
"""

from __future__ import annotations

import os
import signal
import stat
import sys
import tempfile
from typing import BinaryIO


_ENDING_SIGNALS = {signal.SIGINT, signal.SIGTERM, signal.SIGHUP}


class OutputFile:
    """``with OutputFile(path) as out: out.file.write(...); out.commit()``."""

    def __init__(self, path: str):
        self.path = path
        self.file: BinaryIO
        self._temporary: str | None = None
        self._target = path
        self._owns_file = True
        self._committed = False

    def __enter__(self) -> "OutputFile":
        try:
            self._open()
        except BaseException:  # Ctrl-C among them: no temporary file stays behind
            self._discard()
            raise
        return self

    def _open(self) -> None:
        if self.path == "-":
            if sys.stdout is None:
                raise OSError("standard output is closed")
            sys.stdout.flush()
            self.file = sys.stdout.buffer
            self._owns_file = False
            return
        try:
            existing = os.stat(self.path)
        except FileNotFoundError:
            existing = None
        if existing is not None and not stat.S_ISREG(existing.st_mode):
            self.file = open(self.path, "wb")
            return
        # Through a symbolic link, the file it points to is replaced, not the link.
        self._target = os.path.realpath(self.path)
        directory, name = os.path.split(self._target)
        # The signals that end a command wait until the temporary file is known,
        # so that it cannot be made and then forgotten.
        held = signal.pthread_sigmask(signal.SIG_BLOCK, _ENDING_SIGNALS)
        try:
            fd, self._temporary = tempfile.mkstemp(prefix=f".{name}.", suffix=".part",
                                                   dir=directory)
        except OSError as error:
            # Said of the output the user named, not of the temporary file beside it.
            raise OSError(error.errno, error.strerror or str(error), self.path) from None
        finally:
            signal.pthread_sigmask(signal.SIG_SETMASK, held)
        self.file = os.fdopen(fd, "wb")
        os.fchmod(fd, stat.S_IMODE(existing.st_mode) if existing else 0o666 & ~_umask())

    def _discard(self) -> None:
        try:
            if self._owns_file and hasattr(self, "file"):
                self.file.close()
        finally:
            if self._temporary is not None and not self._committed:
                os.unlink(self._temporary)
                self._temporary = None

    def commit(self) -> None:
        """Puts the complete content in place of the output."""
        self.file.flush()
        if self._temporary is None:
            return
        os.fsync(self.file.fileno())
        self.file.close()
        os.replace(self._temporary, self._target)
        self._committed = True
        try:  # the rename itself on the disk
            directory = os.open(os.path.dirname(self._target), os.O_RDONLY)
            try:
                os.fsync(directory)
            finally:
                os.close(directory)
        except OSError:
            pass  # a file system that cannot sync a directory still has the new file

    def __exit__(self, *exc_info: object) -> None:
        if exc_info[0] is None:
            self._discard()
            return
        try:
            self._discard()
        except OSError:
            pass  # the failure in hand is the one to report


def _umask() -> int:
    mask = os.umask(0)
    os.umask(mask)
    return mask


__all__ = ["OutputFile"]
