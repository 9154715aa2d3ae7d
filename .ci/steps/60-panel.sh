#!/usr/bin/env bash
# The front panel in a real browser: Debian's headless chromium, driven by
# puppeteer-core from the npm registry, against `zugen4 serve --sim` on a
# loopback port. Leaves build/ci/panel-screenshot.png (and -phone.png).
set -euo pipefail
root="$(pwd)"
command -v npm >/dev/null || { apt-get install -y --no-install-recommends npm; }
cmake --preset ci >/dev/null
cmake --build --preset ci --target zugen4
cd tools/serve/browser
PUPPETEER_SKIP_DOWNLOAD=1 npm ci --no-audit --no-fund --loglevel=error
node panel-test.mjs "$root/build/ci/tools/zugen4" "$root/build/ci/panel-screenshot.png"
