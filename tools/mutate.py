#!/usr/bin/env python3
"""Mutation runner: do the tests catch realistic faults?

Each mutant in tools/mutants.py is one small fault a developer could really
make (a boundary, a flag left off, a check dropped, a wrong exit code). The
runner copies the working tree to a scratch folder, builds it once, then for
each mutant alone: applies it, builds incrementally, runs the tests that can
reach the mutated code (the mutant's own selection, else its area's; the
minute-long "Slow" tests only for mutants marked slow), and restores the
file. The test that killed a mutant in an earlier run (kept in the scratch
folder) runs first, alone: a second run takes a fraction of the first one's
time. A mutant is killed when a test fails or hangs (outlives its timeout);
one that does not build is reported as such and counted nowhere. It prints
each mutant with its outcome and the kill rate by area, and lists the
survivors.

    tools/mutate.py [--scratch DIR] [--only ID,...] [--area AREA] [--list]
                    [--list-file main|independent|all]

The independent list (tools/mutants_independent.py, --list-file independent)
holds faults written by someone who had not read the tests or the main list.

Slow: a full run takes about an hour on two cores. Not part of CI.
"""

import argparse
import collections
import json
import os
import re
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, HERE)
sys.dont_write_bytecode = True  # no __pycache__ in the tree
import mutants as catalogue  # noqa: E402
import mutants_independent as independent  # noqa: E402

# Each list's areas name the tests its mutants are run against.
AREA_TESTS = {**catalogue.AREA_TESTS, **independent.AREA_TESTS}
LISTS = {
    "main": catalogue.MUTANTS,
    "independent": independent.MUTANTS,
    "all": catalogue.MUTANTS + independent.MUTANTS,
}

# Tests whose names hold "Slow" take a minute (the idle rule); they run only
# for mutants that need them. A fast test takes at most a few seconds: one
# still running after a minute hangs.
SLOW = "Slow"
FAST_TIMEOUT, SLOW_TIMEOUT = 60, 150


def run(cmd, cwd, log, timeout=None):
    with open(log, "ab") as out:
        out.write(("\n$ " + " ".join(cmd) + "\n").encode())
        out.flush()
        try:
            return subprocess.run(cmd, cwd=cwd, stdout=out, stderr=subprocess.STDOUT,
                                  timeout=timeout).returncode
        except subprocess.TimeoutExpired:
            return -1


