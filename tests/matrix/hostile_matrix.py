#!/usr/bin/python3
"""The built host on a hostile or unlucky desktop, enumerated rather than picked.

One generator makes the rows: every runtime entry in every form, made before
the start or put in place while the host runs; every process of the host's
(host, guard, driver) under every signal that ends a process, sent to its pid,
to its process group, from the terminal the host runs in, or to host and guard
together. One checker holds every row to the same promises: nothing outside
the home is created, changed, read or removed; the host refuses the start
(status 1, nothing made, no driver) or runs with status.json rewritten at
least every 1.5 s; its driver gets exactly one SIGTERM when the host ends
while it runs, none when it ended by itself, and never a signal meant for the
host; no driver or guard outlives the host by more than 2 s; driver.sock is
gone after every end but SIGKILL; one host per home; nothing printed.

usage: hostile_matrix.py APP_DIR [-j JOBS] [-k TEXT] [--list]
"""
import argparse
import concurrent.futures
import dataclasses
import glob
import hashlib
import os
import pty
import resource
import shutil
import signal
import socket
import stat
import subprocess
import sys
import tempfile
import threading
import time
from typing import Optional

ENTRIES = ["home", "desktop", "desktop.log", "status.json", ".status.json.tmp", "clients",
           "show-permissions", "driver.sock"]
FORMS = ["missing", "file", "folder", "link to an outside file", "link to an outside folder",
         "dangling link", "FIFO", "socket", "another user's", "another user's 0777 folder"]
MOMENTS = ["before the start", "while running"]
FATAL = ["HUP", "INT", "QUIT", "ILL", "TRAP", "ABRT", "BUS", "FPE", "USR1", "SEGV", "USR2",
         "PIPE", "ALRM", "TERM", "XCPU", "XFSZ", "VTALRM", "PROF", "SYS", "KILL", "STOP+CONT"]
PROCESSES = ["host", "guard", "driver"]
TARGETS = ["pid", "group"]
# Sent to the host through its terminal, and to every quorva process of the host at once.
TERMINAL = {"Ctrl-C": "INT", "Ctrl-\\": "QUIT", "hangup": "HUP"}
TOGETHER = {"pkill -9 quorva": "KILL", "pkill quorva": "TERM"}
# Rows no mechanism can meet here: run, shown, and not counted as failures.
LIMITS = {
    "host and guard · pkill -9 quorva":
        "SIGKILL cannot be caught: with host and guard gone at once nobody is left to send the "
        "driver its SIGTERM, and the kernel's parent-death signal comes once per ending thread "
        "of a host that has several, not once",
}

OTHER_UID = 65534
QUIT = {"HUP", "INT", "TERM"}
STATUS_GAP = 1.5  # seconds between status writes, at most
OUTLIVES = 2.0  # seconds a driver or guard may outlive its host
WINDOW = 2.0  # seconds each row watches a running host
FOLDERS = {"home", "desktop", "clients"}  # entries the host needs as folders
STOP = threading.Event()  # interrupted: rows under way end at once


@dataclasses.dataclass
class Row:
    name: str
    entry: Optional[str] = None
    form: Optional[str] = None
    moment: Optional[str] = None
    process: Optional[str] = None
    signal: Optional[str] = None
    target: Optional[str] = None


@dataclasses.dataclass
class Expect:
    refused: bool = False  # status 1 at once, nothing made, no driver
    ends: Optional[int] = None  # the host ends by itself: exit status, or minus the signal
    driver: tuple = ("SIGTERM",)  # what the driver gets, in order
    outside_is_home: bool = False  # the user's link to an outside folder is followed


def rows():
    for entry in ENTRIES:
        for form in FORMS:
            for moment in MOMENTS:
                yield Row(f"{entry} · {form} · {moment}", entry=entry, form=form, moment=moment)
    for process in PROCESSES:
        for sig in FATAL:
            for target in TARGETS:
                yield Row(f"{process} · SIG{sig} · {target}", process=process, signal=sig,
                          target=target)
    for key, sig in TERMINAL.items():
        yield Row(f"host · {key} on its terminal", process="host", signal=sig, target="terminal")
    for key, sig in TOGETHER.items():
        yield Row(f"host and guard · {key}", process="host", signal=sig, target="together")


