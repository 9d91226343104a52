"""The ``quarn`` command: the console program itself, tables and figures."""

from __future__ import annotations

import os
import pathlib
import sys
from typing import Sequence

USAGE = """usage: quarn                run the console program on qnrun.dat in this directory
       quarn table ...      CSV tables over a grid or a list of states, with --flash their
                            phases (quarn table --help)
       quarn plot ...       figures of phi and of where the fluid unmixes (quarn plot --help;
                            needs matplotlib)
"""


def program() -> str:
    """The console program shipped inside the package."""
    return str(pathlib.Path(__file__).resolve().parent / "bin" / "quarn")


def main(argv: Sequence[str] | None = None) -> int:
    argv = sys.argv[1:] if argv is None else list(argv)
    if not argv:
        # The program itself, so that every byte, message and exit status is its own.
        sys.stdout.flush()
        os.execv(program(), [program()])
    if argv[0] == "table":
        from .table import main as table

        return table(argv[1:])
    if argv[0] == "plot":
        from .plot import main as plot

        return plot(argv[1:])
    if argv[0] in ("-h", "--help"):
        sys.stdout.write(USAGE)
        return 0
    sys.stderr.write(USAGE + f"quarn: unknown use {argv[0]!r}\n")
    return 2


if __name__ == "__main__":
    sys.exit(main())
