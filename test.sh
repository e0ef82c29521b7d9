#!/usr/bin/env bash
# Builds both programs and runs every test suite: the native one; the same under
# AddressSanitizer and UndefinedBehaviorSanitizer; each fuzz target for FUZZ_SECONDS
# (default 20) seconds; valgrind's memcheck over a run of the tracker and the utility
# tests; then the Windows build under Wine. Installs what is missing (as root, with
# apt-get). Ends with a summary that names each suite that failed.
set -uo pipefail
cd "$(dirname "$0")"

tools/ensure-packages.sh cmake ninja-build g++ googletest libgtest-dev libbenchmark-dev python3 \
  g++-mingw-w64-x86-64 wine wine64 clang libclang-rt-14-dev valgrind strace cuetools ffmpeg \
  python3-pefile libboost-dev libssl-dev openssl python3-websockets time chromium fonts-noto-cjk \
  fonts-noto-color-emoji || exit 1

results=()
failed=0

# Runs one suite: its name, then the command. Records whether it passed, and how long
# it took.
suite() {
  local name=$1
  shift
  echo
  echo "==> suite: $name"
  local start=$SECONDS
  if "$@"; then
    results+=("passed  $name ($((SECONDS - start)) s)")
  else
    results+=("FAILED  $name ($((SECONDS - start)) s)")
    failed=1
  fi
}

native() {
  cmake --preset default && cmake --build --preset default && ctest --preset default
}

asan() {
  # The asan test preset makes any sanitizer report end the program with status 86, which
  # fails the test that ran it.
  cmake --preset asan && cmake --build --preset asan && ctest --preset asan
}

fuzz() {
  cmake --preset fuzz && cmake --build --preset fuzz && fuzz/run.sh
}

memcheck() {
  # The programs of the native build, under valgrind.
  ZV_TRACKER=$PWD/build/default/tracker/Zorvanthelix ZV_STANDIN=$PWD/build/default/tools/dj-standin \
    ZV_UTIL_TESTS=$PWD/build/default/tests/util/zv_util_tests \
    ZV_SETLIST=$PWD/build/default/setlist/setlist \
    python3 -B tests/memcheck/test_memcheck.py
}

windows() {
  # One throw-away Wine prefix for the run, and a wineserver that stays up between the
  # many short Windows processes of the tests.
  export ZV_WINEPREFIX
  ZV_WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/zv-wine.XXXXXX")
  WINEPREFIX=$ZV_WINEPREFIX WINEDEBUG=-all wineboot --init >/dev/null 2>&1
  WINEPREFIX=$ZV_WINEPREFIX wineserver -p
  local status=0
  cmake --preset windows && cmake --build --preset windows && ctest --preset windows || status=1
  WINEPREFIX=$ZV_WINEPREFIX wineserver -k 2>/dev/null
  rm -rf "$ZV_WINEPREFIX"
  return $status
}

suite "native build and tests (Linux)" native
suite "native build and tests under AddressSanitizer and UBSan" asan
suite "fuzz targets, ${FUZZ_SECONDS:-20} s each" fuzz
suite "valgrind memcheck: a tracker session, the utility tests, setlist conversions" memcheck
suite "Windows build (MinGW-w64) and tests under Wine" windows

echo
echo "==> summary"
printf '  %s\n' "${results[@]}"
exit $failed
