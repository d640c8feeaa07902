#!/usr/bin/env bash
# Fails when a tracked source is not laid out by the formatters; with --fix,
# lays it out instead. Every formatter runs and reports all it finds, so one
# run names every finding. Fixture trees and fuzz corpora are data, not code.
set -uo pipefail
cd "$(dirname "$0")/.."

mapfile -d '' cxx < <(git ls-files -z '*.c' '*.cpp' '*.h' '*.mm' ':!:*/fixtures/*' ':!:*/corpus/*')
mapfile -d '' python < <(git ls-files -z '*.py')
if [[ "${1:-}" == --fix ]]; then
  clang-format -i "${cxx[@]}" && black -q "${python[@]}"
  exit
fi
status=0
clang-format --dry-run --Werror "${cxx[@]}" || status=1
black --check "${python[@]}" || status=1
if ((status)); then
  echo "check-format: the files above are not laid out; scripts/check-format.sh --fix lays them out" >&2
fi
exit $status