def usable_forms(entry):
    """What may stand at an entry before the start for the host to run."""
    return {
        "home": {"missing", "folder", "link to an outside folder", "another user's",
                 "another user's 0777 folder"},
        "desktop": {"missing", "folder", "link to an outside folder"},
        "desktop.log": {"missing", "file"},
        "clients": {"missing", "folder"},
    }.get(entry, set(FORMS))


def expectation(row):
    if row.entry:
        if row.moment == "while running":
            # Whatever takes the runtime folder's place, the home the host holds is lost.
            return Expect(ends=0 if row.entry in ("home", "desktop") else None)
        if row.form not in usable_forms(row.entry):
            return Expect(refused=True, driver=())
        return Expect(outside_is_home=row.form == "link to an outside folder" and
                      row.entry in ("home", "desktop"))
    sig = row.signal
    if row.process == "driver":
        if sig == "STOP+CONT":
            return Expect()
        return Expect(ends=0, driver=() if sig == "KILL" else (f"SIG{sig}",))
    if row.process == "guard" or sig in ("PIPE", "STOP+CONT"):
        return Expect()  # runs on: the row ends the host itself
    if sig in QUIT:
        return Expect(ends=0)
    return Expect(ends=-getattr(signal, f"SIG{sig}"))


def not_run(row, app):
    """Why a row cannot run here, or None."""
    if row.form and row.form.startswith("another user's") and os.geteuid() != 0:
        return "needs root to make another user's files"
    if row.process == "guard" and not os.path.exists(f"{app}/bin/quorva-driver-guard"):
        return "no guard process on this system: the kernel stops the driver"
    return None


# --- the row's files -------------------------------------------------------------------


def write(path, text, mode=0o644):
    with open(path, "w") as f:
        f.write(text)
    os.chmod(path, mode)


def age_access_times(top):
    """Access times older than modification times: any read (relatime) shows. Bottom up,
    as listing a folder is reading it."""
    for dirpath, dirs, files in os.walk(top, topdown=False):
        for name in [*dirs, *files, ""]:
            p = os.path.join(dirpath, name) if name else dirpath
            st = os.lstat(p)
            os.utime(p, ns=(st.st_mtime_ns - 3600 * 10**9, st.st_mtime_ns), follow_symlinks=False)


def make_outside(top):
    os.mkdir(top)
    write(f"{top}/file", "outside, not the host's\n")
    os.makedirs(f"{top}/folder/sub")
    write(f"{top}/folder/inner", "inner\n")
    write(f"{top}/folder/sub/x", "x\n")
    age_access_times(top)


def chown_tree(path, uid):
    os.lchown(path, uid, uid)
    if os.path.isdir(path) and not os.path.islink(path):
        for dirpath, dirs, files in os.walk(path):
            for name in dirs + files:
                os.lchown(os.path.join(dirpath, name), uid, uid)


def make_form(path, form, entry, outside):
    folder_entry = entry in FOLDERS
    if form == "missing":
        return
    if form == "file":
        write(path, "not the host's\n")
    elif form == "folder":
        os.mkdir(path, 0o700)
        write(f"{path}/junk", "junk\n")
        os.mkdir(f"{path}/sub")
        write(f"{path}/sub/x", "x\n")
    elif form == "link to an outside file":
        os.symlink(f"{outside}/file", path)
    elif form == "link to an outside folder":
        os.symlink(f"{outside}/folder", path)
    elif form == "dangling link":
        os.symlink(f"{outside}/nothing", path)
    elif form == "FIFO":
        os.mkfifo(path)
    elif form == "socket":
        s = socket.socket(socket.AF_UNIX)
        s.bind(path)
        s.close()
    elif form == "another user's":
        if folder_entry:
            os.mkdir(path)
            os.chmod(path, 0o755)
        else:
            write(path, "another user's\n")
        chown_tree(path, OTHER_UID)
    elif form == "another user's 0777 folder":
        os.mkdir(path)
        os.chmod(path, 0o777)
        write(f"{path}/theirs", "theirs\n")
        os.mkdir(f"{path}/sub")
        chown_tree(path, OTHER_UID)


def remove_entry(path):
    try:
        st = os.lstat(path)
    except FileNotFoundError:
        return
    if stat.S_ISDIR(st.st_mode):
        shutil.rmtree(path, ignore_errors=True)
    else:
        os.unlink(path)


