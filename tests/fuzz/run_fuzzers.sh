#!/usr/bin/env bash
# Usage: tests/fuzz/run_fuzzers.sh [SECONDS]. Runs each libFuzzer target for SECONDS (default 30)
# on a scratch copy of its seed corpus, so that no new input lands in the repository; fails on a
# crash, leak, hang or broken invariant, keeping the input in <build>/fuzz-artifacts.
set -euo pipefail
seconds=${1:-30}
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${PELAGRIN_FUZZ_BUILD:-$root/build-fuzz/libfuzzer}
targets=(scripted_sensors_fuzzer hwmon_fuzzer terminal_answer_fuzzer template_fill_fuzzer)
cmake -S "$root" -B "$build" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DPELAGRIN_FUZZ=ON \
  -DPELAGRIN_WERROR=ON -DPELAGRIN_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 --target "${targets[@]}" >/dev/null
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$build/fuzz-artifacts"
for target in "${targets[@]}"; do
  cp -r "$root/tests/fuzz/corpus/$target" "$scratch/$target"
  dictionary=()
  if [[ $target == scripted_sensors_fuzzer ]]; then dictionary=(-dict="$root/tests/fuzz/sensor_rules.dict"); fi
  if ! "$build/tests/fuzz/$target" "${dictionary[@]}" -max_total_time="$seconds" -timeout=10 \
      -artifact_prefix="$build/fuzz-artifacts/$target-" "$scratch/$target" >"$scratch/log" 2>&1; then
    tail -n 40 "$scratch/log" >&2
    echo "$target failed; its input is in $build/fuzz-artifacts" >&2
    exit 1
  fi
  echo "$target: $(grep '^Done' "$scratch/log")"
done
