# Shell functions shared by the demo and the benchmark: a private mount namespace in
# which mdmio's fixed paths (/dev, /var, the USB serial table) are the script's own,
# and a simulated modem on /dev/ttyUSB8. The machine's own files are never touched.

# Runs the calling script again, with its arguments, inside the namespace; with
# MDMIO_PRIVATE_NET=1 in a network namespace of its own too, with only a loopback.
mdmio_enter_private_world() {
  [ -n "${MDMIO_PRIVATE_WORLD:-}" ] && return 0
  local namespace=(unshare --mount --propagation private)
  [ "$(id -u)" -eq 0 ] || namespace=(unshare --user --map-root-user --mount --propagation private)
  [ -z "${MDMIO_PRIVATE_NET:-}" ] || namespace+=(--net)
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

# Serves the status page and its CGI (www/) with busybox httpd on the address given
# ($1, as 127.0.0.1:8080), the CGI finding mdmio in the folder $2 first, with the
# httpd.conf given in $3 if any (basic authentication); sets mdmio_server_pid once the
# server answers.
mdmio_serve_page() {
  [ -z "${MDMIO_PRIVATE_NET:-}" ] || busybox ip link set lo up
  rm -rf /var/www && cp -r www /var/www
  local conf=()
  [ -z "${3:-}" ] || conf=(-c "$3")
  PATH="$2:$PATH" busybox httpd -f -p "$1" -h /var/www "${conf[@]}" &
  mdmio_server_pid=$!
  local tries=100
  until busybox wget -q -O /dev/null "http://$1/index.html" 2>/dev/null ||
      [[ $(busybox wget -O /dev/null "http://$1/index.html" 2>&1) == *" 401 "* ]]; do
    tries=$((tries - 1))
    [ $tries -gt 0 ] || { echo "the page is not served on $1" >&2; return 1; }
    sleep 0.1
  done
}
