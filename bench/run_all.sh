#!/usr/bin/env bash
# Reproduces the table of docs/PERFORMANCE.md: builds what it measures, runs
# each measurement several times and prints, as the table's rows, each
# figure's median beside its reference measured in the same runs.
#
#   bench/run_all.sh [RUNS]     RUNS: runs of each measurement (default 3)
#   BUILD=folder                the build folder (default build, RelWithDebInfo)
#
# Whatever binds 127.0.0.1:27830, stops helpers (the installer's killall) or
# mounts a fake /sys/class runs in private mount, PID and network namespaces:
# it neither meets nor disturbs a helper or a test running beside it, and what
# it starts ends with its namespace. Progress goes to stderr, the table to stdout.
set -euo pipefail

SELF=$(realpath "$0")
cd "$(dirname "$SELF")/.."

BUILD=${BUILD:-build}
RUNS=3
INSTALL_RUNS=5
SPAWN_RUNS=7
IN_PROCESS_SAMPLES=200
BIN=$BUILD/bench
INSTALLER=$BUILD/installer/HelperInstaller.app/Contents/MacOS/HelperInstaller
INSTALLED_TEXT="Sensor Helper installed and running!"

progress() { echo "run_all: $*" >&2; }
fail() { echo "run_all: $*" >&2; exit 1; }

# ---- tools ----------------------------------------------------------------

# "key value" lines: the value for a key.
field() { awk -v key="$1" '$1 == key { print $2; exit }' <<<"$2"; }
calc() { awk "BEGIN { printf \"${2:-%.2f}\", $1 }"; }
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# Per-run values, kept by name until the row is printed.
RESULTS=$(mktemp -d)
trap 'rm -rf "$RESULTS"' EXIT
record() { echo "$2" >>"$RESULTS/$1"; }
med() { median <"$RESULTS/$1"; }

row() { printf '| %s | %s | %s | %s | %s | %s |\n' "$@"; }

# From Google Benchmark's JSON (its CSV refuses interleaved runs with
# counters): the median of benchmark $2's repetitions, field $3 (real_time
# or cpu_time), in µs.
bench_median() {
  python3 -c 'import json, sys
name, field = sys.argv[1:]
scale = {"ns": 1e-3, "us": 1, "ms": 1e3, "s": 1e6}
medians = [run[field] * scale[run["time_unit"]] for run in json.load(sys.stdin)["benchmarks"]
           if run["run_name"] == name and run.get("aggregate_name") == "median"]
if not medians:
    sys.exit("run_all: no median for " + name)
print("%.1f" % medians[0])' "$2" "$3" <<<"$1"
}

# Microseconds of wall time that "$@" takes, into the variable named first.
elapsed_us() {
  local into=$1 start=${EPOCHREALTIME/./}
  shift
  "$@"
  printf -v "$into" '%d' $((${EPOCHREALTIME/./} - start))
}

# ---- isolation --------------------------------------------------------------

# Runs "$@" in its own mount, PID and network namespaces with loopback up, as
# root there. Everything left running inside is killed when "$@" ends.
isolated() {
  local as_root=()
  ((EUID == 0)) || as_root=(--map-root-user)
  unshare "${as_root[@]}" --mount --pid --fork --mount-proc --net -- \
    bash -c 'ip link set lo up && "$@"' isolated "$@"
}

can_isolate() { isolated true >/dev/null 2>&1; }

# Without namespaces the port is the machine's own: it must be free.
port_bound() {
  if [[ $ISOLATION == yes ]]; then isolated "$@"; else "$@"; fi
}

# ---- set-up -------------------------------------------------------------------

# The build's packages come from scripts/deps.sh; lm-sensors serves only the
# comparison here.
ensure_packages() {
  scripts/deps.sh >&2
  dpkg-query -W -f='${Status}' lm-sensors 2>/dev/null | grep -q "install ok installed" && return
  if ((EUID != 0)); then
    echo "Missing packages. Install them with:" >&2
    echo "  sudo apt-get update && sudo apt-get install -y lm-sensors" >&2
    exit 1
  fi
  progress "installing lm-sensors"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq >&2
  apt-get install -y -qq --no-install-recommends lm-sensors >&2
}

