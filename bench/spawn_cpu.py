#!/usr/bin/env python3
"""Runs each command RUNS times, the commands taking turns, and prints one
line per command: its median CPU time (user + system, from wait4) and median
wall time, in microseconds. Each run's standard output goes to /dev/null.

Usage: spawn_cpu.py RUNS COMMAND...   (each COMMAND one shell-quoted string)

posix_spawn starts the children without copying this interpreter's memory,
so a child's CPU time is its own start-up and work, not the launcher's size.
"""
import os
import shlex
import statistics
import sys
import time


def run_once(argv):
    start = time.monotonic()
    pid = os.posix_spawnp(
        argv[0],
        argv,
        os.environ,
        file_actions=[(os.POSIX_SPAWN_OPEN, 1, os.devnull, os.O_WRONLY, 0)],
    )
    _, status, usage = os.wait4(pid, 0)
    wall_us = (time.monotonic() - start) * 1e6
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(
            f"spawn_cpu: {shlex.join(argv)} failed with status {os.waitstatus_to_exitcode(status)}"
        )
    return (usage.ru_utime + usage.ru_stime) * 1e6, wall_us


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    runs = int(sys.argv[1])
    commands = [shlex.split(command) for command in sys.argv[2:]]
    samples = [[] for _ in commands]
    for _ in range(runs):
        for command, taken in zip(commands, samples):
            taken.append(run_once(command))
    for command, taken in zip(commands, samples):
        cpu = statistics.median(cpu for cpu, _ in taken)
        wall = statistics.median(wall for _, wall in taken)
        print(f"{shlex.join(command)}\t{cpu:.0f}\t{wall:.0f}")


if __name__ == "__main__":
    main()
