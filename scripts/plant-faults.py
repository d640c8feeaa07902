#!/usr/bin/env python3
"""Plants each fault of a fault list in a copy of the committed tree, one at a time, rebuilds it,
runs CTest and names the faults that no test catches.

Each fault is an object: "id", "file" (relative to the repository's root), "find" (a text found
exactly once in that file), "replace" (the faulty text) and "why" (what a user would see go
wrong). A fault is caught (a test fails, and passes again on the untouched tree; the tests
that caught it are named), flaky (each test that failed fails on the untouched tree too, so
nothing shows that the fault was caught), MISSED (every test passes: a test is missing),
unmatched (its text is not found exactly once) or invalid (the tree does not build with it).
The exit status is 0 only when every fault chosen was planted and caught.

The copy is HEAD as committed (commit first: uncommitted work is not in it). It stays in the
working folder with its build, and each run brings it to HEAD by writing only the files that
differ, so the build redoes only what changed since the last run."""

import argparse
import fcntl
import json
import os
import re
import shlex
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from pathlib import Path

CTEST_DEFAULT = "-j2 --stop-on-failure --timeout 180 -LE valgrind"
SUITE_LIMIT_S = 3600  # a whole CTest run; each test has its own --timeout


def arguments():
    parser = argparse.ArgumentParser(
        description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter
    )
    parser.add_argument(
        "faults", nargs="?", help="the fault list (JSON; default: tests/faults.json)"
    )
    parser.add_argument("--only", metavar="ID,ID", help="plant only these faults")
    parser.add_argument(
        "--ctest",
        metavar="ARGS",
        default=CTEST_DEFAULT,
        help=f'what CTest runs, e.g. "-R \'report|fuzz_seeds\'" (default: "{CTEST_DEFAULT}")',
    )
    parser.add_argument(
        "--work",
        metavar="DIR",
        type=Path,
        default=Path(tempfile.gettempdir()) / "plant-faults",
        help="the working folder: the copy, its build and the log (default: %(default)s)",
    )
    parser.add_argument("--jobs", type=int, default=2, help="build jobs (default: %(default)s)")
    return parser, parser.parse_args()


def git(root, *command):
    done = subprocess.run(["git", "-C", root, *command], capture_output=True)
    if done.returncode != 0:
        sys.exit(f"plant-faults: git {' '.join(command)}: {done.stderr.decode().strip()}")
    return done.stdout


def chosen_faults(parser, path, only):
    try:
        faults = json.loads(path.read_text(encoding="utf-8"))
    except (OSError, ValueError) as error:
        parser.error(f"cannot read the fault list: {error}")
    for fault in faults:
        if not isinstance(fault, dict) or not {"id", "file", "find", "replace"} <= fault.keys():
            parser.error(f"{path}: a fault lacks one of id, file, find, replace: {fault}")
        if Path(fault["file"]).is_absolute() or ".." in Path(fault["file"]).parts:
            parser.error(f"{path}: fault {fault['id']} names a file outside the tree")
    ids = [fault["id"] for fault in faults]
    twice = sorted({name for name in ids if ids.count(name) > 1})
    if twice:
        parser.error(f"{path}: ids given twice: {', '.join(twice)}")
    wanted = only.split(",") if only else ids
    unknown = sorted(set(wanted) - set(ids))
    if unknown:
        parser.error(f"--only: not in {path}: {', '.join(unknown)}")
    return [fault for fault in faults if fault["id"] in wanted]


