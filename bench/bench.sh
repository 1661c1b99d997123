#!/usr/bin/env bash
# Benchmark of one mdmio run against an instantly answering simulated modem, in a
# private mount namespace: medians over RUNS runs (default 30) of wall time, CPU time
# and peak RSS, beside a C "hello world" started the same way; a 64 KiB flood; four
# commands in one call beside four calls; and the AArch64 binary's run-time needs and
# section sizes. Not a test: it prints figures and says which targets they meet.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/private-world.sh
runs=${1:-30}

if [ -z "${MDMIO_PRIVATE_WORLD:-}" ]; then
  cmake -S . -B build/bench -G Ninja -DBUILD_TESTING=OFF -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build build/bench >/dev/null
  g++ -O2 -o build/bench/measure bench/measure.cpp
  gcc -O2 -o build/bench/hello bench/hello.c
  if [ ! -x build/aarch64/mdmio ]; then
    cmake -S . -B build/aarch64 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-aarch64.cmake >/dev/null
    cmake --build build/aarch64 --target mdmio >/dev/null
  fi
fi
mdmio_enter_private_world "$runs"
mdmio_make_private_world
mdmio_attach_modem build/bench/mdmio-simmodem

measure() { build/bench/measure "$runs" "$@"; }
build/bench/mdmio AT 3 >/dev/null  # the first run writes the record file
read -r hello_wall hello_cpu hello_rss < <(measure "$PWD/build/bench/hello")
read -r at_wall at_cpu at_rss < <(measure "$PWD/build/bench/mdmio" AT 3)
read -r flood_wall flood_cpu flood_rss < <(measure "$PWD/build/bench/mdmio" AT+FLOOD 3)
# Four commands under one claim of the port, beside four calls of one command each
# (four times the median of one call).
read -r four_wall four_cpu four_rss < <(measure "$PWD/build/bench/mdmio" AT 3 AT 3 AT 3 AT 3)
calls_wall=$(awk -v w="$at_wall" 'BEGIN { printf "%.2f", 4 * w }')
calls_cpu=$(awk -v c="$at_cpu" 'BEGIN { printf "%.3f", 4 * c }')
kill "$mdmio_modem_pid"

verdict() { awk -v v="$1" -v t="$2" 'BEGIN { print (v <= t) ? "meets" : "MISSES" }'; }
overhead=$(awk -v w="$at_wall" -v h="$hello_wall" 'BEGIN { printf "%.2f", w - 200 - h }')
rss_ratio=$(awk -v a="$at_rss" -v h="$hello_rss" 'BEGIN { printf "%.2f", a / h }')
needed=$(readelf -d build/aarch64/mdmio | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | tr '\n' ' ')

echo "mdmio benchmark, medians of $runs runs, $(uname -m), $(nproc) cores, $(date -u +%F)"
echo "| figure | value | target |"
echo "|---|---|---|"
echo "| hello world: wall / CPU / peak RSS | $hello_wall ms / $hello_cpu ms / $hello_rss KiB | |"
echo "| \`mdmio AT 3\` wall time | $at_wall ms | |"
echo "| overhead over the 200 ms silence floor, hello world's start-up subtracted | $overhead ms | <= 3 ms: $(verdict "$overhead" 3) |"
echo "| \`mdmio AT 3\` user+sys CPU | $at_cpu ms | <= 2 ms: $(verdict "$at_cpu" 2) |"
echo "| \`mdmio AT 3\` peak RSS | $at_rss KiB ($rss_ratio x hello world) | <= 1.35 x: $(verdict "$rss_ratio" 1.35) |"
echo "| 64 KiB flood: wall / user+sys CPU | $flood_wall ms / $flood_cpu ms | CPU <= 5 ms: $(verdict "$flood_cpu" 5) |"
echo "| four commands in one call: wall / user+sys CPU | $four_wall ms / $four_cpu ms | |"
echo "| four calls of one command: wall / user+sys CPU | $calls_wall ms / $calls_cpu ms | |"
echo "| AArch64 binary NEEDED | $needed| libc.so.6 only |"
echo
echo "AArch64 sections (bytes):"
aarch64-linux-gnu-size -A build/aarch64/mdmio | awk '$2 > 0 && $1 ~ /^\./ { printf "  %-20s %s\n", $1, $2 }'
