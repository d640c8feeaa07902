#!/usr/bin/env bash
# Fails when a tracked source is not laid out by the formatters; with --fix,
# lays it out instead. Fixture trees and fuzz corpora are data, not code.
set -euo pipefail
cd "$(dirname "$0")/.."

mapfile -d '' cxx < <(git ls-files -z '*.c' '*.cpp' '*.h' '*.mm' ':!:*/fixtures/*' ':!:*/corpus/*')
mapfile -d '' python < <(git ls-files -z '*.py')
if [[ "${1:-}" == --fix ]]; then
  clang-format -i "${cxx[@]}"
  black -q "${python[@]}"
else
  clang-format --dry-run --Werror "${cxx[@]}"
  black --check -q "${python[@]}"
fi
