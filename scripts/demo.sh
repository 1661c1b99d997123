#!/usr/bin/env bash
# Builds mdmio and shows it run.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build/demo -G Ninja -DBUILD_TESTING=OFF >/dev/null
cmake --build build/demo >/dev/null
build/demo/mdmio || true
echo
