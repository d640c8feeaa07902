#!/usr/bin/env python3
"""Builds the measurements in $BUILD (default: build) and prints the table of docs/PERFORMANCE.md:
each figure's median over RUNS runs beside a reference measured side by side. Whatever binds
127.0.0.1:27830, stops helpers (the installer's pkill) or mounts the fake tree runs in private
mount, PID and network namespaces (bench/isolated), where it meets no other helper.

example: BUILD=build-bench bench/run_all.py 5
"""
import argparse
import json
import os
import re
import shlex
import statistics
import subprocess
import sys
import tempfile
from collections import defaultdict

BUILD = os.environ.get("BUILD", "build")
BIN = f"{BUILD}/bench"
INSTALLER = f"{BUILD}/installer/HelperInstaller.app/Contents/MacOS/HelperInstaller"
INTERLEAVED = "--benchmark_enable_random_interleaving=true"
READINGS_BENCH = f"{BIN}/sensor_readings_bench --benchmark_repetitions=15 {INTERLEAVED}"
LATENCY_BENCH = f"{BIN}/line_latency_bench {INTERLEAVED}"
SAMPLES = 200  # in-process samples of the four readings beside lm-sensors
TABLE = """\
| Figure | Median | Reference, same run | Ratio to reference | Target | Command |
| --- | --- | --- | --- | --- | --- |
| Helper resident memory after 100 cycles (4 clients, zero readings) | {rss100:.0f} KiB | target: 4,096 KiB | {rss_ratio:.2f} | < 4 MiB | `bench/isolated {BIN}/helper_footprint 4` |
| Its growth from cycle 100 to cycle 1,000 | {growth:.0f} KiB | RSS at cycle 100 | {growth_ratio:.3f} | flat | same run |
| Helper main-thread CPU per cycle, zero readings | {cycle:.1f} µs | bare 10 ms sleep: {sleep:.1f} µs | {cycle_ratio:.2f} | < 50 µs | same run |
| Four readings, one cycle, 64 sensors on 4 chips: CPU | {readings:.1f} µs | open/read/close floor: {floor:.1f} µs | {readings_ratio:.2f} | ≤ 1.5× floor | `{READINGS_BENCH}` |
| The same: wall time | {readings_wall:.1f} µs | floor: {floor_wall:.1f} µs | {readings_wall_ratio:.2f} | ≤ 1.5× floor | same run |
| Helper main-thread CPU per cycle over the same tree (5 ms pause, 1,000 cycles) | {tree_cycle:.1f} µs | open/read/close floor, above: {floor:.1f} µs | {tree_cycle_ratio:.2f} | — | `bench/isolated {BIN}/helper_cycle_cpu 1000` |
| One line from the end of the pause to 4 clients (readings, format, sends, receives): wall | {line:.1f} µs | bare send + recv of the same bytes: {bare:.1f} µs | {line_ratio:.2f} | — | `{LATENCY_BENCH}` |
| Installer, first install into an empty HOME: total run time | {first:.3f} s | `sleep 1.5`: {pause:.3f} s | {first_ratio:.3f} | — | `printf '1\\n\\n' \\| HOME=$(mktemp -d) {INSTALLER}`, under `bench/isolated` |
| Installer, reinstall over the running helper: total run time | {again:.3f} s | `sleep 1.5`: {pause:.3f} s | {again_ratio:.3f} | — | same run |
| Four readings over the tree at /sys/class, in the running helper: CPU per sample | {in_process:.1f} µs | `sensors -j`, one sample: {sensors:.0f} µs | {in_process_ratio:.2f} | — | `bench/isolated --tree {BIN}/sensor-tree {BIN}/readings_cpu {SAMPLES}`, `sensors -j` the same way |
| The same as one process each (start-up included): CPU | {process:.0f} µs | `sensors -j`: {sensors:.0f} µs (`/bin/true`: {start:.0f} µs) | {process_ratio:.2f} | — | `{BIN}/readings_cpu 1`, `sensors -j` |"""


def progress(text):
    print(f"run_all: {text}", file=sys.stderr, flush=True)


def output(command):
    return subprocess.run(command, check=True, stdout=subprocess.PIPE, text=True).stdout


def isolated(command, tree=None):
    """Runs command as root in its own mount, PID and network namespaces, loopback up."""
    return output(["bench/isolated", *(["--tree", tree] if tree else []), *command])


def hyperfine(options, commands, tree=None):
    """hyperfine's result for each command, all timed in one private namespace."""
    with tempfile.NamedTemporaryFile(suffix=".json") as export:
        run = ["hyperfine", "--style=basic", "--warmup=1", f"--export-json={export.name}"]
        progress(isolated(run + options + commands, tree))
        return json.load(export)["results"]


def numbers(text):  # the "name value" lines of a measurement tool
    return {name: float(value) for name, value in (line.split() for line in text.splitlines())}


def google_benchmark(command):
    """Each Google Benchmark's median run over its repetitions, its times in µs."""
    flags = ["--benchmark_time_unit=us", "--benchmark_report_aggregates_only=true"]
    runs = json.loads(output(shlex.split(command) + flags + ["--benchmark_format=json"]))
    return {run["run_name"]: run for run in runs["benchmarks"] if run["aggregate_name"] == "median"}


