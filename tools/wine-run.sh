#!/usr/bin/env bash
# Runs a Windows program under Wine in a throw-away prefix shared by one test run.
# ZV_WINEPREFIX names the prefix; by default one under the system's temporary folder.
set -euo pipefail
export WINEPREFIX="${ZV_WINEPREFIX:-${TMPDIR:-/tmp}/zorvanthelix-wine}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="  # no Mono or Gecko installer prompts
if [ ! -d "$WINEPREFIX" ]; then
  mkdir -p "$WINEPREFIX"
  wineboot --init >/dev/null 2>&1 || true
fi
exec wine "$@"
