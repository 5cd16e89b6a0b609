#!/usr/bin/python3
# The driver the hostile-desktop matrix puts in the app folder. It checks the
# command line the host gives it, serves the socket path as the stand-in does
# (a stale socket there is replaced; anything else is left alone and not
# served), says so on its output, and notes in $QUORVA_MATRIX_ROW/driver.<pid> every signal it gets.
# SIGTERM ends it after 300 ms, so that a second one would still be noted;
# any other signal ends it as that signal would, once noted.
import os
import signal
import socket
import stat
import sys
import time

record = os.open(f"{os.environ['QUORVA_MATRIX_ROW']}/driver.{os.getpid()}",
                 os.O_WRONLY | os.O_CREAT | os.O_APPEND, 0o644)


def note(line):
    os.write(record, (line + "\n").encode())


stopping_since = None


def on_signal(sig, _frame):
    global stopping_since
    note(signal.Signals(sig).name)
    if sig == signal.SIGTERM:
        stopping_since = stopping_since or time.monotonic()
        return
    signal.signal(sig, signal.SIG_DFL)
    os.kill(os.getpid(), sig)


for sig in signal.valid_signals() - {signal.SIGKILL, signal.SIGSTOP, signal.SIGCHLD,
                                     signal.SIGCONT, signal.SIGWINCH, signal.SIGURG,
                                     signal.SIGTSTP, signal.SIGTTIN, signal.SIGTTOU}:
    try:
        signal.signal(sig, on_signal)
    except (OSError, ValueError):
        pass  # the ones the runtime keeps for itself

expected = ["serve", "--embedded", "--socket", None, "--permission-mode", "standard"]
args = sys.argv[1:]
if len(args) != 6 or any(e is not None and a != e for a, e in zip(args, expected)):
    note("bad command line: " + " ".join(args))
note("start")

path = args[3] if len(args) > 3 else ""
try:
    if stat.S_ISSOCK(os.lstat(path).st_mode):
        os.unlink(path)
except OSError:
    pass
listener = socket.socket(socket.AF_UNIX)
try:
    listener.bind(path)
    listener.listen()
except OSError:
    pass
# As the stand-in says it serves: a log opened through a link would carry this outside.
print(f"counting driver {os.getpid()}: serving", flush=True)
# Whatever it made of the socket path is there now: a host ended before this
# point could not have removed a socket made after it.
note("settled")

while stopping_since is None or time.monotonic() - stopping_since < 0.3:
    time.sleep(0.02)
note("exit")
