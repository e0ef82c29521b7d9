#!/usr/bin/env bash
# Runs each libFuzzer target of the fuzz preset for a bounded time, starting from the seed
# corpus in fuzz/corpus/<target>/. Inputs the fuzzer finds on the way are kept in the build
# folder only. Fails when any target reports a crash, a sanitizer error, a leak or an input
# that runs longer than 10 seconds; the input is then saved in build/fuzz/artifacts/.
#
#   FUZZ_SECONDS   seconds per target (default 20)
set -uo pipefail
cd "$(dirname "$0")/.."

seconds=${FUZZ_SECONDS:-20}
if ! [[ $seconds =~ ^[0-9]+$ ]] || [ "$seconds" -lt 1 ]; then
  echo "FUZZ_SECONDS must be a whole number of seconds, at least 1" >&2
  exit 2
fi

build=build/fuzz
targets=(deck_text command_line str_to_i date fileio_blocks playlist_record set_log_line live_texts json
  sent_file irc_line)
mkdir -p "$build/artifacts" "$build/logs"

failed=0
summary=()
for name in "${targets[@]}"; do
  program=$build/fuzz/fuzz_$name
  work=$build/corpus/$name
  log=$build/logs/$name.log
  mkdir -p "$work"
  options=(-max_total_time="$seconds" -timeout=10 -print_final_stats=1
    -artifact_prefix="$build/artifacts/$name-")
  # Up to three whole blocks and the settings byte.
  [ "$name" = deck_text ] && options+=(-max_len=12289)

  echo "--> fuzz_$name for $seconds s"
  "$program" "${options[@]}" "$work" "fuzz/corpus/$name" >"$log" 2>&1
  status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  if [ $status -eq 0 ] && [ -n "$runs" ]; then
    summary+=("passed  fuzz_$name: ${runs} executions in $seconds s")
  else
    failed=1
    summary+=("FAILED  fuzz_$name (status $status, ${runs:-?} executions); log: $log")
    tail -n 60 "$log"
  fi
done

printf '  %s\n' "${summary[@]}"
exit $failed
