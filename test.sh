#!/usr/bin/env bash
# Builds both programs and runs every test suite: the native one; the same under
# AddressSanitizer and UndefinedBehaviorSanitizer; each fuzz target, built with them, for
# FUZZ_SECONDS (default 10) seconds; valgrind's memcheck over a run of the tracker and the
# utility tests; then the Windows build under Wine. Installs what is missing (as root, with
# apt-get). Ends with a summary that names each suite that failed.
#
# The three builds keep both cores busy one after another (native, Windows, the
# sanitizers' with the fuzz targets), while the tests of a finished build, which mostly
# wait on the programs' polls, run beside the next build. Builds and the fuzz targets run
# at a lower priority, so that the programs under test keep their pace. Each suite's output
# goes to build/logs/ and is shown whole when the suite ends. docs/testing.md says which
# suite catches which kind of fault.
set -uo pipefail
cd "$(dirname "$0")"

tools/ensure-packages.sh cmake ninja-build g++ googletest libgtest-dev libbenchmark-dev python3 \
  g++-mingw-w64-x86-64 wine wine64 clang libclang-rt-14-dev valgrind strace cuetools ffmpeg \
  python3-pefile libboost-dev libssl-dev openssl python3-websockets time chromium fonts-noto-cjk \
  fonts-noto-color-emoji libtomlplusplus-dev || exit 1

logs=build/logs
rm -rf "$logs"
mkdir -p "$logs"

# Runs one suite: a file name for its log, its title, then the command. Shows its log when
# it ends and records whether it passed and how long it took.
suite() {
  local name=$1 title=$2
  shift 2
  local start=$SECONDS status=passed
  "$@" >"$logs/$name.log" 2>&1 || status=FAILED
  local line="$status  $title ($((SECONDS - start)) s)$(retried "$logs/$name.log")"
  echo "$line" >"$logs/$name.result.new" && mv "$logs/$name.result.new" "$logs/$name.result"
  {
    echo
    echo "==> suite: $title"
    cat "$logs/$name.log"
    echo "<== $line"
  } | flock "$logs/.lock" cat
}

# The test presets run a failed test once more, for the rare stall or stray end that is the
# machine's and not the program's; CTest's log keeps the first failure. The summary names
# every test that failed at least once.
retried() {
  local names
  names=$(sed -n 's/^.*Test *#[0-9]*: \([^ ]*\) .*\*\*\*.*$/\1/p' "$1" | sort -u | tr '\n' ' ')
  [ -n "$names" ] && echo "; failed at least once: ${names% }"
}

built() {
  grep -q "^passed" "$logs/$1.result"
}

# afterBuild BUILD NAME TITLE COMMAND...: waits for BUILD's suite to end, then runs the
# suite NAME, or records it as not run when the build failed.
afterBuild() {
  local build=$1 name=$2 title=$3
  shift 3
  while [ ! -e "$logs/$build.result" ]; do sleep 2; done
  if built "$build"; then
    suite "$name" "$title" "$@"
  else
    suite "$name" "$title" notBuilt "$build"
  fi
}

cmakeBuild() {
  # CMake's configure and build of one preset; a build beside running tests yields to them.
  cmake --preset "$1" && nice -n 10 cmake --build --preset "$1"
}

# A /dev/shm of its own for a run of the tracker outside CTest, where one can be made.
privateShm() {
  if tools/private-shm.sh --probe; then tools/private-shm.sh "$@"; else "$@"; fi
}

memcheck() {
  # The programs of the native build, under valgrind.
  ZV_TRACKER=$PWD/build/default/tracker/Zorvanthelix ZV_STANDIN=$PWD/build/default/tools/dj-standin \
    ZV_UTIL_TESTS=$PWD/build/default/tests/util/zv_util_tests \
    ZV_SETLIST=$PWD/build/default/setlist/setlist \
    privateShm python3 -B tests/memcheck/test_memcheck.py
}

wineTests() {
  # One throw-away Wine prefix for the run, and a wineserver that stays up between the
  # many short Windows processes of the tests.
  export ZV_WINEPREFIX
  ZV_WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/zv-wine.XXXXXX")
  WINEPREFIX=$ZV_WINEPREFIX WINEDEBUG=-all wineboot --init >/dev/null 2>&1
  WINEPREFIX=$ZV_WINEPREFIX wineserver -p
  local status=0
  ctest --preset windows || status=1
  WINEPREFIX=$ZV_WINEPREFIX wineserver -k 2>/dev/null
  rm -rf "$ZV_WINEPREFIX"
  return $status
}

asanTests() {
  # The asan test preset makes any sanitizer report end the program with status 86, which
  # fails the test that ran it. A report fails the suite even when the test passed when run
  # again: a sanitizer's finding is often one that comes and goes.
  local output status=0
  output=$(ctest --preset asan 2>&1) || status=1
  echo "$output"
  if grep -qE "ERROR: (Address|Leak)Sanitizer|runtime error:" <<<"$output"; then
    echo "a sanitizer reported an error (above): the suite fails"
    status=1
  fi
  return $status
}

notBuilt() {
  echo "not run: its build ($1) failed, see that suite"
  return 1
}

# Three lanes: the builds one after another; beside them the Linux suites of each finished
# build one after another; and the Windows suite, which mostly waits (its tests of the
# shared block run one at a time).
order=(native-build native memcheck windows-build windows asan-build asan fuzz)
{
  afterBuild native-build native "native tests (Linux)" ctest --preset default
  afterBuild native-build memcheck \
    "valgrind memcheck: a tracker session, the utility tests, setlist conversions" memcheck
  afterBuild asan-build asan "tests under AddressSanitizer and UBSan" asanTests
} &
afterBuild windows-build windows "Windows tests under Wine" wineTests &
suite native-build "native build (Linux)" cmakeBuild default
suite windows-build "Windows build (MinGW-w64)" cmakeBuild windows
suite asan-build "build under AddressSanitizer and UBSan, with the fuzz targets" cmakeBuild asan
afterBuild asan-build fuzz "fuzz targets, ${FUZZ_SECONDS:-10} s each" nice -n 10 fuzz/run.sh
wait

echo
echo "==> summary"
failed=0
for name in "${order[@]}"; do
  line=$(cat "$logs/$name.result" 2>/dev/null || echo "FAILED  $name (no result)")
  echo "  $line"
  [[ $line == passed* ]] || failed=1
done
echo "  whole run: $SECONDS s"
exit $failed
