#!/usr/bin/env bash
# Remakes the README's picture of the status page (docs/status-page.png): the browser
# test's desktop screenshot of ten minutes of a drifting signal. Run it when the page
# changes.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build/host -G Ninja >/dev/null
cmake --build build/host --target mdmio mdmio-simmodem >/dev/null
scripts/browser-test.sh build/www-shots "host=$PWD/build/host/mdmio"
mkdir -p docs
cp build/www-shots/host-desktop.png docs/status-page.png
echo "docs/status-page.png: $(stat -c %s docs/status-page.png) bytes"
