#!/usr/bin/env bash
# Builds both programs and runs every test suite: the native one, then the Windows
# build under Wine. Installs what is missing (as root, with apt-get). Ends with a
# summary that names each suite that failed.
set -uo pipefail
cd "$(dirname "$0")"

tools/ensure-packages.sh cmake ninja-build g++ googletest libgtest-dev libbenchmark-dev python3 \
  g++-mingw-w64-x86-64 wine wine64 || exit 1

results=()
failed=0

# Runs one suite: its name, then the command. Records whether it passed.
suite() {
  local name=$1
  shift
  echo
  echo "==> suite: $name"
  if "$@"; then
    results+=("passed  $name")
  else
    results+=("FAILED  $name")
    failed=1
  fi
}

native() {
  cmake --preset default && cmake --build --preset default && ctest --preset default
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
suite "Windows build (MinGW-w64) and tests under Wine" windows

echo
echo "==> summary"
printf '  %s\n' "${results[@]}"
exit $failed
