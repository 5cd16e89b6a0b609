#!/usr/bin/env python3
"""The tick interval and the quit latency of a host while clients/ is hostile.

./bench/hostile_clients.py [APP_DIR] [SECONDS]

For each case, a host (of APP_DIR, default this build's) runs for SECONDS
(default 10) while something fills its clients/ folder; the gaps between its
status writes are measured (status.json is replaced by a new file at each
write), then it gets SIGTERM and the time until it has ended is measured.
Cases: a process making folders in clients/junk as fast as it can, one making
files in clients/ as fast as it can (each over a fixed set of 20,000 names,
made again once removed, so that what is left can be cleaned up), and 40,000
junk folders made beforehand. Prints figures; asserts nothing.
"""
import multiprocessing
import os
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

app = os.path.realpath(sys.argv[1] if len(sys.argv) > 1 else "build/QuorvaDesktop")
seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 10.0


NAMES = 20000


def make_folders(clients):
    i = 0
    while True:
        try:
            os.mkdir(f"{clients}/junk/d{i % NAMES}")
        except FileNotFoundError:
            os.makedirs(f"{clients}/junk", exist_ok=True)
        except OSError:
            pass
        i += 1


def make_files(clients):
    i = 0
    while True:
        try:
            os.close(os.open(f"{clients}/f{i % NAMES}", os.O_WRONLY | os.O_CREAT, 0o600))
        except OSError:
            pass
        i += 1


def inode(path):
    try:
        return os.stat(path).st_ino
    except OSError:
        return None


def measure(name, writer, junk_folders=0):
    home = tempfile.mkdtemp(prefix="quorva-hostile-")
    clients = f"{home}/desktop/clients"
    os.makedirs(f"{clients}/junk")
    for i in range(junk_folders):
        os.mkdir(f"{clients}/d{i}")
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    process = multiprocessing.Process(target=writer, args=(clients,), daemon=True) if writer else None
    if process:
        process.start()
    host = subprocess.Popen([f"{app}/bin/quorva-desktop", "--home", home], env=env,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    status = f"{home}/desktop/status.json"
    start = time.monotonic()
    while inode(status) is None and time.monotonic() - start < 10:
        time.sleep(0.005)
    gaps, last, seen = [], time.monotonic(), inode(status)
    end = last + seconds
    while time.monotonic() < end:
        time.sleep(0.005)
        now = inode(status)
        if now != seen:
            gaps.append(time.monotonic() - last)
            last, seen = time.monotonic(), now
    gaps.append(time.monotonic() - last)  # the last, unfinished one counts too
    quit_at = time.monotonic()
    host.send_signal(signal.SIGTERM)
    try:
        host.wait(timeout=60)
        latency = f"{(time.monotonic() - quit_at) * 1000:.0f} ms"
    except subprocess.TimeoutExpired:
        host.kill()
        latency = "over 60 s (the writer still running)"
    if process:
        process.kill()
        process.join()
    print(f"  {name:32} writes {len(gaps) - 1:3}, gap median {statistics.median(gaps):.3f} s, "
          f"longest {max(gaps):.3f} s; SIGTERM -> ended {latency}")
    subprocess.run(["rm", "-rf", home])


print(f"host {app}, {seconds:.0f} s each:")
measure("folders in clients/junk, fast", make_folders)
measure("files in clients/, fast", make_files)
measure("40,000 junk folders", None, 40000)
