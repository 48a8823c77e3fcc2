#!/usr/bin/env bash
# install_calibre.sh: installs the e-book converter epub-bench compares
# against. Only the benchmark needs it; the build and the tests never do.
set -euo pipefail
command -v ebook-convert >/dev/null && exit 0
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends calibre >/dev/null
