#!/usr/bin/env bash
# Runs each libFuzzer target of the asan build for a bounded time, starting from the seed
# corpus in fuzz/corpus/<target>/. Inputs the fuzzer finds on the way are kept in the build
# folder only. Fails when any target reports a crash, a sanitizer error, a leak or an input
# that runs longer than 10 seconds; the input is then saved in build/asan/fuzz/artifacts/.
# Every target runs on every run; FUZZ_JOBS of them at a time, one core each.
#
#   FUZZ_SECONDS   seconds per target (default 10; more for a longer search)
#   FUZZ_JOBS      targets at a time (default 2, the cores of the machine the tests are
#                  timed on)
set -uo pipefail
cd "$(dirname "$0")/.."

seconds=${FUZZ_SECONDS:-10}
if ! [[ $seconds =~ ^[0-9]+$ ]] || [ "$seconds" -lt 1 ]; then
  echo "FUZZ_SECONDS must be a whole number of seconds, at least 1" >&2
  exit 2
fi
jobs=${FUZZ_JOBS:-2}
if ! [[ $jobs =~ ^[0-9]+$ ]] || [ "$jobs" -lt 1 ]; then
  echo "FUZZ_JOBS must be a whole number, at least 1" >&2
  exit 2
fi

build=build/asan/fuzz
targets=(deck_text command_line str_to_i date fileio_blocks playlist_record set_log_line live_texts json
  sent_file irc_line settings discord_frame title_clean)
mkdir -p "$build/artifacts" "$build/logs"

# Runs one target and keeps the fuzzer's status beside its log.
fuzzOne() {
  local name=$1
  local work=$build/corpus/$name
  mkdir -p "$work"
  local options=(-max_total_time="$seconds" -timeout=10 -print_final_stats=1
    -artifact_prefix="$build/artifacts/$name-")
  # Up to three whole blocks and the settings byte.
  [ "$name" = deck_text ] && options+=(-max_len=12289)
  "$build/fuzz_$name" "${options[@]}" "$work" "fuzz/corpus/$name" >"$build/logs/$name.log" 2>&1
  echo $? >"$build/logs/$name.status"
}

# Every target, at most $jobs at a time.
for name in "${targets[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do
    wait -n
  done
  echo "--> fuzz_$name for $seconds s"
  rm -f "$build/logs/$name.status"
  fuzzOne "$name" &
done
wait

failed=0
summary=()
for name in "${targets[@]}"; do
  log=$build/logs/$name.log
  status=$(cat "$build/logs/$name.status" 2>/dev/null || echo "?")
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  if [ "$status" = 0 ] && [ -n "$runs" ]; then
    summary+=("passed  fuzz_$name: ${runs} executions in $seconds s")
  else
    failed=1
    summary+=("FAILED  fuzz_$name (status $status, ${runs:-?} executions); log: $log")
    tail -n 60 "$log"
  fi
done

printf '  %s\n' "${summary[@]}"
exit $failed
