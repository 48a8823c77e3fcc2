#!/usr/bin/env bash
# install_ace.sh: installs the accessibility checker the slow export tests
# run on the EPUB books the suite writes, with npm, into a folder of its own
# (VELLIX_ACE_HOME, ~/.cache/vellix-ace by default). It drives Debian's
# Chromium (scripts/install_browser.sh): no browser is downloaded. The
# checker is started as "$VELLIX_ACE_HOME/ace", a wrapper that points the
# browser driver at Chromium; as root Chromium runs only without its
# sandbox, which the wrapper's browser script then asks for.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
home="${VELLIX_ACE_HOME:-$HOME/.cache/vellix-ace}"
"$here/install_browser.sh"
if [ ! -x "$home/node_modules/.bin/ace-cli" ]; then
  mkdir -p "$home"
  echo "Installing the accessibility checker into $home"
  PUPPETEER_SKIP_DOWNLOAD=1 PUPPETEER_SKIP_CHROMIUM_DOWNLOAD=1 \
    npm install --prefix "$home" --no-audit --no-fund --loglevel=error @daisy/ace-cli >/dev/null
fi
cat >"$home/chromium" <<'SH'
#!/bin/sh
# Chromium refuses to run as root inside its sandbox.
if [ "$(id -u)" -eq 0 ]; then exec /usr/bin/chromium --no-sandbox "$@"; fi
exec /usr/bin/chromium "$@"
SH
cat >"$home/ace" <<SH
#!/bin/sh
export PUPPETEER_SKIP_DOWNLOAD=1
export PUPPETEER_EXECUTABLE_PATH="$home/chromium"
exec "$home/node_modules/.bin/ace-cli" "\$@"
SH
chmod +x "$home/chromium" "$home/ace"