def entries(path):
    """Each entry at `path` and below it with its lstat, taken before the entry is listed
    or read; links are not followed. None for a missing `path`."""
    out = {}

    def walk(p, rel):
        try:
            st = os.lstat(p)
        except FileNotFoundError:
            out[rel] = None
            return
        out[rel] = st
        if stat.S_ISDIR(st.st_mode):
            for name in sorted(os.listdir(p)):
                walk(os.path.join(p, name), f"{rel}/{name}")

    walk(path, "")
    return out


def tree(path):
    """What stands at `path` and below it."""
    return {rel: st and stat.filemode(st.st_mode) for rel, st in entries(path).items()}


def fingerprint(top):
    """Every entry's kind, owner, size, times and content under `top`. Access times are
    made old before and after, so two fingerprints differ only if someone else came by."""
    age_access_times(top)
    out = {}
    for rel, st in entries(top).items():
        out[rel] = st and (stat.filemode(st.st_mode), st.st_uid, st.st_size, st.st_mtime_ns,
                           st.st_atime_ns)
        if st and stat.S_ISREG(st.st_mode):
            with open(top + rel, "rb") as f:
                out[rel] += (hashlib.sha256(f.read()).hexdigest(),)
    age_access_times(top)
    return out


def process_alive(pid):
    try:
        with open(f"/proc/{pid}/stat") as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except (FileNotFoundError, ProcessLookupError, IndexError):
        return False


def children_in(app, parent):
    """The host's own quorva children (its guard), from /proc."""
    out = []
    for p in glob.glob("/proc/[0-9]*"):
        try:
            with open(f"{p}/stat") as f:
                ppid = int(f.read().rsplit(")", 1)[1].split()[1])
            exe = os.readlink(f"{p}/exe")
        except (OSError, IndexError, ValueError):
            continue
        if ppid == parent and exe.startswith(f"{app}/bin/"):
            out.append(int(os.path.basename(p)))
    return out


# --- one row ---------------------------------------------------------------------------


