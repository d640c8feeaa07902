#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when run as root;
# otherwise names the one command that would install what is missing. On a
# Mac it looks for what the build needs on PATH and names the one Homebrew
# command for what is not there, and runs it with --install (as the macOS
# workflow does), so the formulae are listed here alone. With
# --run it asks only for the build's own, all that `make run` needs.
set -euo pipefail

run_only=false install=false
for argument in "$@"; do
  case $argument in
    --run) run_only=true ;;
    --install) install=true ;;
    *)
      echo "usage: scripts/deps.sh [--run] [--install]" >&2
      echo "  --run: only what the helper's build needs; --install: on a Mac, run the brew install line" >&2
      exit 2
      ;;
  esac
done

if [[ $(uname -s) == Darwin ]]; then
  # What the build would find counts, wherever it came from (cmake.org,
  # MacPorts, pip): the formula is named only for what is missing.
  gtest_found() {
    local dir dirs
    # CMake's own prefixes, and each PATH folder's parent, as find_package looks.
    IFS=: read -ra dirs <<<"${CMAKE_PREFIX_PATH:-}:$PATH:/opt/homebrew:/usr/local:/opt/local"
    for dir in "${dirs[@]}"; do
      [[ -e ${dir%/bin}/lib/cmake/GTest/GTestConfig.cmake || -e ${dir%/bin}/include/gtest/gtest.h ]] && return 0
    done
    return 1
  }
  missing=()
  command -v cmake >/dev/null || missing+=(cmake)
  if ! $run_only; then
    command -v pytest >/dev/null || command -v pytest-3 >/dev/null || missing+=(pytest)
    gtest_found || missing+=(googletest)
  fi
  if ((${#missing[@]})) && $install; then
    brew install "${missing[@]}"
  elif ((${#missing[@]})); then
    echo "Missing: ${missing[*]}. Install them with Homebrew (https://brew.sh):" >&2
    echo "  brew install ${missing[*]}" >&2
    echo "or let this script run that line: scripts/deps.sh --install" >&2
    exit 1
  fi
  exit 0
fi

packages=(cmake make g++)          # the build: all that `make run` needs
if ! $run_only; then
  packages+=(
    pkg-config                       # the fuzzers' oracles are found with it
    googletest libgtest-dev          # unit tests
    python3 python3-pytest           # process, installer and packaging tests
    libxml2-dev libglib2.0-dev       # oracles for the filled agent templates
    nlohmann-json3-dev               # oracle for pelagrin-sensors --json in its fuzzer
    desktop-file-utils               # desktop-file-validate on the written autostart entry
    libbenchmark-dev                 # bench/
    clang libc++-dev                 # the Mac build generated, and main.mm checked, on Linux
    shellcheck                       # linting packaging/sign.sh
    valgrind                         # the helper under memcheck
    procps                           # pkill and pgrep, used by the Linux installer
    util-linux                       # setsid, used by it too; unshare, setpriv: the process tests
    iproute2                         # loopback up in each test's network namespace
    lsof                             # the listening check where the tests run as on a Mac
    locales                          # a comma-decimal locale for the telemetry-line test
    clang-format black               # the formatters CI holds every source to
  )
  # Opt-in groups, named in PELAGRIN_DEPS_EXTRA and separated by spaces.
  for group in ${PELAGRIN_DEPS_EXTRA:-}; do
    case $group in
      ci) packages+=(libclang-rt-14-dev) ;;          # libFuzzer
      bench) packages+=(lm-sensors hyperfine) ;;     # bench/run_all.py: sensors -j, whole processes timed
      *) echo "deps.sh: unknown group \"$group\" in PELAGRIN_DEPS_EXTRA (groups: ci, bench)" >&2; exit 1 ;;
    esac
  done
fi

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

if ((${#missing[@]})); then
  if [[ $(id -u) -ne 0 ]]; then
    echo "Missing packages. Install them with:" >&2
    echo "  sudo apt-get update && sudo apt-get install -y ${missing[*]}" >&2
    exit 1
  fi
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The locale test needs de_DE.UTF-8 compiled; only root can add it.
if ! $run_only && [[ $(id -u) -eq 0 ]] && ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  localedef -i de_DE -f UTF-8 de_DE.UTF-8 2>/dev/null || echo "note: could not compile de_DE.UTF-8; its test will be skipped" >&2
fi
