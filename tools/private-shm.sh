#!/bin/sh
# Runs a command in a mount namespace of its own with an empty /dev/shm, so that the
# shared blocks of the tracker and the stand-in (fixed names) meet neither a DJ
# application's nor those of another test running at the same time. Needs root (or the
# right to make a mount namespace); CMake registers the tests through this script only
# where a probe at configure time found that it works, and otherwise runs them one at a
# time. `private-shm.sh --probe` is that probe.
set -eu
if [ "${1-}" = --probe ]; then
  exec unshare --mount --propagation private sh -c 'mount -t tmpfs tmpfs /dev/shm' 2>/dev/null
fi
exec unshare --mount --propagation private \
  sh -c 'mount -t tmpfs -o mode=1777 tmpfs /dev/shm && exec "$@"' sh "$@"
