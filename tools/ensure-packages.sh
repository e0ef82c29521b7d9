#!/usr/bin/env bash
# Installs the Debian packages named as arguments that are missing (as root, with apt-get).
# Sourced or run by run.sh and test.sh.
set -euo pipefail

missing=()
for package in "$@"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "==> installing missing packages: ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  echo "error: these packages are missing and installing them needs root: ${missing[*]}" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
