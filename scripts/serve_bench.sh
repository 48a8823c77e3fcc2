#!/usr/bin/env bash
# The shelf server's benchmark with its load tools: wrk and nginx-light are
# installed here, for the benchmark only, then serve-bench runs (loopback
# only, a few seconds a run).
set -euo pipefail
cd "$(dirname "$0")/.."
missing=()
for pkg in wrk nginx-light; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  # Installed for the benchmark only: nginx's own service must not start
  # (it would listen on every address); the benchmark starts its own on
  # loopback. A policy that forbids starting services is put in place for
  # the install when the machine has none.
  policy=/usr/sbin/policy-rc.d
  added_policy=0
  if [ ! -e "$policy" ]; then
    printf '#!/bin/sh\nexit 101\n' | $sudo tee "$policy" >/dev/null
    $sudo chmod +x "$policy"
    added_policy=1
  fi
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  [ "$added_policy" -eq 1 ] && $sudo rm -f "$policy"
fi
cmake --build build --target serve-bench
build/bin/serve-bench "$@"