class Copy:
    """HEAD's tree in the working folder, built there; each command's output goes to the log."""

    def __init__(self, root, work, jobs):
        self.root = root
        self.commit = git(root, "rev-parse", "HEAD").decode().strip()
        self.src = work / "src"
        self.build = work / "build"
        self.log = work / "log"
        self.jobs = jobs
        work.mkdir(parents=True, exist_ok=True)
        if any(work.iterdir()) and not (work / ".plant-faults").exists():
            sys.exit(f"plant-faults: {work} holds files of its own: give a new or empty --work")
        self.lock = open(work / ".plant-faults", "w")  # marks the folder as ours, held while we run
        try:
            fcntl.flock(self.lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
        except BlockingIOError:
            sys.exit(f"plant-faults: another run works in {work}: give this one its own --work")
        self.log.write_text("")
        self.sync(work)

    def sync(self, work):
        """Makes the copy HEAD's tree, writing only the files that differ (a fault a killed run
        left in place among them), so that the build rebuilds only what changed."""
        fresh = Path(tempfile.mkdtemp(dir=work))
        try:
            archive = git(self.root, "archive", self.commit)
            subprocess.run(["tar", "-x", "-C", fresh], input=archive, check=True)
            for old in sorted(self.src.rglob("*"), reverse=True):  # children before their folder
                gone = not (fresh / old.relative_to(self.src)).exists()
                if gone and old.is_dir():
                    old.rmdir()
                elif gone:
                    old.unlink()
            for new in fresh.rglob("*"):
                old = self.src / new.relative_to(fresh)
                if new.is_file() and not (old.is_file() and old.read_bytes() == new.read_bytes()):
                    old.parent.mkdir(parents=True, exist_ok=True)
                    shutil.copy(new, old)
        finally:
            shutil.rmtree(fresh)

    def run(self, command):
        """The command's exit status; one that runs past the limit is killed with all it started."""
        with open(self.log, "a") as log:
            log.write(f"\n$ {shlex.join(map(str, command))}\n")
            log.flush()
            child = subprocess.Popen(
                command, stdout=log, stderr=subprocess.STDOUT, start_new_session=True
            )
            try:
                return child.wait(timeout=SUITE_LIMIT_S)
            except subprocess.TimeoutExpired:
                return 124
            finally:  # past the limit, or interrupted: nothing it started may run on
                if child.poll() is None:
                    os.killpg(child.pid, signal.SIGKILL)
                    child.wait()

    def configures(self):
        configure = ["cmake", "-S", self.src, "-B", self.build, "-DCMAKE_BUILD_TYPE=RelWithDebInfo"]
        return self.run(configure + ["-DPELAGRIN_BUILD_BENCH=OFF"]) == 0

    def builds(self):
        return self.run(["cmake", "--build", self.build, f"-j{self.jobs}"]) == 0

    def failing(self, ctest_args):
        """The names of the tests that failed; none when CTest passed."""
        failed = self.build / "Testing/Temporary/LastTestsFailed.log"
        failed.unlink(missing_ok=True)
        ctest = ["ctest", "--test-dir", self.build, "--no-tests=error"]
        if self.run(ctest + shlex.split(ctest_args)) == 0:
            return []
        if not failed.exists():  # CTest itself failed, or ran past the limit
            return ["(ctest)"]
        return [line.split(":", 1)[1] for line in failed.read_text().splitlines()]

    def passes(self, ctest_args):
        return not self.failing(ctest_args)

    def verdict(self, fault, ctest_args):
        """The verdict, and the tests that gave it."""
        path = self.src / fault["file"]
        original = path.read_bytes() if path.is_file() else b""
        find = fault["find"].encode()
        if original.count(find) != 1:
            return "unmatched", []
        path.write_bytes(original.replace(find, fault["replace"].encode()))
        try:
            if not self.builds():
                return "invalid", []
            failed = self.failing(ctest_args)
        finally:
            path.write_bytes(original)
        if not failed:
            return "MISSED", []
        # A test that fails without the fault too proves nothing about it.
        if not self.builds():
            sys.exit(f"plant-faults: the untouched tree no longer builds: see {self.log}")
        rerun = f"--timeout 180 -R '^({'|'.join(map(re.escape, failed))})$'"
        flaky = set(self.failing(rerun)) if "(ctest)" not in failed else set()
        caught_by = [name for name in failed if name not in flaky]
        return ("caught", caught_by) if caught_by else ("flaky", failed)


def main():
    parser, args = arguments()
    root = git(Path.cwd(), "rev-parse", "--show-toplevel").decode().strip()
    faults = chosen_faults(parser, Path(args.faults or Path(root, "tests/faults.json")), args.only)
    copy = Copy(root, args.work, args.jobs)
    if git(root, "status", "--porcelain", "--untracked-files=no"):
        print(f"note: uncommitted changes are not in the copy of {copy.commit[:12]} (HEAD)")
    print(f"working in {args.work} (the build's and CTest's output: {copy.log})", flush=True)
    started = time.monotonic()
    if not copy.configures() or not copy.builds() or not copy.passes(args.ctest):
        sys.exit(
            f"plant-faults: the untouched tree fails to build, or CTest fails or finds no test: see {copy.log}"
        )
    print(f"the untouched suite passes in {time.monotonic() - started:.0f} s", flush=True)
    verdicts = {}
    for fault in faults:
        verdict, tests = copy.verdict(fault, args.ctest)
        verdicts[fault["id"]] = verdict
        detail = {
            "caught": f" by {', '.join(tests)}",
            "flaky": f": {', '.join(tests)} fail without the fault too",
            "MISSED": f" - {fault.get('why', '')}",
        }.get(verdict, "")
        print(f"{fault['id']}: {verdict}{detail}", flush=True)
    caught = list(verdicts.values()).count("caught")
    summary = f"faults caught: {caught} of {len(faults)}"
    for verdict in ("MISSED", "flaky", "unmatched", "invalid"):
        named = [name for name, given in verdicts.items() if given == verdict]
        summary += f"; {verdict}: {', '.join(named)}" if named else ""
    print(summary)
    return 0 if caught == len(faults) else 1


if __name__ == "__main__":
    try:
        sys.exit(main())
    except KeyboardInterrupt:
        sys.exit("plant-faults: interrupted; the copy is as committed again")
