# Shell functions shared by the demo and the benchmark: a private mount namespace in
# which mdmio's fixed paths (/dev, /var, the USB serial table) are the script's own,
# and a simulated modem on /dev/ttyUSB8. The machine's own files are never touched.

# Runs the calling script again, with its arguments, inside the namespace.
mdmio_enter_private_world() {
  [ -n "${MDMIO_PRIVATE_WORLD:-}" ] && return 0
  local namespace=(unshare --mount --propagation private)
  [ "$(id -u)" -eq 0 ] || namespace=(unshare --user --map-root-user --mount --propagation private)
  exec env MDMIO_PRIVATE_WORLD=1 "${namespace[@]}" "$0" "$@"
}

# Fresh /var (lock and record directories), /dev (own ptys, null devices) and a USB
# serial table that lists a Quectel EC25 on port 6.
mdmio_make_private_world() {
  mount -t tmpfs mdmio /var
  mkdir -p /var/lock /var/data/plmnWhitelist /var/.host-dev
  mount --rbind /dev /var/.host-dev
  mount -t tmpfs mdmio /dev
  mkdir /dev/pts
  mount -t devpts -o newinstance,ptmxmode=0666,mode=0620 devpts /dev/pts
  ln -s pts/ptmx /dev/ptmx
  ln -s /proc/self/fd /dev/fd
  local device
  for device in null zero urandom; do
    touch /dev/$device && mount --bind /var/.host-dev/$device /dev/$device
  done
  umount -l /var/.host-dev
  mount -t tmpfs mdmio /proc/tty/driver
  echo '6: name:"option1" vendor:2c7c product:0125 model:"EC25" num_ports:1 port:0' \
    > /proc/tty/driver/usbserial
}

# Starts the simulated modem (path of its binary in $1, its options after it) and makes
# its line /dev/ttyUSB8; sets mdmio_modem_pid and mdmio_modem_line.
mdmio_attach_modem() {
  coproc mdmio_modem { exec "$@"; }
  mdmio_modem_pid=$mdmio_modem_PID
  read -r mdmio_modem_line <&"${mdmio_modem[0]}"
  touch /dev/ttyUSB8 && mount --bind "$mdmio_modem_line" /dev/ttyUSB8
}
