#!/usr/bin/env bash
# How long a call waits beside a script that calls mdmio in a loop: CALLS calls
# (default 20) of `mdmio AT+CSQ 2`, a random 0 to 0.3 s apart, while another caller
# runs `mdmio AT+CSQ 2` back to back, against the simulated modem in a private mount
# namespace. Prints each call's wall time (its own exchange, about 0.2 s, included),
# their median and the longest. Not a test. `wait.sh CALLS BINARY` measures another
# build of the tool.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/private-world.sh
calls=${1:-20}
binary=${2:-$PWD/build/bench/mdmio}

if [ -z "${MDMIO_PRIVATE_WORLD:-}" ]; then
  cmake -S . -B build/bench -G Ninja -DBUILD_TESTING=OFF -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build build/bench >/dev/null
fi
mdmio_enter_private_world "$calls" "$binary"
mdmio_make_private_world
mdmio_attach_modem build/bench/mdmio-simmodem

"$binary" AT 3 >/dev/null  # the first run writes the record file
(while :; do "$binary" AT+CSQ 2 >/dev/null; done) &
looper=$!
sleep 0.5
waits=()
for ((call = 0; call < calls; call++)); do
  sleep "0.$((RANDOM % 300))"
  start=$(date +%s%N)
  "$binary" AT+CSQ 2 >/dev/null || true
  waits+=($(( ($(date +%s%N) - start) / 1000000 )))
done
kill "$looper" "$mdmio_modem_pid" 2>/dev/null || true
wait 2>/dev/null || true
sorted=$(printf '%s\n' "${waits[@]}" | sort -n)
median=$(sed -n "$(( (calls + 1) / 2 ))p" <<<"$sorted")
echo "calls beside a looping caller (ms): ${waits[*]}"
echo "median $median ms, longest $(tail -n 1 <<<"$sorted") ms, of $calls calls"