build() {
  cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$BUILD" -j"${JOBS:-$(nproc)}" --target helper_footprint helper_cycle_cpu \
    sensor_readings_bench line_latency_bench readings_cpu HelperInstaller >&2
}

# ---- measurements, each printing its rows -----------------------------------

measure_footprint() {
  local run out rss100 rss1000 cycle floor
  for ((run = 1; run <= RUNS; run++)); do
    progress "helper footprint, run $run of $RUNS (about 20 s)"
    out=$(port_bound "$BIN/helper_footprint" 4)
    rss100=$(field rss_after_100_cycles_kib "$out")
    rss1000=$(field rss_after_1000_cycles_kib "$out")
    cycle=$(field cpu_per_cycle_us "$out")
    floor=$(field sleep_floor_us "$out")
    record rss100 "$rss100"
    record rss_ratio "$(calc "$rss100 / 4096")"
    record growth "$((rss1000 - rss100))"
    record growth_ratio "$(calc "$rss1000 / $rss100" %.3f)"
    record zero_cycle "$cycle"
    record sleep_floor "$floor"
    record zero_cycle_ratio "$(calc "$cycle / $floor")"
  done
  local command="\`$BIN/helper_footprint 4\`"
  row "Helper resident memory after 100 cycles (4 clients, zero readings)" "$(med rss100) KiB" \
    "target: 4,096 KiB" "$(med rss_ratio)" "< 4 MiB" "$command"
  row "Its growth from cycle 100 to cycle 1,000" "$(med growth) KiB" "RSS at cycle 100" \
    "$(med growth_ratio)" "flat" "same run"
  row "Helper main-thread CPU per cycle, zero readings" "$(med zero_cycle) µs" \
    "bare 10 ms sleep: $(med sleep_floor) µs" "$(med zero_cycle_ratio)" "< 50 µs" "same run"
}

measure_readings() {
  local run out readings floor readings_wall floor_wall
  for ((run = 1; run <= RUNS; run++)); do
    progress "four readings against the file-read floor, run $run of $RUNS (about 20 s)"
    out=$("$BIN/sensor_readings_bench" --benchmark_repetitions=15 --benchmark_enable_random_interleaving=true \
      --benchmark_report_aggregates_only=true --benchmark_format=json)
    readings=$(bench_median "$out" FourReadings cpu_time)
    floor=$(bench_median "$out" OpenReadCloseFloor cpu_time)
    readings_wall=$(bench_median "$out" FourReadings real_time)
    floor_wall=$(bench_median "$out" OpenReadCloseFloor real_time)
    record readings "$readings"
    record read_floor "$floor"
    record readings_ratio "$(calc "$readings / $floor")"
    record readings_wall "$readings_wall"
    record read_floor_wall "$floor_wall"
    record readings_wall_ratio "$(calc "$readings_wall / $floor_wall")"
  done
  row "Four readings, one cycle, 64 sensors on 4 chips: CPU" "$(med readings) µs" \
    "open/read/close floor: $(med read_floor) µs" "$(med readings_ratio)" "≤ 1.5× floor" \
    "\`$BIN/sensor_readings_bench --benchmark_repetitions=15 --benchmark_enable_random_interleaving=true\`"
  row "The same: wall time" "$(med readings_wall) µs" "floor: $(med read_floor_wall) µs" \
    "$(med readings_wall_ratio)" "≤ 1.5× floor" "same run"
}