def measure(tree):
    """One run of every measurement: its figures and their ratios to their references."""
    progress("helper footprint (about 20 s)")
    out = numbers(isolated([f"{BIN}/helper_footprint", "4"]))
    rss100, rss1000 = out["rss_after_100_cycles_kib"], out["rss_after_1000_cycles_kib"]
    cycle, sleep = out["cpu_per_cycle_us"], out["sleep_floor_us"]
    run = dict(rss100=rss100, rss_ratio=rss100 / 4096, growth=rss1000 - rss100)
    run.update(growth_ratio=rss1000 / rss100, cycle=cycle, sleep=sleep, cycle_ratio=cycle / sleep)

    progress("four readings against the file-read floor (about 20 s)")
    medians = google_benchmark(READINGS_BENCH)
    for field, suffix in ("cpu_time", ""), ("real_time", "_wall"):
        readings, floor = medians["FourReadings"][field], medians["OpenReadCloseFloor"][field]
        run.update({f"readings{suffix}": readings, f"floor{suffix}": floor})
        run[f"readings{suffix}_ratio"] = readings / floor

    progress("helper CPU per cycle over the sensor tree (about 10 s)")
    out = isolated([f"{BIN}/helper_cycle_cpu", "1000"])
    run["tree_cycle"] = float(re.search(r"CPU per cycle ([0-9.]+) us", out).group(1))

    progress("a line's latency to 4 clients (about 10 s)")
    medians = google_benchmark(LATENCY_BENCH)
    line = medians["BM_LineToFourClients/repeats:5"]["real_time"]
    bare = medians["BM_BareSendsToFourClients/repeats:5"]["real_time"]
    run.update(line=line, bare=bare, line_ratio=line / bare)

    progress("installer run time: first installs, then reinstalls (about 30 s)")
    with tempfile.TemporaryDirectory() as home:
        answers = f"printf '1\\n\\n' | HOME={home} {INSTALLER}"
        install = f"{answers} | grep -F 'Sensor Helper installed and running!'"
        empty_home = f"pkill -x PelagrinHelper; rm -rf {home} && mkdir {home}"
        options = ["--runs=5", "--output=pipe", "--prepare=:", f"--prepare={empty_home}"]
        results = hyperfine(options + ["--prepare=:"], ["sleep 1.5", install, install])
    pause, first, again = (result["median"] for result in results)
    run.update(pause=pause, first=first, again=again)
    run.update(first_ratio=first / pause, again_ratio=again / pause)

    progress("four readings beside sensors -j over the same /sys/class (about 10 s)")
    inputs = len(re.findall(r'"temp\d+_input"', isolated(["sensors", "-j"], tree)))
    if inputs != 64 or numbers(isolated([f"{BIN}/readings_cpu", "1"], tree))["cpuTemp"] == 0:
        sys.exit(f"run_all: sensors -j sees {inputs} of the tree's 64 inputs, or readings_cpu none")
    in_process = numbers(isolated([f"{BIN}/readings_cpu", str(SAMPLES)], tree))["sample_cpu_us"]
    commands = [f"{BIN}/readings_cpu 1", "sensors -j", "/bin/true"]
    results = hyperfine(["-N", "--runs=7"], commands, tree)
    process, sensors, start = ((result["user"] + result["system"]) * 1e6 for result in results)
    run.update(in_process=in_process, process=process, sensors=sensors, start=start)
    run.update(in_process_ratio=in_process / sensors, process_ratio=process / sensors)
    return run


def runs_wanted():
    parser = argparse.ArgumentParser(
        description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter
    )
    parser.add_argument(
        "runs",
        nargs="?",
        type=int,
        default=3,
        metavar="RUNS",
        help="runs of each measurement (default: 3)",
    )
    runs = parser.parse_args().runs
    if runs < 1:
        parser.error(f"RUNS must be at least 1, not {runs}")
    return runs


def main():
    runs = runs_wanted()
    os.chdir(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
    deps = dict(
        os.environ, PELAGRIN_DEPS_EXTRA=os.environ.get("PELAGRIN_DEPS_EXTRA", "") + " bench"
    )
    subprocess.run(["scripts/deps.sh"], check=True, env=deps, stdout=sys.stderr)
    configure = ["cmake", "-S", ".", "-B", BUILD, "-DCMAKE_BUILD_TYPE=RelWithDebInfo"]
    subprocess.run(configure, check=True, stdout=subprocess.DEVNULL)
    targets = "helper_footprint helper_cycle_cpu sensor_readings_bench line_latency_bench"
    targets += " readings_cpu HelperInstaller"
    build = ["cmake", "--build", BUILD, "-j2", "--target", *targets.split()]
    subprocess.run(build, check=True, stdout=sys.stderr)
    progress(f"{os.cpu_count()} cores, load average %.2f %.2f %.2f at the start" % os.getloadavg())
    figures = defaultdict(list)
    for run in range(1, runs + 1):
        progress(f"run {run} of {runs}")
        for name, value in measure(os.path.abspath(f"{BIN}/sensor-tree")).items():
            figures[name].append(value)
    medians = {name: statistics.median(values) for name, values in figures.items()}
    medians["tree_cycle_ratio"] = medians["tree_cycle"] / medians["floor"]
    print(TABLE.format_map({**globals(), **medians}))
    progress("load average %.2f %.2f %.2f at the end" % os.getloadavg())


if __name__ == "__main__":
    try:
        main()
    except subprocess.CalledProcessError as failed:  # its own output says why
        sys.exit(f"run_all: {shlex.join(failed.cmd)} failed with status {failed.returncode}")
