#!/usr/bin/env bash
# install_epubcheck.sh: installs Debian's EPUB validator for the tests that
# check the EPUB books the suite writes. It is a validator the tests run,
# not part of the build, so it is kept out of VELLIX_PACKAGES.
set -euo pipefail
dpkg-query -W -f='${Status}' epubcheck 2>/dev/null | grep -q "install ok installed" && exit 0
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends epubcheck >/dev/null