# After measure_readings: its floor is this row's reference.
measure_cycle() {
  local run out cycle floor
  floor=$(med read_floor)
  for ((run = 1; run <= RUNS; run++)); do
    progress "helper CPU per cycle over the sensor tree, run $run of $RUNS (about 10 s)"
    out=$(port_bound "$BIN/helper_cycle_cpu" 1000)
    cycle=$(sed -n 's/.*CPU per cycle \([0-9.]*\) us.*/\1/p' <<<"$out")
    [[ -n $cycle ]] || fail "helper_cycle_cpu: $out"
    record tree_cycle "$cycle"
    record tree_cycle_ratio "$(calc "$cycle / $floor")"
  done
  row "Helper main-thread CPU per cycle over the same tree (5 ms pause, 1,000 cycles)" "$(med tree_cycle) µs" \
    "open/read/close floor, above: $floor µs" "$(med tree_cycle_ratio)" "—" "\`$BIN/helper_cycle_cpu 1000\`"
}

measure_latency() {
  local run out line bare
  for ((run = 1; run <= RUNS; run++)); do
    progress "a line's latency to 4 clients, run $run of $RUNS (about 10 s)"
    out=$("$BIN/line_latency_bench" --benchmark_enable_random_interleaving=true --benchmark_format=json)
    line=$(bench_median "$out" BM_LineToFourClients/repeats:5 real_time)
    bare=$(bench_median "$out" BM_BareSendsToFourClients/repeats:5 real_time)
    record line_wall "$line"
    record bare_wall "$bare"
    record line_ratio "$(calc "$line / $bare")"
  done
  row "One line from the end of the pause to 4 clients (readings, format, sends, receives): wall" \
    "$(med line_wall) µs" "bare send + recv of the same bytes: $(med bare_wall) µs" "$(med line_ratio)" "—" \
    "\`$BIN/line_latency_bench --benchmark_enable_random_interleaving=true\`"
}

measure_installer() {
  local run out pause first again
  if [[ $ISOLATION != yes ]]; then
    row "Installer's total run time" "not measured" "—" "—" "—" \
      "needs private namespaces, which this machine refuses: its killall would stop every PelagrinHelper here"
    return
  fi
  for ((run = 1; run <= INSTALL_RUNS; run++)); do
    progress "installer run time, run $run of $INSTALL_RUNS (about 5 s)"
    out=$(isolated "$SELF" --time-install "$(realpath "$INSTALLER")") || fail "timing the installer failed"
    read -r pause first again <<<"$out"
    record pause "$(calc "$pause / 1e6" %.3f)"
    record first_install "$(calc "$first / 1e6" %.3f)"
    record first_ratio "$(calc "$first / $pause" %.3f)"
    record reinstall "$(calc "$again / 1e6" %.3f)"
    record reinstall_ratio "$(calc "$again / $pause" %.3f)"
  done
  row "Installer, first install into an empty HOME: total run time" "$(med first_install) s" \
    "\`sleep 1.5\`: $(med pause) s" "$(med first_ratio)" "—" \
    "\`printf '1\\n\\n' \\| HOME=\$(mktemp -d) $INSTALLER\`, in private namespaces"
  row "Installer, reinstall over the running helper: total run time" "$(med reinstall) s" \
    "\`sleep 1.5\`: $(med pause) s" "$(med reinstall_ratio)" "—" "same run"
}

measure_beside_lm_sensors() {
  local out tree
  if [[ $ISOLATION != yes ]]; then
    row "Four readings beside \`sensors -j\`" "not measured" "—" "—" "—" \
      "needs a private mount namespace, which this machine refuses"
    return
  fi
  progress "four readings beside sensors -j over the same /sys/class (about 10 s)"
  tree=$(realpath "$BIN/sensor-tree")
  out=$(isolated "$SELF" --beside-lm-sensors "$RUNS" "$tree" "$(realpath "$BIN/readings_cpu")") || fail "the comparison with sensors -j failed"
  row "Four readings over the tree at /sys/class, in the running helper: CPU per sample" \
    "$(field in_process "$out") µs" "\`sensors -j\`, one sample: $(field sensors "$out") µs" \
    "$(field in_process_ratio "$out")" "—" "\`$BIN/readings_cpu $IN_PROCESS_SAMPLES\`, \`sensors -j\`, the tree bound over /sys/class"
  row "The same as one process each (start-up included): CPU" "$(field process "$out") µs" \
    "\`sensors -j\`: $(field sensors "$out") µs (\`/bin/true\`: $(field start "$out") µs)" \
    "$(field process_ratio "$out")" "—" "\`$BIN/readings_cpu 1\`, \`sensors -j\`"
}

