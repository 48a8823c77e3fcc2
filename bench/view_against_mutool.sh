#!/bin/sh
# The view benchmark against mutool, which only this benchmark needs: it
# installs Debian's mupdf-tools when mutool is missing, then runs
# `vellix-bench --only view,proof` from the top of the repository.
set -eu
cd "$(dirname "$0")/.."
if [ ! -x /usr/bin/mutool ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "mutool is missing: run as root, or apt-get install mupdf-tools" >&2
    exit 1
  fi
  apt-get install -y --no-install-recommends mupdf-tools
fi
exec build/bin/vellix-bench --only view,proof "$@"
