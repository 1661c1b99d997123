#!/usr/bin/env bash
# The status page in a real browser. In a private mount and network namespace the
# simulated modem plays a Quectel RM520N on EN-DC with carriers whose network's name is
# markup; busybox httpd serves the page and its CGI, behind which each mdmio given runs
# (a binary, or an emulator and a binary). Headless Chromium loads the page: every value
# it shows must be what `mdmio -j status` gives for the same module, the network's name
# must show as its characters with no element made of it, and a port held by another
# program from the second answer on must show as a notice over the first answer's
# values. Then a screenshot of ten minutes of a drifting signal at desktop and at phone
# width for each.
#     scripts/browser-test.sh <output folder> <label>=<mdmio command>...
# Prints "browser: PASS|FAIL <label> <check>" lines and "browser: N passed, M failed".
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/private-world.sh
source scripts/lib/packages.sh
out=$1
[ -n "${MDMIO_PRIVATE_WORLD:-}" ] || mdmio_install_packages chromium busybox jq
mkdir -p "$out"
out=$(cd "$out" && pwd)
MDMIO_PRIVATE_NET=1 mdmio_enter_private_world "$@"
shift

hostile='<img src=x onerror=alert(1)>'
address=127.0.0.1:8080
mdmio_make_private_world
mdmio_attach_modem build/host/mdmio-simmodem --profile rm520-endc --operator "$hostile"
work=/var/page-test
mkdir -p "$work"
passed=0
failed=0
check() {  # label, what, condition...
  local label=$1 what=$2
  shift 2
  if "$@"; then
    echo "browser: PASS $label $what"
    passed=$((passed + 1))
  else
    echo "browser: FAIL $label $what"
    failed=$((failed + 1))
  fi
}

# The mdmio the CGI runs: the one under test; from the call that busy-from names on, the
# port is held by a live process first, as another program would hold it.
tool() {  # label, command
  mkdir -p "$work/$1"
  cat >"$work/$1/mdmio" <<TOOL
#!/bin/sh
calls=\$((\$(cat $work/calls 2>/dev/null || echo 0) + 1))
echo "\$calls" >$work/calls
if [ -e $work/busy-from ] && [ "\$calls" -ge "\$(cat $work/busy-from)" ] && [ ! -e /var/lock/LCK..ttyUSB8 ]; then
  sleep 600 </dev/null >/dev/null 2>&1 &
  echo \$! >$work/holder
  printf '%10d\n' \$! >/var/lock/LCK..ttyUSB8
fi
exec $2 "\$@"
TOOL
  chmod +x "$work/$1/mdmio"
}

# The page's own clock runs in virtual time: a page that asks every 2 s makes its
# second request in the first 4.5 s, and ten minutes of history take seconds.
budget=4500
browse() {  # what chromium does (--dump-dom, --screenshot=<file>), window size, address
  chromium --headless --no-sandbox --disable-gpu --disable-dev-shm-usage --no-first-run \
    --disable-background-networking --disable-component-update --disable-sync \
    --user-data-dir="$work/profile" --window-size="$2" --virtual-time-budget="$budget" \
    "$1" "$3" 2>>"$work/chromium.log"
}

# The document's values as the page marks them: data-field="carriers.1.band">3<, its
# text as the DOM holds it (&, <, > escaped).
shown_fields() {
  jq -r '.status | paths(scalars) as $p
    | select(($p[-1] | tostring) != "technology" and ($p[-1] | tostring) != "registration")
    | [($p | map(if type == "number" then . + 1 else . end | tostring) | join(".")),
       (getpath($p) | tostring)] | @tsv' |
    sed -e 's/&/\&amp;/g' -e 's/</\&lt;/g' -e 's/>/\&gt;/g' |
    awk -F '\t' '{ printf "data-field=\"%s\">%s<\n", $1, $2 }'
}

for given in "$@"; do
  label=${given%%=*}
  tool "$label" "${given#*=}"
  rm -f "$work/calls" "$work/busy-from"
  mdmio_serve_page "$address" "$work/$label"
  reference=$("$work/$label/mdmio" -j status)
  rm -f "$work/calls"
  echo 2 >"$work/busy-from"
  dom=$(browse --dump-dom 1280,1000 "http://$address/?every=2")
  [ ! -e "$work/holder" ] || { kill "$(cat "$work/holder")"; rm -f "$work/holder" /var/lock/LCK..ttyUSB8; }
  missing=$(shown_fields <<<"$reference" | while IFS= read -r mark; do
    grep -qF -- "$mark" <<<"$dom" || echo "$mark"
  done)
  check "$label" "shows every value of mdmio -j status" test -z "$missing"
  [ -z "$missing" ] || echo "$missing" | sed 's/^/    not shown: /'
  check "$label" "names every band in use" grep -qF 'data-field="bands">LTE B1 + B3 + n78<' <<<"$dom"
  check "$label" "shows the network's name as text" grep -qF '&lt;img src=x onerror=alert(1)&gt;' <<<"$dom"
  check "$label" "makes no element of it" test "$(grep -c '<img' <<<"$dom")" -eq 0
  check "$label" "shows a held port as a notice over the last values" \
    grep -qE '<p id="notice" role="alert">The modem is busy: lock file /var/lock/LCK..ttyUSB8 of pid [0-9]+ \(sleep\)\. The values below' <<<"$dom"
  # Pictures of ten minutes of a signal that drifts, in the browser's own time.
  budget=600000
  rm -f "$work/busy-from"
  kill "$mdmio_modem_pid"
  umount /dev/ttyUSB8
  mdmio_attach_modem build/host/mdmio-simmodem --profile rm520-endc --drift
  browse --screenshot="$out/$label-desktop.png" 1280,800 "http://$address/?every=5" >/dev/null
  browse --screenshot="$out/$label-phone.png" 360,2000 "http://$address/?every=5" >/dev/null
  check "$label" "saves screenshots at desktop and phone width" \
    test -s "$out/$label-desktop.png" -a -s "$out/$label-phone.png"
  kill "$mdmio_server_pid" "$mdmio_modem_pid"
  wait "$mdmio_server_pid" 2>/dev/null || true
  umount /dev/ttyUSB8
  budget=4500
  mdmio_attach_modem build/host/mdmio-simmodem --profile rm520-endc --operator "$hostile"
done
kill "$mdmio_modem_pid"
echo "browser: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
