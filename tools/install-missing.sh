#!/usr/bin/env bash
# Installs those of the Debian packages named that are not installed yet (as
# root, or with sudo). Says nothing when every one is there.
set -euo pipefail
missing=()
for p in "$@"; do
  # The whole output first: under pipefail a `grep -q` that stops reading
  # early could fail the pipe and count an installed package as missing.
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null) || status=
  [ "$status" = "install ok installed" ] || missing+=("$p")
done
((${#missing[@]})) || exit 0
echo "installing: ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
# Bounded, so that a mirror that stops answering ends the run with an error.
timeout 600 "${sudo_cmd[@]}" apt-get update -qq
timeout 3600 "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive \
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
