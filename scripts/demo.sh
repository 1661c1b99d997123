#!/usr/bin/env bash
# Builds mdmio and shows it run.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build/host -G Ninja -DBUILD_TESTING=OFF >/dev/null
cmake --build build/host >/dev/null
build/host/mdmio || true
echo
