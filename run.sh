#!/usr/bin/env bash
# Builds Zorvanthelix and runs it; arguments go to the tracker (e.g. ./run.sh -s 15).
#
# When a DJ application's shared block exists, the tracker simply runs here, in the
# current folder. Otherwise the stand-in DJ application plays the bundled sample set
# (tools/sample-set.txt), the tracker runs in a fresh temporary folder beside it, is
# stopped with Ctrl-C once the set is over, and its playlist file is shown, with the
# tracklist that setlist makes of it.
#
# ./run.sh --live [ARGS]: setlist live runs beside the tracker as well (with the same
# ARGS), keeping now-playing.txt, previous.txt and overlay.html in that folder; they are
# shown at the end. When live ends early, its messages are shown and run.sh fails.
set -euo pipefail

live=0
if [ "${1:-}" = "--live" ]; then
  live=1
  shift
fi

say() { printf '==> %s\n' "$*"; }

here="$(pwd)"
root="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
cd "$root"

# --- Tools -----------------------------------------------------------------------------
# Installs whatever of these is missing (as root, with apt-get update and install).
tools/ensure-packages.sh cmake ninja-build g++ googletest libgtest-dev libbenchmark-dev libboost-dev libssl-dev \
  libtomlplusplus-dev

# --- Build -----------------------------------------------------------------------------
say "cmake --preset default"
cmake --preset default >/dev/null
say "cmake --build --preset default"
cmake --build --preset default

tracker="$root/build/default/tracker/Zorvanthelix"
standin="$root/build/default/tools/dj-standin"
setlist="$root/build/default/setlist/setlist"

# --- Run -------------------------------------------------------------------------------
if [ -e "/dev/shm/Global\\ssl_sharing" ] || [ -e "/dev/shm/Local\\ssl_sharing" ]; then
  cd "$here"
  say "A DJ application's block exists: running the tracker in $here"
  say "$tracker $*"
  exec "$tracker" "$@"
fi

folder="$(mktemp -d "${TMPDIR:-/tmp}/zorvanthelix.XXXXXX")"
say "No DJ application running: the stand-in plays tools/sample-set.txt (about 35 s)"
say "Its log: $folder/dj-standin.log"
"$standin" "$root/tools/sample-set.txt" </dev/null >"$folder/dj-standin.log" 2>&1 &
standin_pid=$!

# The tracker gives up at once when the block is not there yet.
for _ in $(seq 50); do
  [ -e "/dev/shm/Global\\ssl_sharing" ] && break
  kill -0 "$standin_pid" 2>/dev/null || break
  sleep 0.1
done
if [ ! -e "/dev/shm/Global\\ssl_sharing" ]; then
  say "The stand-in did not start:" >&2
  cat "$folder/dj-standin.log" >&2
  exit 1
fi

say "Running the tracker in $folder"
say "$tracker $*"
(cd "$folder" && exec "$tracker" "$@") </dev/null &
tracker_pid=$!

live_pid=
if [ "$live" = 1 ]; then
  say "Running setlist live beside it: $setlist live --now-playing now-playing.txt" \
    "--previous previous.txt --html overlay.html $*"
  say "Its messages: $folder/setlist-live.log"
  (cd "$folder" && exec "$setlist" live --now-playing now-playing.txt --previous previous.txt \
    --html overlay.html "$@") </dev/null > >(tee "$folder/setlist-live.log" |
    sed -u 's/^/[setlist live] /') 2>&1 &
  live_pid=$!
fi

stop_all() {
  kill -INT "$tracker_pid" 2>/dev/null || true
  [ -z "$live_pid" ] || kill -INT "$live_pid" 2>/dev/null || true
  kill -TERM "$standin_pid" 2>/dev/null || true
}
# A Ctrl-C in the terminal reaches both programs too; both end cleanly on it.
trap 'say "Interrupted: stopping"; stop_all' INT TERM

# Wait until the set is over or the tracker ends on its own (a wrong command line, say).
while kill -0 "$standin_pid" 2>/dev/null && kill -0 "$tracker_pid" 2>/dev/null; do
  if [ -n "$live_pid" ] && ! kill -0 "$live_pid" 2>/dev/null; then
    # live refused its command line or could not start: say why where it is seen, after
    # the tracker's banner, and end the run as failed.
    live_status=0
    wait "$live_pid" || live_status=$?
    live_pid=
    stop_all
    wait "$tracker_pid" 2>/dev/null || true
    wait "$standin_pid" 2>/dev/null || true
    sleep 0.2 # the last lines through tee
    say "setlist live ended early (status $live_status):" >&2
    sed 's/^/    /' "$folder/setlist-live.log" >&2
    exit $((live_status == 0 ? 1 : live_status))
  fi
  sleep 0.2
done
if kill -0 "$tracker_pid" 2>/dev/null; then
  say "The set is over: stopping the tracker (Ctrl-C)"
fi
stop_all
status=0
wait "$tracker_pid" || status=$?
live_status=0
[ -z "$live_pid" ] || wait "$live_pid" || live_status=$?
wait "$standin_pid" 2>/dev/null || true
trap - INT TERM

shopt -s nullglob
playlists=("$folder"/Playlist_*.txt)
if [ "${#playlists[@]}" -eq 0 ]; then
  say "No playlist file was written (tracker status $status)"
  exit "$status"
fi
for playlist in "${playlists[@]}"; do
  # The playlist holds Latin-1 bytes; the terminal shows UTF-8.
  say "iconv -f LATIN1 -t UTF-8 $playlist"
  iconv -f LATIN1 -t UTF-8 "$playlist"
  setlog=${playlist%.txt}.jsonl
  if [ -e "$setlog" ]; then
    say "cat $setlog   (the set log: every character)"
    cat "$setlog"
  fi
  say "setlist tracklist $playlist"
  "$setlist" tracklist "$playlist" || true
done
if [ "$live_status" != 0 ]; then
  say "setlist live failed (status $live_status):" >&2
  sed 's/^/    /' "$folder/setlist-live.log" >&2
  exit "$live_status"
fi
if [ "$live" = 1 ]; then
  for file in now-playing.txt previous.txt; do
    [ -e "$folder/$file" ] && say "$file: $(cat "$folder/$file")"
  done
  say "The overlay page for a browser source: $folder/overlay.html"
fi
exit "$status"
