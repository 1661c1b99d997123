#!/usr/bin/env bash
# Contention soak (not a test): K processes of the real binary start together, R rounds
# in a row, each round over a lock left by a dead process, against a simulated modem
# that tags every answer with the command it answers (mdmio-simmodem --tag). Each
# caller sends a command of its own; it counts answers that came back right, answers
# lost (BUSY, the time-out text, nothing), answers that went to the wrong caller, and
# double holders: commands the modem got while the previous caller could still be
# listening. Runs in a private mount namespace, as the benchmark does.
# Usage: bench/soak.sh [K] [R]   (defaults: 8 contenders, 1000 rounds)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/private-world.sh
contenders=${1:-8}
rounds=${2:-1000}
bin=build/bench

if [ -z "${MDMIO_PRIVATE_WORLD:-}" ]; then
  cmake -S . -B "$bin" -G Ninja -DBUILD_TESTING=OFF -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$bin" >/dev/null
fi
mdmio_enter_private_world "$contenders" "$rounds"
mdmio_make_private_world
work=$(mktemp -d /var/soak.XXXXXX)
mdmio_attach_modem "$bin/mdmio-simmodem" --tag 2>"$work/modem.log"

lock=/var/lock/LCK..ttyUSB8
right=0 lost=0 wrong=0
start=$(date +%s)
for ((round = 1; round <= rounds; round++)); do
  sleep 0 &
  dead=$!
  wait "$dead"
  printf '%10d\n' "$dead" >"$lock"
  # Every contender waits for a line on one pipe; K lines at once let them all go.
  mkfifo "$work/go"
  exec 3<>"$work/go"
  rm "$work/go"
  callers=()
  for ((k = 1; k <= contenders; k++)); do
    (read -r _ <&3; exec 3<&- "$bin/mdmio" "AT+SOAK=$round.$k" 5 >"$work/out.$k") &
    callers+=($!)
  done
  printf '%*s' "$contenders" '' | tr ' ' '\n' >&3
  wait "${callers[@]}" || true
  exec 3<&-
  for ((k = 1; k <= contenders; k++)); do
    answer=$(cat "$work/out.$k"; echo .)
    if [ "$answer" = $'\r\n+TAG: AT+SOAK='"$round.$k"$'\r\n\r\nOK\r\n\n.' ]; then
      right=$((right + 1))
    elif grep -q '+TAG: ' "$work/out.$k"; then
      wrong=$((wrong + 1))
      echo "round $round, caller $k got another's answer: $(printf '%q' "${answer%.}")"
    else
      lost=$((lost + 1))
      echo "round $round, caller $k lost its answer: $(printf '%q' "${answer%.}")"
    fi
  done
  [ $((round % 100)) -ne 0 ] || echo "round $round: $right right, $lost lost, $wrong wrong so far"
done
kill "$mdmio_modem_pid"
wait "$mdmio_modem_pid" 2>/dev/null || true
double=$(grep -c 'overlap' "$work/modem.log" || true)
grep 'overlap' "$work/modem.log" | head -n 5 || true
echo "soak: $contenders contenders x $rounds rounds in $(( $(date +%s) - start )) s on $(nproc) cores:" \
  "$right answers right, $lost lost, $wrong to the wrong caller, $double double holders"
