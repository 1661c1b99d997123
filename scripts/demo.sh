#!/usr/bin/env bash
# Builds mdmio and runs real exchanges and jobs through it against a simulated modem, inside a
# private mount namespace whose /dev, /var and USB serial table are the demo's own:
# the machine's own /var/lock and devices are never touched. `demo.sh --web` serves the
# status page over it instead.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/private-world.sh
source scripts/lib/packages.sh
# With --web it serves the status page instead, on 127.0.0.1:8080, until Ctrl-C.
commands=("$@")
[ ${#commands[@]} -gt 0 ] || commands=(ATI AT+CSQ)

if [ -z "${MDMIO_PRIVATE_WORLD:-}" ]; then
  mdmio_install_packages cmake ninja-build g++ jq busybox
  cmake -S . -B build/demo -G Ninja -DBUILD_TESTING=OFF >/dev/null
  cmake --build build/demo >/dev/null
fi
mdmio_enter_private_world "${commands[@]}"

if [ "${commands[0]}" = --web ]; then
  # The page of a Quectel RM520N on EN-DC with carriers, its signal drifting from answer
  # to answer; the CGI runs the demo's own mdmio. Ctrl-C ends the server and the modem,
  # and the namespace goes with them.
  mdmio_make_private_world
  mdmio_attach_modem build/demo/mdmio-simmodem --profile rm520-endc --drift
  mkdir -p /var/demo-bin
  ln -s "$PWD/build/demo/mdmio" /var/demo-bin/mdmio
  trap 'kill "${mdmio_server_pid:-}" "$mdmio_modem_pid" 2>/dev/null; echo; exit 0' INT TERM
  mdmio_serve_page 127.0.0.1:8080 /var/demo-bin
  echo "The modem's status page: http://127.0.0.1:8080/ (Ctrl-C stops it)"
  wait "$mdmio_server_pid"
  exit 0
fi

mdmio_make_private_world
mdmio_attach_modem build/demo/mdmio-simmodem
echo "simulated modem on /dev/ttyUSB8 ($mdmio_modem_line)"
for command in "${commands[@]}"; do
  echo "\$ mdmio $command 3"
  build/demo/mdmio "$command" 3
done
# Several exchanges under one claim of the port: an SMS in text mode, whose answer
# comes a second after the text, and a USSD request, whose answer follows its OK.
echo "\$ mdmio AT+CMGF=1 3 'AT+CMGS=\"+15551234567\"' 5 \"Hello, world\$(printf '\\032')\" 30 \\"
echo "        'AT+CUSD=1,\"*100#\",15' 5 '' 30"
build/demo/mdmio AT+CMGF=1 3 'AT+CMGS="+15551234567"' 5 "Hello, world$(printf '\032')" 30 \
  'AT+CUSD=1,"*100#",15' 5 '' 30
# The status page: every value a router's page shows, decoded, in one call under one
# claim of the port; then one value picked out of the document.
echo "\$ mdmio status"
start=$(date +%s%N)
build/demo/mdmio status
echo "(status of a Quectel EC25: $(( ($(date +%s%N) - start) / 1000000 )) ms)"
echo "\$ mdmio -j status | jq .status.rsrp_dbm"
build/demo/mdmio -j status | jq .status.rsrp_dbm
# SMS and USSD in any language, in PDU mode: the stored messages decoded and merged, a
# long message in Cyrillic sent in two parts, and a USSD menu in UCS-2 walked.
echo "\$ mdmio sms list"
build/demo/mdmio sms list
echo "\$ mdmio sms send +79161234567 'Привет! ...'"
build/demo/mdmio sms send +79161234567 \
  "Привет! Это длинное сообщение, которое не поместится в одну часть, потому что в нём больше семидесяти знаков."
echo "\$ mdmio ussd '*101#' 1"
build/demo/mdmio ussd '*101#' 1
echo "module ID recorded: $(cat /var/data/plmnWhitelist/module_0_id)"
kill "$mdmio_modem_pid"
