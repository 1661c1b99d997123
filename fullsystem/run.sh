#!/usr/bin/env bash
# The full-system lane: boots Debian 12's own arm64 kernel under qemu-system-aarch64
# (TCG, machine virt, Cortex-A57, 512 MiB, no display, no network) with a small
# initramfs, and runs there, natively on a real AArch64 kernel, every AArch64 test
# binary of build/aarch64 and the checks only a real kernel can show: the kernel's
# own USB serial table and the option and cdc_acm drivers, bound to USB gadgets on
# dummy_hcd that the simulated modem answers for; then the tests that start the tool
# again, against the static build of build/aarch64-static. The kernel and busybox
# come from Debian's archive as packages, unpacked here, never installed on this
# machine.
# Prints one line per test and, last, "fullsystem: N passed, M failed, K skipped";
# exits 1 when a test failed or the guest did not finish.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/packages.sh
work=build/fullsystem
build=build/aarch64
static=$PWD/build/aarch64-static/mdmio

mdmio_install_packages cmake ninja-build g++-aarch64-linux-gnu qemu-user googletest \
  qemu-system-arm kmod cpio musl-dev:arm64
[ -f "$build/build.ninja" ] ||
  cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-aarch64.cmake >/dev/null
cmake --build "$build" >/dev/null
[ -f build/aarch64-static/build.ninja ] || cmake -S . -B build/aarch64-static -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-aarch64-musl.cmake >/dev/null
cmake --build build/aarch64-static >/dev/null

# The kernel that linux-image-arm64 depends on today (old ones leave the archive),
# and the guest's shell and tools, both for arm64.
fetch_guest_packages() {
  dpkg --print-foreign-architectures | grep -qx arm64 || dpkg --add-architecture arm64
  local kernel
  kernel=$(apt-cache depends linux-image-arm64:arm64 2>/dev/null |
           sed -n 's/^ *Depends: \(linux-image-[^:]*\).*/\1/p' | head -n 1)
  [ -n "$kernel" ] && (cd "$work/debs" && apt-get download -q "$kernel:arm64" busybox-static:arm64)
}
rm -rf "$work"
mkdir -p "$work/debs" "$work/unpacked" "$work/root"
if ! fetch_guest_packages >"$work/fetch.log" 2>&1; then
  apt-get update -qq
  fetch_guest_packages >"$work/fetch.log" 2>&1 || { cat "$work/fetch.log" >&2; exit 1; }
fi
for deb in "$work"/debs/*.deb; do dpkg-deb -x "$deb" "$work/unpacked"; done
vmlinuz=$(ls "$work"/unpacked/boot/vmlinuz-*)
modules=$(ls -d "$work"/unpacked/lib/modules/*)
echo "== fullsystem: $(basename "$vmlinuz"), busybox $(dpkg-deb --field "$work"/debs/busybox*.deb Version)"

root=$work/root
mkdir -p "$root"/{bin,dev,proc,sys,tmp,lib,modules,var/lock,var/data/plmnWhitelist}
cp "$work/unpacked/bin/busybox" "$root/bin/"
cp fullsystem/init "$root/init"

# Modules in an order that loads each after what its depends= field names.
declare -A module_file=() module_loaded=()
while read -r file; do
  name=$(basename "$file" .ko)
  module_file[${name//-/_}]=$file
done < <(find "$modules" -name '*.ko')
load_order=()
add_module() {
  local key=${1//-/_} dependency
  [ -n "${module_loaded[$key]:-}" ] && return
  module_loaded[$key]=1
  for dependency in $(modinfo -F depends "${module_file[$key]}" | tr ',' ' '); do
    add_module "$dependency"
  done
  cp "${module_file[$key]}" "$root/modules/"
  load_order+=("$(basename "${module_file[$key]}")")
}
# The gadget side (dummy_hcd, configfs, gser, acm, Loopback) and the host side
# drivers routers use for their modems.
for module in dummy_hcd usb_f_serial usb_f_acm usb_f_ss_lb option cdc_acm; do
  add_module "$module"
done
printf '%s\n' "${load_order[@]}" >"$root/modules/order"

# The AArch64 binaries, at the paths the tests were built with, and their libraries.
binaries=("$PWD/$build/mdmio" "$PWD/$build/mdmio-simmodem" "$PWD"/$build/tests/*_test)
for binary in "${binaries[@]}" "$static"; do
  mkdir -p "$root$(dirname "$binary")"
  cp "$binary" "$root$binary"
done
printf '%s\n' "$PWD"/$build/tests/*_test >"$root/suites"
# The status page's CGI, where the tests were built to find it: run by busybox ash there.
mkdir -p "$root$PWD/www/cgi-bin"
cp www/cgi-bin/mdmio-status "$root$PWD/www/cgi-bin/"
echo "$static" >"$root/static"
for library in $(readelf -d "${binaries[@]}" 2>/dev/null |
                 sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | sort -u) ld-linux-aarch64.so.1; do
  cp -L "/usr/aarch64-linux-gnu/lib/$library" "$root/lib/"
done
(cd "$root" && find . | cpio -o -H newc --quiet) >"$work/initramfs.cpio"

echo "== fullsystem: booting"
start=$(date +%s)
log=$work/console.log
timeout 600 qemu-system-aarch64 -machine virt -cpu cortex-a57 -smp 2 -m 512 \
  -kernel "$vmlinuz" -initrd "$work/initramfs.cpio" \
  -append "console=ttyAMA0 quiet panic=-1" \
  -display none -monitor none -serial stdio -nic none -no-reboot </dev/null |
  tr -d '\r' | tee "$log" | grep --line-buffered -E '^(fullsystem|FAIL|    )' || true
echo "== fullsystem: $(( $(date +%s) - start )) s"

passed=$(grep -c '^fullsystem: PASS ' "$log" || true)
failed=$(grep -c '^fullsystem: FAIL ' "$log" || true)
skipped=$(grep -c '^fullsystem: SKIP ' "$log" || true)
if ! grep -q '^fullsystem: guest done' "$log" || [ "$passed" -eq 0 ]; then
  echo "FAIL: the guest did not finish its tests; see $log" >&2
  failed=$((failed + 1))
fi
echo "fullsystem: $passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
