#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in their own build folder and runs
# each for SECONDS (default 30) on a scratch copy of its seed corpus, so new
# inputs never land in the repository. Prints each target's executions per
# second and total runs; exits non-zero when any target crashes, leaks, hangs
# or breaks an invariant. Failing inputs are kept in <build>/fuzz-artifacts.
#
#   tests/fuzz/run_fuzzers.sh [SECONDS]      (PELAGRIN_FUZZ_BUILD overrides the folder)
set -euo pipefail

seconds=${1:-30}
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${PELAGRIN_FUZZ_BUILD:-$root/build-fuzz/libfuzzer}
targets=(thermal_selection_fuzzer gpu_utilization_fuzzer hwmon_fuzzer terminal_answer_fuzzer template_fill_fuzzer)

cmake -S "$root" -B "$build" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DPELAGRIN_FUZZ=ON \
  -DPELAGRIN_WERROR=ON -DPELAGRIN_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 --target "${targets[@]}" >/dev/null

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
artifacts="$build/fuzz-artifacts"
mkdir -p "$artifacts"

# The last value libFuzzer printed for a final statistic, or "-".
final_stat() {  # log, name
  local value
  value=$(sed -n "s/^stat::$2: *//p" "$1" | tail -n 1)
  echo "${value:--}"
}

failed=()
printf '%-26s %10s %12s %8s  %s\n' target execs/s runs seconds result
for target in "${targets[@]}"; do
  corpus="$scratch/corpus-$target"
  cp -r "$root/tests/fuzz/corpus/$target" "$corpus"
  log="$scratch/$target.log"
  status=0
  "$build/tests/fuzz/$target" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$artifacts/$target-" "$corpus" >"$log" 2>&1 || status=$?
  took=$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$log" | tail -n 1)
  result=ok
  if ((status != 0)); then
    result="FAILED (status $status)"
    failed+=("$target")
  fi
  printf '%-26s %10s %12s %8s  %s\n' "$target" "$(final_stat "$log" average_exec_per_sec)" \
    "$(final_stat "$log" number_of_executed_units)" "${took:--}" "$result"
  if ((status != 0)); then
    grep -E -A 30 'ERROR|invariant broken|deadly signal|Test unit written' "$log" | head -n 60 >&2 || tail -n 40 "$log" >&2
  fi
done

if ((${#failed[@]})); then
  echo "fuzzers that failed: ${failed[*]} (inputs kept in $artifacts)" >&2
  exit 1
fi
