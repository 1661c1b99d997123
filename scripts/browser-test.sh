#!/usr/bin/env bash
# The status page in a real browser. In a private mount and network namespace the
# simulated modem plays a Quectel RM520N on EN-DC with carriers whose network's name is
# markup with a right-to-left override; busybox httpd serves the page and its CGI,
# behind which each mdmio given runs (a binary, or an emulator and a binary). Headless
# Chromium loads the page: every value it shows must be what `mdmio -j status
# --no-identifiers` gives for the same module (the IMEI, IMSI and ICCID withheld from a
# client the server did not let in), the network's name must show as its characters,
# isolated, with no element made of it; a port held by another program from the second
# answer on, or a document of the wrong shape, must show as a notice over the first
# answer's values; an address's slot and period are taken only in their exact forms;
# behind basic authentication the identities show; a burst of requests costs one
# status run. Then a screenshot of ten minutes of a drifting signal at desktop and at
# phone width for each.
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

rlo=$'\xe2\x80\xae'  # U+202E RIGHT-TO-LEFT OVERRIDE
hostile="<img src=x onerror=alert(1)>$rlo"
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

# The mdmio the CGI runs: the one under test, each call counted with its arguments; from
# the call that busy-from names on, the port is held by a live process first, as another
# program would hold it; from the one odd-from names on, a document of the wrong shape
# comes instead.
tool() {  # label, command
  mkdir -p "$work/$1"
  cat >"$work/$1/mdmio" <<TOOL
#!/bin/sh
calls=\$((\$(cat $work/calls 2>/dev/null || echo 0) + 1))
echo "\$calls" >$work/calls
echo "\$*" >>$work/arguments
if [ -e $work/odd-from ] && [ "\$calls" -ge "\$(cat $work/odd-from)" ]; then
  echo '{"slot":0,"status":{"technology":"__proto__","carriers":{"0":1}},"ms":1}'
  exit 0
fi
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

# Whether a text holds both patterns (extended regular expressions).
both() {  # text, pattern, pattern
  grep -qE -- "$2" <<<"$1" && grep -qE -- "$3" <<<"$1"
}

# The page loaded with the shared document expiring at once, so that every request of
# the page runs mdmio, and one call's trouble (a file naming it) from the second on.
browse_each_run_fresh() {  # trouble, address
  rm -f "$work/calls" "$work/arguments" "$work/busy-from" "$work/odd-from"
  echo 2 >"$work/$1"
  (while :; do rm -f /var/run/mdmio/status-?-*; sleep 0.05; done) &
  local expiring=$!
  browse --dump-dom 1280,1000 "$2"
  kill "$expiring"
  rm -f "$work/$1"
  [ ! -e "$work/holder" ] || { kill "$(cat "$work/holder")"; rm -f "$work/holder" /var/lock/LCK..ttyUSB8; }
}

for given in "$@"; do
  label=${given%%=*}
  tool "$label" "${given#*=}"
  rm -f "$work/calls" "$work/busy-from" "$work/odd-from"
  mdmio_serve_page "$address" "$work/$label"
  reference=$("$work/$label/mdmio" -j status --no-identifiers)
  dom=$(browse_each_run_fresh busy-from "http://$address/?every=2")
  missing=$(shown_fields <<<"$reference" | while IFS= read -r mark; do
    grep -qF -- "$mark" <<<"$dom" || echo "$mark"
  done)
  check "$label" "shows every value of mdmio -j status" test -z "$missing"
  [ -z "$missing" ] || echo "$missing" | sed 's/^/    not shown: /'
  check "$label" "names every band in use" grep -qF 'data-field="bands">LTE B1 + B3 + n78<' <<<"$dom"
  check "$label" "shows the network's name as text, isolated" \
    grep -qF "<bdi data-field=\"operator\">&lt;img src=x onerror=alert(1)&gt;$rlo</bdi>" <<<"$dom"
  check "$label" "makes no element of it" test "$(grep -c '<img' <<<"$dom")" -eq 0
  check "$label" "withholds the identities from anyone" \
    grep -qF 'data-field="imei">–</bdi>' <<<"$dom"
  check "$label" "shows a held port as a notice over the last values" \
    grep -qE '<p id="notice" role="alert">The modem.s port is busy: another program is using it\. The values below' <<<"$dom"
  dom=$(browse_each_run_fresh odd-from "http://$address/?every=2")
  check "$label" "shows a document of the wrong shape as a notice over the last values" \
    both "$dom" "<p id=\"notice\" role=\"alert\">The router sent a document this page can.t read\. The values below" \
    'data-field="band">1<' 
  dom=$(browse_each_run_fresh none "http://$address/?slot=2&every=1e3")
  check "$label" "takes the slot only in its exact form and names it" \
    test "$(grep -c . "$work/arguments")" -eq 1 -a "$(cut -d' ' -f1,2 "$work/arguments")" = "-s 0" \
    -a -n "$(grep -F '<span id="slot">Slot 0</span>' <<<"$dom")"
  # A burst of clients at once: one status run.
  rm -f "$work/calls" /var/run/mdmio/status-?-*
  clients=()
  for _ in $(seq 30); do
    busybox wget -q -O /dev/null "http://$address/cgi-bin/mdmio-status?slot=0" &
    clients+=($!)
  done
  wait "${clients[@]}" || true
  check "$label" "costs one status run for a burst of 30 requests" test "$(cat "$work/calls")" -eq 1
  kill "$mdmio_server_pid"
  wait "$mdmio_server_pid" 2>/dev/null || true
  # Behind the server's basic authentication the identities show.
  echo '/:admin:secret' >"$work/httpd.conf"
  mdmio_serve_page "$address" "$work/$label" "$work/httpd.conf"
  dom=$(browse --dump-dom 1280,1000 "http://admin:secret@$address/?every=2")
  check "$label" "shows the identities to a client the server let in" \
    grep -qF 'data-field="imei">869710030123456<' <<<"$dom"
  kill "$mdmio_server_pid"
  wait "$mdmio_server_pid" 2>/dev/null || true
  mdmio_serve_page "$address" "$work/$label"
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