def copy_tree(scratch):
    """The working tree as it is (committed or not), plus the fetched font; files
    gone from the tree go from the copy too (tests are found by folder)."""
    src = os.path.join(scratch, "src")
    files = subprocess.run(["git", "ls-files", "-co", "--exclude-standard", "-z"], cwd=ROOT,
                           check=True, capture_output=True).stdout.split(b"\0")
    names = set(filter(None, (f.decode() for f in files)))
    for folder, _, found in os.walk(src):
        for name in found:
            path = os.path.join(folder, name)
            relative = os.path.relpath(path, src)
            if relative not in names and not relative.startswith(".cache" + os.sep):
                os.remove(path)
    for name in names:
        source = os.path.join(ROOT, name)
        if not os.path.isfile(source):
            continue
        target = os.path.join(src, name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        with open(source, "rb") as a:
            data = a.read()
        if os.path.exists(target):
            with open(target, "rb") as b:
                if b.read() == data:
                    continue  # unchanged: keeps its time stamp, so no rebuild
        # A fresh time stamp: the copy may be older than what the scratch build
        # last made from the file before (a mutant), and must still be rebuilt.
        shutil.copy(source, target)
    fonts = os.path.join(ROOT, ".cache", "fonts")
    if os.path.isdir(fonts):
        shutil.copytree(fonts, os.path.join(src, ".cache", "fonts"), dirs_exist_ok=True)
    return src


def build(src, build_dir, log):
    return run(["cmake", "--build", build_dir, "-j", str(os.cpu_count() or 2)], src, log) == 0


def tests_pass(build_dir, selection, slow, log):
    cmd = ["ctest", "-j", str(os.cpu_count() or 2), "--stop-on-failure", "-R", selection,
           "--timeout", str(SLOW_TIMEOUT if slow else FAST_TIMEOUT)]
    if not slow:
        cmd += ["-E", SLOW]
    return run(cmd, build_dir, log) == 0


def failed_tests(build_dir):
    """The tests the last ctest run saw fail (ctest's own record of them)."""
    path = os.path.join(build_dir, "Testing", "Temporary", "LastTestsFailed.log")
    if not os.path.exists(path):
        return []
    with open(path, encoding="utf-8") as f:
        return [line.strip().split(":", 1)[1] for line in f if ":" in line]


def killed(build_dir, mutant, killers, log):
    """Whether a test fails with the mutant in: first the one that killed it
    before, if any, then every test of its selection."""
    if killers.get(mutant.id) and re.search(selection(mutant), killers[mutant.id]) \
            and (mutant.slow or SLOW not in killers[mutant.id]):
        if not tests_pass(build_dir, "^" + re.escape(killers[mutant.id]) + "$", mutant.slow, log):
            return True
    if tests_pass(build_dir, selection(mutant), mutant.slow, log):
        return False
    killers[mutant.id] = (failed_tests(build_dir) or [""])[0]
    return True


def selection(mutant):
    return mutant.tests or AREA_TESTS[mutant.area]


def check(mutants):
    """Every mutant applies to the tree as it is: its text occurs exactly once."""
    wrong = []
    for m in mutants:
        with open(os.path.join(ROOT, m.file), encoding="utf-8") as f:
            count = f.read().count(m.before)
        if count != 1:
            wrong.append(f"{m.id}: the text to change occurs {count} times in {m.file}")
    return wrong


def apply(src, mutant):
    path = os.path.join(src, mutant.file)
    with open(path, encoding="utf-8") as f:
        text = f.read()
    count = text.count(mutant.before)
    if count != 1:
        raise ValueError(f"{mutant.id}: the text to change occurs {count} times in {mutant.file}")
    with open(path, "w", encoding="utf-8") as f:
        f.write(text.replace(mutant.before, mutant.after))
    return path, text


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--scratch", default="/tmp/quorva-mutate")
    parser.add_argument("--only", help="comma-separated mutant ids")
    parser.add_argument("--area", help="only the mutants of this area")
    parser.add_argument("--list", action="store_true", help="list the mutants and stop")
    parser.add_argument("--list-file", choices=sorted(LISTS), default="main",
                        help="which list: the main one, the independent one, or both")
    args = parser.parse_args()

    ids = [m.id for m in LISTS["all"]]
    if duplicates := sorted({i for i in ids if ids.count(i) > 1}):
        print("mutate: ids used twice: " + ", ".join(duplicates), file=sys.stderr)
        return 1
    chosen = [m for m in LISTS[args.list_file]
              if (not args.only or m.id in args.only.split(","))
              and (not args.area or m.area == args.area)]
    if args.list:
        for m in chosen:
            flag = " (equivalent)" if m.equivalent else (" (slow)" if m.slow else "")
            print(f"{m.id:30} {m.area:12} {m.what}{flag}")
        return 0
    if wrong := check(chosen):
        print("mutate: " + "\nmutate: ".join(wrong), file=sys.stderr)
        return 1

    os.makedirs(args.scratch, exist_ok=True)
    log = os.path.join(args.scratch, "mutate.log")
    open(log, "w").close()
    src = copy_tree(args.scratch)
    build_dir = os.path.join(args.scratch, "build")
    print(f"mutate: building a scratch copy in {args.scratch} (log: {log})", flush=True)
    # ccache, when there, makes each mutant's rebuild and the next run's first build cheap.
    launcher = ["-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"] if shutil.which("ccache") else []
    if run(["cmake", "-S", src, "-B", build_dir, "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
            "-DQUORVA_BUILD_BENCH=OFF", *launcher], src, log) != 0 \
            or not build(src, build_dir, log):
        print("mutate: the unchanged tree does not build", file=sys.stderr)
        return 1
    selections = sorted({selection(m) for m in chosen if not m.equivalent})
    for chosen_tests in selections:
        listed = subprocess.run(["ctest", "-N", "-R", chosen_tests], cwd=build_dir,
                                capture_output=True, text=True).stdout
        if "Total Tests: 0" in listed:
            print(f"mutate: no test matches {chosen_tests}", file=sys.stderr)
            return 1
    everything = "|".join(selections) or "^$"
    # The unchanged tree gets a second chance (it stops at its first failure), so
    # one unlucky moment on a busy machine does not cost the whole run.
    slow = any(m.slow for m in chosen)
    if not tests_pass(build_dir, everything, slow, log) and \
            not tests_pass(build_dir, everything, slow, log):
        print("mutate: the unchanged tree fails its tests; nothing to measure", file=sys.stderr)
        return 1

    outcomes = collections.OrderedDict()
    started = time.monotonic()
    remembered = os.path.join(args.scratch, "killers.json")
    killers = json.load(open(remembered)) if os.path.exists(remembered) else {}
    for m in chosen:
        began = time.monotonic()
        if m.equivalent:
            outcomes[m.id] = "equivalent"
        else:
            path, original = apply(src, m)
            try:
                if not build(src, build_dir, log):
                    outcomes[m.id] = "no build"
                else:
                    outcomes[m.id] = "killed" if killed(build_dir, m, killers, log) else "survived"
                    with open(remembered, "w") as f:
                        json.dump(killers, f, indent=0, sort_keys=True)
            finally:
                with open(path, "w", encoding="utf-8") as f:
                    f.write(original)
        print(f"{outcomes[m.id]:10} {m.id:30} {time.monotonic() - began:4.0f} s  {m.what}",
              flush=True)
    build(src, build_dir, log)  # leave the scratch build as the tree is

    areas = collections.OrderedDict()
    for m in chosen:
        areas.setdefault(m.area, collections.Counter())[outcomes[m.id]] += 1
    print("\narea          killed / counted   (equivalent, no build)")
    total = collections.Counter()
    for area, c in areas.items():
        total.update(c)
        counted = c["killed"] + c["survived"]
        rate = f"{100.0 * c['killed'] / counted:5.1f} %" if counted else "    -  "
        print(f"{area:12} {c['killed']:4} / {counted:<4} {rate}   ({c['equivalent']}, {c['no build']})")
    counted = total["killed"] + total["survived"]
    if counted:
        print(f"{'all':12} {total['killed']:4} / {counted:<4} "
              f"{100.0 * total['killed'] / counted:5.1f} %   in {time.monotonic() - started:.0f} s")
    for m in chosen:
        if m.equivalent:
            print(f"equivalent {m.id}: {m.equivalent}")
    for m in chosen:
        if outcomes[m.id] in ("survived", "no build"):
            print(f"{outcomes[m.id]} {m.id} ({m.file}): {m.what}")
    return 0 if total["survived"] == 0 and total["no build"] == 0 else 2


if __name__ == "__main__":
    sys.exit(main())