class Run:
    def __init__(self, row, app, scratch):
        self.row, self.app = row, app
        self.expect = expectation(row)
        self.dir = tempfile.mkdtemp(prefix="row-", dir=scratch)
        os.chmod(self.dir, 0o755)
        self.home = f"{self.dir}/home"
        self.runtime = f"{self.home}/desktop"
        self.outside = f"{self.dir}/outside"
        self.failures = []
        self.hosts = []
        self.guards = []
        self.master = None
        make_outside(self.outside)

    def fail(self, text):
        self.failures.append(text)

    def made(self):
        """What stands in the row's folder, less the row's own records."""
        return {rel: kind for rel, kind in tree(self.dir).items()
                if not rel.startswith(("/host", "/driver.", "/runtime"))}

    # -- processes --
    def start_host(self, terminal=False):
        if STOP.is_set():
            raise RuntimeError("interrupted")
        env = {k: v for k, v in os.environ.items()
               if k not in ("DISPLAY", "WAYLAND_DISPLAY", "XDG_SESSION_TYPE", "QT_QPA_PLATFORM")}
        env["QUORVA_MATRIX_ROW"] = self.dir
        # Qt's, for the window: not /tmp/runtime-<user>, which would stay.
        env["XDG_RUNTIME_DIR"] = f"{self.dir}/runtime"
        os.makedirs(env["XDG_RUNTIME_DIR"], mode=0o700, exist_ok=True)
        n = len(self.hosts)
        out = open(f"{self.dir}/host{n}.out", "wb")
        err = open(f"{self.dir}/host{n}.err", "wb")
        argv = [f"{self.app}/bin/quorva-desktop", "--home", self.home]
        if terminal:
            # Its own session, with the terminal as its controlling one: Ctrl-C there
            # reaches the host's process group, as at a shell's prompt.
            self.master, slave = pty.openpty()
            p = subprocess.Popen(["setsid", "--ctty", *argv], stdin=slave, stdout=out,
                                 stderr=err, env=env, cwd=self.dir)
            os.close(slave)
        else:
            p = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                                 env=env, cwd=self.dir, process_group=0)
        out.close()
        err.close()
        self.hosts.append(p)
        return p

    def drivers(self):
        """Each driver's pid with the lines it noted."""
        out = {}
        for path in glob.glob(f"{self.dir}/driver.*"):
            with open(path) as f:
                out[int(path.rsplit(".", 1)[1])] = f.read().split("\n")[:-1]
        return out

    def wait_ready(self, host):
        end = time.monotonic() + 5
        while time.monotonic() < end:
            if host.poll() is not None:
                return False
            started = any("settled" in lines for lines in self.drivers().values())
            if started and self.status_inode():
                return True
            time.sleep(0.01)
        return False

    def status_inode(self):
        try:
            st = os.lstat(f"{self.runtime}/status.json")
            return st.st_ino if stat.S_ISREG(st.st_mode) else None
        except OSError:
            return None

    def watch(self, host, seconds, expect_end):
        """Watches status writes until the host ends or `seconds` pass; checks the gaps."""
        start = last = time.monotonic()
        seen = self.status_inode()
        longest = 0.0
        while time.monotonic() - start < seconds and not STOP.is_set():
            if host.poll() is not None:
                return
            ino = self.status_inode()
            now = time.monotonic()
            if ino and ino != seen:
                seen, longest, last = ino, max(longest, now - last), now
            time.sleep(0.01)
        longest = max(longest, time.monotonic() - last)
        if longest >= STATUS_GAP and not expect_end:
            self.fail(f"status.json not rewritten for {longest:.2f} s")

    def second_host(self, first):
        """A second host on the same home changes nothing and exits 0."""
        second = self.start_host()
        try:
            status = second.wait(3)
        except subprocess.TimeoutExpired:
            second.kill()
            second.wait()
            return self.fail("a second host on the same home kept running")
        if status != 0:
            self.fail(f"a second host on the same home ended with {status}")
        try:
            with open(f"{self.runtime}/status.json") as f:
                if f'"host_pid":{first.pid}' not in f.read():
                    self.fail("status.json names another host than the first")
        except OSError:
            pass

    def end_of(self, host, within):
        try:
            return host.wait(within)
        except subprocess.TimeoutExpired:
            return None

    # -- the two kinds of row --
    def run_entry(self):
        row, expect = self.row, self.expect
        place_at = self.home if row.entry == "home" else (
            self.runtime if row.entry == "desktop" else f"{self.runtime}/{row.entry}")
        held = self.runtime
        if row.moment == "before the start":
            os.makedirs(os.path.dirname(place_at), exist_ok=True)
            if row.entry not in ("home", "desktop"):
                os.chmod(self.home, 0o700)
                os.chmod(self.runtime, 0o700)
            make_form(place_at, row.form, row.entry, self.outside)
            before = self.made()
            outside = fingerprint(self.outside)
            host = self.start_host()
            if expect.refused:
                status = self.end_of(host, 3)
                if status != 1:
                    self.fail(f"start not refused: {'still running' if status is None else status}")
                if self.made() != before:
                    self.fail("a refused start made or removed something")
                return self.finish(host, outside, held)
            if not self.wait_ready(host):
                return self.fail("did not run") or self.finish(host, outside, held)
            self.second_host(host)
        else:
            host = self.start_host()
            if not self.wait_ready(host):
                return self.fail("did not run") or self.finish(host, None, held)
            self.second_host(host)
            outside = fingerprint(self.outside)
            if row.entry in ("home", "desktop"):
                moved = place_at + ".moved"
                os.rename(place_at, moved)
                held = f"{moved}/desktop" if row.entry == "home" else moved
                make_form(place_at, row.form, row.entry, self.outside)
            else:
                self.put_in_place(place_at, row.form, row.entry)
        # What the host may not use it must leave alone: a clients/ it would refuse at the
        # start is no folder of its to prune while it runs either.
        untouchable = row.entry == "clients" and row.form not in usable_forms("clients")
        placed = tree(place_at) if untouchable else None
        self.watch(host, WINDOW, expect.ends is not None)
        self.check_entry_afterwards(place_at)
        if placed is not None and tree(place_at) != placed:
            self.fail("the host changed a clients/ that is not its own")
        self.finish(host, None if expect.outside_is_home else outside, held)

    def put_in_place(self, path, form, entry):
        """Replaces the entry while the host may write it: built aside, then moved in."""
        if form == "missing":
            return remove_entry(path)
        aside = f"{os.path.dirname(path)}/.matrix-form"
        make_form(aside, form, entry, self.outside)
        for _ in range(100):
            try:
                os.rename(aside, path)
                return
            except OSError:
                remove_entry(path)
        self.fail("could not put the form in place")

    def check_entry_afterwards(self, path):
        entry = self.row.entry
        if entry == "show-permissions" and os.path.lexists(path):
            self.fail("show-permissions still there")
        if entry == ".status.json.tmp" and os.path.lexists(path):
            self.fail(".status.json.tmp still there")
        if entry == "status.json" and self.status_inode() is None:
            self.fail("status.json is not the host's file")

    def run_signal(self):
        row, expect = self.row, self.expect
        host = self.start_host(terminal=row.target == "terminal")
        if not self.wait_ready(host):
            return self.fail("did not run") or self.finish(host, None, self.runtime)
        self.second_host(host)
        outside = fingerprint(self.outside)
        self.guards = children_in(self.app, host.pid)
        driver = next(iter(self.drivers()), None)
        target = {"host": host.pid, "driver": driver,
                  "guard": self.guards[0] if self.guards else None}[row.process]
        if target is None:
            self.fail(f"no {row.process} process to signal")
            return self.finish(host, outside, self.runtime)
        if row.signal == "STOP+CONT":
            self.send(target, signal.SIGSTOP)
            time.sleep(1.2)
            self.send(target, signal.SIGCONT)
        else:
            self.send(target, getattr(signal, f"SIG{row.signal}"))
        if row.process == "guard":
            # What the guard is for: the host killed outright afterwards.
            time.sleep(0.5)
            host.kill()
            expect.ends = -signal.SIGKILL
        self.watch(host, WINDOW, expect.ends is not None)
        self.finish(host, outside, self.runtime)

    def send(self, pid, sig):
        target = self.row.target
        if target == "group":
            os.killpg(os.getpgid(pid), sig)
        elif target == "terminal":
            if sig == signal.SIGHUP:
                os.close(self.master)
                self.master = None
            else:
                os.write(self.master, b"\x03" if sig == signal.SIGINT else b"\x1c")
        elif target == "together":
            # The guard first: the host's end must not reach it before its own does.
            for p in [*self.guards, pid]:
                os.kill(p, sig)
        else:
            os.kill(pid, sig)

    # -- the checker: the same promises for every row --
    def finish(self, host, outside, held):
        expect = self.expect
        status = self.end_of(host, 2.5 if expect.ends is not None else 0)
        if expect.ends is not None and not expect.refused and status is None:
            self.fail("the host did not end")
        if status is None:
            host.send_signal(signal.SIGTERM)
            status = self.end_of(host, 2)
            if status is None:
                self.fail("the host did not end on SIGTERM")
                host.kill()
                status = host.wait()
            elif status != 0:
                self.fail(f"the host ended with {status} on SIGTERM")
        elif expect.ends is not None and status != expect.ends:
            self.fail(f"the host ended with {status}, not {expect.ends}")
        ended = time.monotonic()
        self.check_leftovers(ended)
        self.check_driver(expect.driver)
        if status != -signal.SIGKILL and not expect.refused and \
                os.path.lexists(f"{held}/driver.sock"):
            self.fail("driver.sock left behind")
        for n in range(len(self.hosts)):
            for stream in ("out", "err"):
                if os.path.getsize(f"{self.dir}/host{n}.{stream}"):
                    self.fail(f"host {n} printed on std{stream}")
        if outside is not None and fingerprint(self.outside) != outside:
            self.fail("something outside the home was touched")
        if os.path.lexists(f"{self.outside}/nothing"):
            self.fail("made the target of a dangling link")

    def check_leftovers(self, ended):
        pids = list(self.drivers()) + self.guards
        while any(process_alive(p) for p in pids) and time.monotonic() - ended < OUTLIVES:
            time.sleep(0.02)
        for p in pids:
            if process_alive(p):
                self.fail(f"process {p} outlived its host by more than {OUTLIVES} s")

    def check_driver(self, expected):
        drivers = self.drivers()
        if self.expect.refused:
            if drivers:
                self.fail("a driver was launched for a refused start")
            return
        if len(drivers) != 1:
            return self.fail(f"{len(drivers)} drivers launched")
        lines = next(iter(drivers.values()))
        if any(line.startswith("bad command line") for line in lines):
            self.fail(lines[0])
        got = tuple(line for line in lines if line.startswith("SIG"))
        if got != tuple(expected):
            self.fail(f"the driver got {list(got) or 'no signal'}, not {list(expected) or 'none'}")

    def cleanup(self):
        for p in self.hosts:
            if p.poll() is None:
                p.kill()
                p.wait()
        for pid in list(self.drivers()) + self.guards:
            if process_alive(pid):
                try:
                    os.kill(pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
        if self.master is not None:
            os.close(self.master)
        shutil.rmtree(self.dir, ignore_errors=True)


def run_row(row, app, scratch):
    run = Run(row, app, scratch)
    try:
        if row.entry:
            run.run_entry()
        else:
            run.run_signal()
    except Exception as e:  # a fault of the harness is the row's failure, with its cause
        run.fail(f"{type(e).__name__}: {e}")
    finally:
        run.cleanup()
    return run.failures


def reads_are_seen(scratch):
    probe = f"{scratch}/atime-probe"
    write(probe, "x")
    age_access_times(probe)
    before = os.lstat(probe).st_atime_ns
    with open(probe) as f:
        f.read()
    return os.lstat(probe).st_atime_ns != before


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("app", help="the built app folder (QuorvaDesktop)")
    parser.add_argument("-j", "--jobs", type=int, default=8, help="rows at once")
    parser.add_argument("-k", dest="only", default="", help="only rows whose name holds this")
    parser.add_argument("--list", action="store_true", help="name the rows and stop")
    args = parser.parse_args()
    everything = [r for r in rows() if args.only in r.name]
    if args.list:
        print("\n".join(r.name for r in everything))
        return 0
    resource.setrlimit(resource.RLIMIT_CORE, (0, 0))
    for sig in (signal.SIGTERM, signal.SIGHUP):
        signal.signal(sig, signal.default_int_handler)
    app = tempfile.mkdtemp(prefix="quorva-matrix-")
    os.chmod(app, 0o755)
    scratch = f"{app}/rows"
    os.mkdir(scratch)
    try:
        shutil.copytree(args.app, f"{app}/QuorvaDesktop", symlinks=True)
        app_dir = f"{app}/QuorvaDesktop"
        shutil.copy(os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                 "counting_driver.py"), f"{app_dir}/Resources/vov-driver")
        os.chmod(f"{app_dir}/Resources/vov-driver", 0o755)
        if not reads_are_seen(scratch):
            print("matrix: this file system does not show reads (noatime): not checked")
        skipped = {r.name: not_run(r, app_dir) for r in everything}
        runnable = [r for r in everything if not skipped[r.name]]
        started = time.monotonic()
        failed, limits = {}, []
        pool = concurrent.futures.ThreadPoolExecutor(args.jobs)
        try:
            results = list(pool.map(lambda r: (r, run_row(r, app_dir, scratch)), runnable))
        except KeyboardInterrupt:
            # Ctrl-C, SIGTERM or SIGHUP: no row more, and those under way cut short;
            # what still runs from here goes below.
            STOP.set()
            pool.shutdown(wait=True, cancel_futures=True)
            print("matrix: interrupted", flush=True)
            return 130
        pool.shutdown()
        for row, failures in results:
            if row.name in LIMITS:
                limits.append(row.name)
                verdict = "; ".join(failures) or "met all the same"
                print(f"LIMIT {row.name}: {verdict}. Why: {LIMITS[row.name]}", flush=True)
            elif failures:
                failed[row.name] = failures
                print(f"FAIL {row.name}: " + "; ".join(failures), flush=True)
        reasons = {}
        for name, why in skipped.items():
            if why:
                reasons.setdefault(why, []).append(name)
        for why, names in reasons.items():
            print(f"not run here ({why}): {len(names)} rows")
        print(f"matrix: {len(everything)} rows, {len(runnable)} ran, "
              f"{len(runnable) - len(failed) - len(limits)} passed, {len(failed)} failed, "
              f"{len(limits)} at the system's limit, {len(everything) - len(runnable)} not run, "
              f"in {time.monotonic() - started:.0f} s")
        return 1 if failed else 0
    finally:
        # Hosts, guards and drivers of rows cut short all run from here.
        subprocess.run(["pkill", "-KILL", "-f", app], check=False)
        shutil.rmtree(app, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
