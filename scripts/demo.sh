#!/usr/bin/env bash
# Builds mdmio and runs real exchanges through it against a simulated modem, inside a
# private mount namespace whose /dev, /var and USB serial table are the demo's own:
# the machine's own /var/lock and devices are never touched.
set -euo pipefail
cd "$(dirname "$0")/.."
commands=("$@")
[ ${#commands[@]} -gt 0 ] || commands=(ATI AT+CSQ)

if [ -z "${MDMIO_DEMO_INSIDE:-}" ]; then
  if ! command -v cmake >/dev/null || ! command -v ninja >/dev/null || ! command -v g++ >/dev/null; then
    echo "== installing the build tools" >&2
    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends cmake ninja-build g++ >&2
  fi
  cmake -S . -B build/demo -G Ninja -DBUILD_TESTING=OFF >/dev/null
  cmake --build build/demo >/dev/null
  namespace=(unshare --mount --propagation private)
  [ "$(id -u)" -eq 0 ] || namespace=(unshare --user --map-root-user --mount --propagation private)
  exec env MDMIO_DEMO_INSIDE=1 "${namespace[@]}" "$0" "${commands[@]}"
fi

# Inside the namespace: the fixed paths of the tool become the demo's own.
mount -t tmpfs demo /var
mkdir -p /var/lock /var/data/plmnWhitelist /var/.host-dev
mount --rbind /dev /var/.host-dev
mount -t tmpfs demo /dev
mkdir /dev/pts
mount -t devpts -o newinstance,ptmxmode=0666,mode=0620 devpts /dev/pts
ln -s pts/ptmx /dev/ptmx
for device in null zero urandom; do
  touch /dev/$device && mount --bind /var/.host-dev/$device /dev/$device
done
umount -l /var/.host-dev
# The kernel lists the modem as a Quectel EC25 on USB serial port 6.
mount -t tmpfs demo /proc/tty/driver
echo '6: name:"option1" vendor:2c7c product:0125 model:"EC25" num_ports:1 port:0' \
  > /proc/tty/driver/usbserial

coproc modem { exec build/demo/mdmio-simmodem; }
read -r line <&"${modem[0]}"
touch /dev/ttyUSB8 && mount --bind "$line" /dev/ttyUSB8
echo "simulated modem on /dev/ttyUSB8 ($line)"
for command in "${commands[@]}"; do
  echo "\$ mdmio $command 3"
  build/demo/mdmio "$command" 3
done
echo "module ID recorded: $(cat /var/data/plmnWhitelist/module_0_id)"
kill "$modem_PID"
