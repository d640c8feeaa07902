#!/usr/bin/env python3
"""Plants each fault of a fault list in a copy of the committed tree, one at a time, rebuilds it,
runs CTest and names the faults that no test catches.

Each fault is an object: "id", "file" (relative to the repository's root), "find" (a text found
exactly once in that file), "replace" (the faulty text) and "why" (what a user would see go
wrong). A fault is caught (a test fails), MISSED (every test passes: a test is missing),
unmatched (its text is not found exactly once) or invalid (the tree does not build with it).
The exit status is 0 only when every fault chosen was planted and caught.

The copy is HEAD as committed, kept in the working folder with its build between runs, so a
second run only rebuilds what changed. Commit first: uncommitted work is not in the copy."""

import argparse
import json
import os
import shlex
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
    """HEAD extracted under the working folder, built there; each command's output in the log."""

    def __init__(self, root, work, jobs):
        self.root = root
        self.commit = git(root, "rev-parse", "HEAD").decode().strip()
        self.src = work / self.commit[:12] / "src"
        self.build = work / self.commit[:12] / "build"
        self.log = work / self.commit[:12] / "log"
        self.planted = work / self.commit[:12] / "planted"  # names the file while a fault is in it
        self.jobs = jobs
        if not self.src.is_dir():
            # Extracted beside it, then renamed: an interrupted extraction leaves no half copy.
            self.src.parent.mkdir(parents=True, exist_ok=True)
            partial = Path(tempfile.mkdtemp(dir=self.src.parent))
            archive = git(root, "archive", self.commit)
            subprocess.run(["tar", "-x", "-C", partial], input=archive, check=True)
            partial.rename(self.src)
        if self.planted.exists():  # a run that was killed left its fault in place
            self.restore(self.planted.read_text())

    def committed(self, file):
        return git(self.root, "show", f"{self.commit}:{file}")

    def restore(self, file):
        (self.src / file).write_bytes(self.committed(file))
        self.planted.unlink()

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

    def passes(self, ctest_args):
        ctest = ["ctest", "--test-dir", self.build, "--no-tests=error"]
        return self.run(ctest + shlex.split(ctest_args)) == 0

    def verdict(self, fault, ctest_args):
        original = self.committed(fault["file"]) if (self.src / fault["file"]).is_file() else b""
        find = fault["find"].encode()
        if original.count(find) != 1:
            return "unmatched"
        self.planted.write_text(fault["file"])
        (self.src / fault["file"]).write_bytes(original.replace(find, fault["replace"].encode()))
        try:
            if not self.builds():
                return "invalid"
            return "MISSED" if self.passes(ctest_args) else "caught"
        finally:
            self.restore(fault["file"])


def main():
    parser, args = arguments()
    root = git(Path.cwd(), "rev-parse", "--show-toplevel").decode().strip()
    faults = chosen_faults(parser, Path(args.faults or Path(root, "tests/faults.json")), args.only)
    copy = Copy(root, args.work, args.jobs)
    if git(root, "status", "--porcelain", "--untracked-files=no"):
        print(f"note: uncommitted changes are not in the copy of {copy.commit[:12]}")
    print(f"working in {copy.log.parent} (the build's and CTest's output: {copy.log})", flush=True)
    started = time.monotonic()
    if not copy.configures() or not copy.builds() or not copy.passes(args.ctest):
        sys.exit(f"plant-faults: the untouched tree fails to build or to pass: see {copy.log}")
    print(f"the untouched suite passes in {time.monotonic() - started:.0f} s", flush=True)
    verdicts = {}
    for fault in faults:
        verdicts[fault["id"]] = copy.verdict(fault, args.ctest)
        why = f" - {fault.get('why', '')}" if verdicts[fault["id"]] == "MISSED" else ""
        print(f"{fault['id']}: {verdicts[fault['id']]}{why}", flush=True)
    caught = list(verdicts.values()).count("caught")
    summary = f"faults caught: {caught} of {len(faults)}"
    for verdict in ("MISSED", "unmatched", "invalid"):
        named = [name for name, given in verdicts.items() if given == verdict]
        summary += f"; {verdict}: {', '.join(named)}" if named else ""
    print(summary)
    return 0 if caught == len(faults) else 1


if __name__ == "__main__":
    try:
        sys.exit(main())
    except KeyboardInterrupt:
        sys.exit("plant-faults: interrupted; the copy is as committed again")
