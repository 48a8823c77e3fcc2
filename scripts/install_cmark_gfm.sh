#!/usr/bin/env bash
# install_cmark_gfm.sh: installs Debian's GitHub Markdown converter for the
# test that compares the words and links of published Markdown with its
# HTML. It is a reference the test runs, not part of the build, so it is
# kept out of VELLIX_PACKAGES.
set -euo pipefail
dpkg-query -W -f='${Status}' cmark-gfm 2>/dev/null | grep -q "install ok installed" && exit 0
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends cmark-gfm >/dev/null
