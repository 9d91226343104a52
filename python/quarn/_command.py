"""How the package's commands end: one line for every failure, no traceback.

- A failure is one line on standard error, status 2.
- Ctrl-C (SIGINT), SIGTERM and SIGHUP end with one line and status 128 plus
  the signal's number (130, 143, 129); the work in hand unwinds first, so an
  output being written is left as it was.
- A reader that goes away (``quarn table ... | head``) ends the command
  quietly, with the status of a process ended by SIGPIPE (141).
- A closed standard stream is an error only where it is used. A message goes
  to standard error, or where that is closed to standard output unless that
  carries the command's data, or nowhere: the status says it.
"""

from __future__ import annotations

import os
import signal
import sys
from typing import Callable


class CommandError(Exception):
    """A failure that the command reports in one line."""


class _Terminated(BaseException):
    """SIGTERM or SIGHUP, raised where the main thread is, as Ctrl-C is."""

    def __init__(self, signal_number: int):
        super().__init__(signal_number)
        self.signal_number = signal_number


def _raise_terminated(signal_number: int, frame: object) -> None:
    raise _Terminated(signal_number)


def _occupy_closed_standard_descriptors() -> None:
    """Opens /dev/null on any of descriptors 0-2 that is closed, so that no
    file the command opens takes its place and receives what is meant for a
    standard stream."""
    for fd in (0, 1, 2):
        try:
            os.fstat(fd)
        except OSError:
            opened = os.open(os.devnull, os.O_RDWR)
            if opened != fd:  # a lower one was free after all: leave it as it was
                os.close(opened)


class Command:
    """Runs one command: ``Command("quarn table").run(body)`` returns its status."""

    def __init__(self, name: str):
        self.name = name
        # Set by the body while standard output carries its data (a CSV), so
        # that no message is written into it.
        self.stdout_is_data = False

    def say(self, text: str) -> None:
        """One line to whichever stream may take it."""
        for stream in (sys.stderr, None if self.stdout_is_data else sys.stdout):
            if stream is None:
                continue
            try:
                stream.write(f"{self.name}: {text}\n")
                stream.flush()
                return
            except (OSError, ValueError):
                continue

    def run(self, body: Callable[["Command"], int]) -> int:
        _occupy_closed_standard_descriptors()
        previous = {s: signal.signal(s, _raise_terminated) for s in (signal.SIGTERM, signal.SIGHUP)}
        try:
            return body(self)
        except CommandError as error:
            self.say(str(error))
            return 2
        except BrokenPipeError:
            # The reader of standard output has gone: nothing more to say to it.
            # Standard output is pointed at /dev/null, so that Python's last
            # flush at exit fails no more.
            null = os.open(os.devnull, os.O_WRONLY)
            os.dup2(null, 1)
            os.close(null)
            return 128 + signal.SIGPIPE
        except OSError as error:
            self.say(_os_error_text(error))
            return 2
        except KeyboardInterrupt:
            self.say("interrupted")
            return 128 + signal.SIGINT
        except _Terminated as stop:
            self.say(f"stopped by {signal.Signals(stop.signal_number).name}")
            return 128 + stop.signal_number
        finally:
            for s, handler in previous.items():
                signal.signal(s, handler)


def _os_error_text(error: OSError) -> str:
    if error.filename is not None and error.strerror:
        return f"{error.filename}: {error.strerror}"
    return error.strerror or str(error)


__all__ = ["Command", "CommandError"]