# ---- run inside a namespace ---------------------------------------------------

# Wall time of a 1.5 s sleep, of a first install into an empty HOME, and of a
# reinstall over it (whose killall stops the helper the first one started), in µs.
time_install() {
  local installer=$1 pause first again
  # Global, so the exit trap still sees them whichever way this ends.
  home=$(mktemp -d)
  log=$(mktemp)
  trap 'rm -rf "$RESULTS" "$home" "$log"' EXIT
  elapsed_us pause sleep 1.5
  elapsed_us first install_into "$installer" "$home" "$log"
  grep -q "$INSTALLED_TEXT" "$log" || fail "the first install did not succeed: $(cat "$log")"
  elapsed_us again install_into "$installer" "$home" "$log"
  grep -q "$INSTALLED_TEXT" "$log" || fail "the reinstall did not succeed: $(cat "$log")"
  echo "$pause $first $again"
}

# Chooses the first button (Install, or Reinstall once installed), then
# acknowledges the result.
install_into() { printf '1\n\n' | HOME=$2 "$1" >"$3" 2>&1; }

# The tree's class folder over /sys/class: where lm-sensors looks, and where the
# shipped readings look. /sys stays sysfs, which libsensors checks first.
beside_lm_sensors() {
  local tree=$1 readings=$2 inputs seen run samples in_process process sensors start name
  mount --bind "$tree/class" /sys/class
  inputs=$(find "$tree/class/hwmon/" -name 'temp*_input' | wc -l)
  seen=$(sensors -j | python3 -c 'import json, sys
chips = json.load(sys.stdin)
print(sum(key.startswith("temp") and key.endswith("_input")
          for chip in chips.values() for feature in chip.values() if isinstance(feature, dict) for key in feature))')
  [[ $seen == "$inputs" ]] || fail "sensors -j read $seen of the tree's $inputs temperature inputs"
  [[ $(field cpuTemp "$("$readings" 1)") != 0.0 ]] || fail "the readings do not see the tree at /sys/class"
  for ((run = 1; run <= RUNS; run++)); do
    in_process=$(field sample_cpu_us "$("$readings" "$IN_PROCESS_SAMPLES")")
    samples=$(python3 bench/spawn_cpu.py "$SPAWN_RUNS" "$readings 1" "sensors -j" /bin/true)
    read -r process sensors start <<<"$(cut -f2 <<<"$samples" | paste -sd' ')"
    record in_process "$in_process"
    record process "$process"
    record sensors "$sensors"
    record start "$start"
    record in_process_ratio "$(calc "$in_process / $sensors")"
    record process_ratio "$(calc "$process / $sensors")"
  done
  for name in in_process process sensors start in_process_ratio process_ratio; do echo "$name $(med "$name")"; done
}

# ---- main -------------------------------------------------------------------------

case "${1:-}" in
  --time-install) time_install "$2"; exit ;;
  --beside-lm-sensors) RUNS=$2; beside_lm_sensors "$3" "$4"; exit ;;
esac
RUNS=${1:-$RUNS}
[[ $RUNS =~ ^[1-9][0-9]*$ ]] || fail "usage: bench/run_all.sh [RUNS]   (RUNS: a whole number from 1)"

ensure_packages
build
ISOLATION=no
if can_isolate; then ISOLATION=yes; else progress "no private namespaces here: port 27830 must be free"; fi
progress "$(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg) at the start"
row "Figure" "Median" "Reference, same run" "Ratio to reference" "Target" "Command"
row "---" "---" "---" "---" "---" "---"
measure_footprint
measure_readings
measure_cycle
measure_latency
measure_installer
measure_beside_lm_sensors
progress "load average $(cut -d' ' -f1-3 /proc/loadavg) at the end"
