"""The command-line contract that compare_tone.py and plot_tone.py share:
exit status 0 as asked, 1 a difference (compare_tone), 2 could not (bad
arguments, unreadable or unusable input, a picture it cannot write); a
failure is one line on standard error, PROG: what: why, and nothing else
reaches standard error, whatever library runs underneath.
"""
import argparse
import contextlib
import os
import sys
import warnings

COULD_NOT = 2


def program_name(default):
    """The name a tool runs by: its installed link's (audiosim-compare-tone), else default."""
    run_as = os.path.basename(sys.argv[0])
    return run_as if run_as.startswith("audiosim-") else default


class ToneError(Exception):
    """A failure worth one line on standard error, behind the tool's name."""


class Parser(argparse.ArgumentParser):
    """argparse, but a bad argument is one line and exit status 2, and the
    help's epilog stands as written."""

    def __init__(self, **kwargs):
        super().__init__(formatter_class=argparse.RawDescriptionHelpFormatter, **kwargs)

    def error(self, message):
        raise ToneError(f"{message} (see --help)")


@contextlib.contextmanager
def quiet_stderr():
    """Standard error goes to the null device while the body runs (the C
    libraries underneath, Python's warnings, matplotlib's notes); yields a
    stream on the real standard error for the tool's one line."""
    try:
        saved = os.dup(2)
    except OSError:  # no standard error to keep clean
        yield sys.stderr
        return
    sys.stderr.flush()
    null = os.open(os.devnull, os.O_WRONLY)
    os.dup2(null, 2)
    os.close(null)
    answer = os.fdopen(os.dup(saved), "w")
    try:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            yield answer
    finally:
        sys.stderr.flush()
        os.dup2(saved, 2)
        os.close(saved)
        answer.close()


def run(prog, main, argv=None):
    """main(argv)'s exit status; a ToneError, a lack of memory or any other
    exception is one line on standard error and exit status 2."""
    with quiet_stderr() as answer:
        try:
            status = main(argv)
            sys.stdout.flush()
            return status
        except BrokenPipeError:  # the reader left, as `| head` does: no answer to give, and no line
            os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
            return COULD_NOT
        except ToneError as error:
            line = str(error)
        except MemoryError:
            line = "out of memory"
        except KeyboardInterrupt:
            return 130
        except Exception as error:  # a bug in the tool: still one line, never a traceback
            line = f"internal error, please report it: {type(error).__name__}: {error}".splitlines()[0]
        print(f"{prog}: {line}", file=answer, flush=True)
        return COULD_NOT
