#!/usr/bin/env bash
# Installs what is missing (Debian 12, as root), builds mdmio for x86-64 and for
# AArch64, and runs every test for both, the AArch64 ones under qemu-user.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake ninja-build g++ g++-aarch64-linux-gnu qemu-user googletest libgtest-dev
          binutils minicom)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
    missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "== installing: ${missing[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

build() {  # name, extra cmake arguments...
  local name=$1; shift
  echo "== build $name"
  cmake -S . -B "build/$name" -G Ninja -DMDMIO_WERROR=ON -DBUILD_TESTING=ON "$@" >/dev/null
  cmake --build "build/$name"
}

# The shipped binary may need the C library and nothing else.
check_needed() {
  local needed
  needed=$(readelf -d "$1" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | tr '\n' ' ')
  if [ "$needed" != "libc.so.6 " ]; then
    echo "FAIL: $1 needs: $needed" >&2
    return 1
  fi
  echo "== $1 needs only libc.so.6"
}

build host
build aarch64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-aarch64.cmake
check_needed build/host/mdmio
check_needed build/aarch64/mdmio
readelf -h build/aarch64/mdmio | grep -q 'Machine:.*AArch64'

for name in host aarch64; do
  echo "== tests $name"
  ctest --test-dir "build/$name" --output-on-failure -j2
done

echo "== demo"
demo=$(./scripts/demo.sh ATI)
echo "$demo"
grep -q 'EC25' <<<"$demo"
