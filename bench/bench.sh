#!/usr/bin/env bash
# Benchmark of one mdmio run against an instantly answering simulated modem, in a
# private mount namespace: medians over RUNS runs (default 30) of wall time, CPU time
# and peak RSS, beside a C "hello world" started the same way; a 64 KiB flood; four
# commands in one call beside four calls; a status page of fifteen commands in one
# call, with and without -f, on the instant modem and on one that takes 10 ms over
# each answer; the status job beside the page a script makes of raw replies on that
# modem; and the AArch64 binary's run-time needs and section sizes. Not a test: it
# prints figures and says which targets they meet.
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
# A status page: what a router's page asks every few seconds.
page=()
for command in AT+CSQ AT+COPS? AT+CPIN? AT+CREG? AT+CEREG? AT+CGREG? AT+QTEMP AT+QNWINFO \
    'AT+QENG="servingcell"' AT+QCAINFO AT+QSPN AT+CIMI AT+CGSN AT+QCCID AT+CGPADDR=1; do
  page+=("$command" 2)
done
read -r one_f_wall one_f_cpu _ < <(measure "$PWD/build/bench/mdmio" -f AT 1)
read -r page_f_wall page_f_cpu _ < <(measure "$PWD/build/bench/mdmio" -f "${page[@]}")
read -r page_wall page_cpu _ < <(measure "$PWD/build/bench/mdmio" "${page[@]}")
read -r status_wall status_cpu _ < <(measure "$PWD/build/bench/mdmio" -j status)
# The status page a shell script makes of the raw replies: fifteen pairs with -f, each
# value picked out of its line.
recipe="build/bench/mdmio -f $(printf "'%s' " "${page[@]}") | tr -d '\\r' | grep '^+' >/dev/null"
kill "$mdmio_modem_pid"
umount /dev/ttyUSB8
mdmio_attach_modem build/bench/mdmio-simmodem --answer-ms 10
slow_runs=$(( runs < 5 ? runs : 5 ))
read -r slow_f_wall _ _ < <(build/bench/measure "$runs" "$PWD/build/bench/mdmio" -f "${page[@]}")
read -r slow_wall _ _ < <(build/bench/measure "$slow_runs" "$PWD/build/bench/mdmio" "${page[@]}")
read -r slow_status_wall _ _ < <(build/bench/measure "$runs" "$PWD/build/bench/mdmio" -j status)
read -r slow_recipe_wall _ _ < <(build/bench/measure "$runs" /bin/sh -c "$recipe")
kill "$mdmio_modem_pid"
# The commands a status of the simulated EC25 sends: the check that the line is in step,
# the standard ones and Quectel's, each answered in the modem's time.
status_commands=18

verdict() { awk -v v="$1" -v t="$2" 'BEGIN { print (v <= t) ? "meets" : "MISSES" }'; }
overhead=$(awk -v w="$at_wall" -v h="$hello_wall" 'BEGIN { printf "%.2f", w - 200 - h }')
rss_ratio=$(awk -v a="$at_rss" -v h="$hello_rss" 'BEGIN { printf "%.2f", a / h }')
per_command=$(awk -v p="$page_f_wall" -v o="$one_f_wall" 'BEGIN { printf "%.3f", (p - o) / 14 }')
slow_over=$(awk -v p="$slow_f_wall" -v o="$one_f_wall" 'BEGIN { printf "%.3f", (p - 150 - o) / 14 }')
status_over=$(awk -v p="$slow_status_wall" -v o="$one_f_wall" -v n="$status_commands" \
  'BEGIN { printf "%.3f", (p - 10 * n - o) / (n - 1) }')
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
echo "| \`mdmio -f AT 1\`: wall / user+sys CPU | $one_f_wall ms / $one_f_cpu ms | |"
echo "| status page, 15 commands in one call, -f: wall / user+sys CPU | $page_f_wall ms / $page_f_cpu ms | |"
echo "| the same without -f | $page_wall ms / $page_cpu ms | |"
echo "| -f: each command past the first, over \`mdmio -f AT 1\` | $per_command ms | <= 1 ms: $(verdict "$per_command" 1) |"
echo "| modem taking 10 ms an answer: status page with -f / without (medians of $runs / $slow_runs runs) | $slow_f_wall ms / $slow_wall ms | |"
echo "| -f on that modem: each command past the first, over its 10 ms and \`mdmio -f AT 1\` | $slow_over ms | <= 1 ms: $(verdict "$slow_over" 1) |"
echo "| \`mdmio -j status\` ($status_commands commands, decoded): wall / user+sys CPU | $status_wall ms / $status_cpu ms | |"
echo "| on the 10 ms modem: \`mdmio -j status\` / the raw page of 15 pairs with -f, picked out by the shell | $slow_status_wall ms / $slow_recipe_wall ms | |"
echo "| status on that modem: each command past the first, over its 10 ms and \`mdmio -f AT 1\` | $status_over ms | <= 1 ms: $(verdict "$status_over" 1) |"
echo "| AArch64 binary NEEDED | $needed| libc.so.6 only |"
echo
echo "AArch64 sections (bytes):"
aarch64-linux-gnu-size -A build/aarch64/mdmio | awk '$2 > 0 && $1 ~ /^\./ { printf "  %-20s %s\n", $1, $2 }'
