#!/usr/bin/env bash
# Installs what is missing (Debian 12, as root), builds mdmio for x86-64 and for
# AArch64 and runs every test for both (the AArch64 ones under qemu-user); then the
# whole suite again under AddressSanitizer and UndefinedBehaviorSanitizer, the static
# checks, a bounded run of every fuzzer, the Debian packages and the demo.
# MDMIO_FUZZ_SECONDS sets how long each fuzzer runs (default 60).
set -euo pipefail
cd "$(dirname "$0")/.."
fuzz_seconds=${MDMIO_FUZZ_SECONDS:-60}

packages=(cmake ninja-build g++ g++-aarch64-linux-gnu qemu-user googletest libgtest-dev
          binutils minicom clang libclang-rt-14-dev clang-tidy clang-format cppcheck
          dpkg-dev)
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

passed=0
failed=0
run_tests() {
  echo "== tests $1"
  local log="build/$1/ctest.log"
  ctest --test-dir "build/$1" --output-on-failure -j2 | tee "$log"
  local total failures
  total=$(sed -n 's/.*tests failed out of \([0-9]*\).*/\1/p' "$log")
  failures=$(sed -n 's/.*, \([0-9]*\) tests failed out of.*/\1/p' "$log")
  passed=$((passed + total - failures))
  failed=$((failed + failures))
}

build host
build aarch64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-aarch64.cmake
check_needed build/host/mdmio
check_needed build/aarch64/mdmio
readelf -h build/aarch64/mdmio | grep -q 'Machine:.*AArch64'
run_tests host
run_tests aarch64

build sanitize -DMDMIO_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
run_tests sanitize

echo "== static checks"
mapfile -t sources < <(git ls-files '*.cpp' '*.h')
clang-format --dry-run --Werror "${sources[@]}"
mapfile -t own < <(git ls-files 'src/*.cpp' 'tools/*.cpp')
clang-tidy -p build/host --quiet "${own[@]}" 2> >(grep -v 'warnings generated' >&2)
cppcheck --enable=warning,style,performance,portability --std=c++17 --error-exitcode=1 \
  --suppress=useStlAlgorithm --inline-suppr --quiet -I src src tools
echo "== static checks clean"

cmake -S . -B build/fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DMDMIO_FUZZ=ON \
  -DBUILD_TESTING=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMDMIO_WERROR=ON >/dev/null
echo "== build fuzz"
cmake --build build/fuzz
for target in usbserial record lock reply; do
  echo "== fuzz $target for ${fuzz_seconds}s"
  # New inputs go to the build tree; the checked-in corpus is only read.
  mkdir -p "build/fuzz/corpus/$target"
  log="build/fuzz/$target.log"
  if ! "build/fuzz/fuzz/${target}_fuzz" -max_total_time="$fuzz_seconds" \
      -artifact_prefix="build/fuzz/" "build/fuzz/corpus/$target" "fuzz/corpus/$target" \
      >"$log" 2>&1; then
    tail -n 40 "$log" >&2
    echo "FAIL: fuzzer $target" >&2
    exit 1
  fi
  grep -E '^Done' "$log"
done

echo "== packages"
for name in host aarch64; do
  (cd "build/$name" && cpack >/dev/null)
done
for arch in amd64 arm64; do
  deb=$(ls build/*/packages/mdmio_*_"$arch".deb)
  dpkg-deb --field "$deb" Architecture | grep -qx "$arch"
  dpkg-deb --field "$deb" Depends | grep -q '^libc6'
  contents=$(dpkg-deb --contents "$deb")
  grep -q './usr/bin/mdmio$' <<<"$contents"
  grep -q './usr/share/man/man1/mdmio.1.gz$' <<<"$contents"
  echo "== $deb: $arch, $(dpkg-deb --field "$deb" Depends)"
done

echo "== demo"
demo=$(./scripts/demo.sh ATI)
echo "$demo"
grep -q 'EC25' <<<"$demo"

# Every test of the three suites (x86-64, AArch64 under qemu, sanitizers).
echo "all: $passed passed, $failed failed"
