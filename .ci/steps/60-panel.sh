#!/usr/bin/env bash
# The front panel in a real browser: Debian's headless chromium, driven by
# puppeteer-core from the npm registry, against `zugen4 serve --sim` on a
# loopback port. Leaves build/ci/panel-screenshot.png (and -phone.png).
set -euo pipefail
root="$(pwd)"
command -v npm >/dev/null || { apt-get install -y --no-install-recommends npm; }
cmake --preset ci >/dev/null
cmake --build --preset ci --target zugen4
# Every command loads what the program links: no TLS or compression for a
# panel that serves plain HTTP on its own loop.
if ldd build/ci/tools/zugen4 | grep -E 'libssl|libcrypto|libz\.|brotli'; then
  echo "zugen4 links TLS or compression libraries it does not use" >&2
  exit 1
fi
cd tools/serve/browser
PUPPETEER_SKIP_DOWNLOAD=1 npm ci --no-audit --no-fund --loglevel=error
node panel-test.mjs "$root/build/ci/tools/zugen4" "$root/build/ci/panel-screenshot.png"
