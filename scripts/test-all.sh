#!/usr/bin/env bash
# Installs what is missing (Debian 12, as root), builds mdmio for x86-64 and for
# AArch64, dynamic and fully static (musl), and runs every test for both: the AArch64
# ones under qemu-user and again natively on Debian's arm64 kernel under
# qemu-system-aarch64 (fullsystem/), those that start the tool once more against the
# static build, with the fault sweep beside them. Then it builds with older tools
# (CMake 3.18, g++ 11), runs the whole suite again under AddressSanitizer and
# UndefinedBehaviorSanitizer, the static checks and a bounded run of every fuzzer,
# builds the packages, runs the demo and tests the status page in headless Chromium.
# MDMIO_FUZZ_SECONDS sets how long each fuzzer runs (default 60).
set -euo pipefail
cd "$(dirname "$0")/.."
fuzz_seconds=${MDMIO_FUZZ_SECONDS:-60}

source scripts/lib/packages.sh
mdmio_install_packages cmake ninja-build g++ g++-aarch64-linux-gnu qemu-user googletest \
  libgtest-dev binutils minicom screen strace clang libclang-rt-14-dev clang-tidy \
  clang-format cppcheck dpkg-dev qemu-system-arm kmod cpio musl-dev:arm64 \
  g++-11-aarch64-linux-gnu nlohmann-json3-dev jq chromium busybox

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
skipped=0
# Adds a suite's counts to the closing line; a failed suite doesn't stop the others.
count() {  # passed failed skipped
  passed=$((passed + $1))
  failed=$((failed + $2))
  skipped=$((skipped + $3))
}
run_tests() {  # build folder [label [ctest arguments...]]
  local folder=$1 label=${2:-$1}
  shift $(($# < 2 ? $# : 2))
  echo "== tests $label"
  local log="build/$folder/ctest-$label.log"
  ctest --test-dir "build/$folder" --output-on-failure -j2 "$@" | tee "$log" || true
  local total failures skips
  total=$(sed -n 's/.*tests failed out of \([0-9]*\).*/\1/p' "$log")
  failures=$(sed -n 's/.*, \([0-9]*\) tests failed out of.*/\1/p' "$log")
  skips=$(grep -c '(Skipped)$' "$log" || true)
  count $((${total:-0} - ${failures:-0} - skips)) "${failures:-1}" "$skips"
}

# The static binary may need nothing at all: no program interpreter, no dynamic
# section, and it must stay small.
static=build/aarch64-static/mdmio
check_static() {
  local size
  aarch64-linux-gnu-strip -o "$static.stripped" "$static"
  size=$(stat -c %s "$static.stripped")
  if readelf -l "$static" | grep -q INTERP || ! readelf -d "$static" | grep -q 'no dynamic section' ||
      [ "$size" -gt $((136 * 1024)) ]; then
    echo "FAIL: $static is not fully static, or $size bytes stripped" >&2
    count 0 1 0
    return
  fi
  echo "== $static: static, no interpreter, $size bytes stripped"
  count 1 0 0
}

build host
build aarch64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-aarch64.cmake
build aarch64-static -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-aarch64-musl.cmake
check_needed build/host/mdmio
check_needed build/aarch64/mdmio
readelf -h build/aarch64/mdmio | grep -q 'Machine:.*AArch64'
check_static
# Every system call of a run made to fail, then killed, in turn (x86-64). It mostly
# waits out lock waits, so it runs beside everything else from here on; it comes first
# for the processor, so that its runs keep their pace.
nice -n -5 scripts/fault-sweep.sh >build/fault-sweep.log 2>&1 &
sweeping=$!
run_tests host
run_tests aarch64
# Every test that starts the tool, again with the static binary in its place.
MDMIO_TEST_BINARY=$PWD/$static run_tests aarch64 aarch64-static -R EndToEnd

# The build with tools of the age router SDKs bring, warnings as errors: Debian 11's
# CMake 3.18 (fetched, never installed) with the tests, and the AArch64 build with
# g++ 11. Each build counts as one check.
old_build() {  # name, cmake to use, extra cmake arguments...
  local name=$1 cmake_command=$2
  shift 2
  echo "== build $name"
  if "$cmake_command" -S . -B "build/$name" -G Ninja -DMDMIO_WERROR=ON "$@" >"build/$name.log" 2>&1 &&
      "$cmake_command" --build "build/$name" >>"build/$name.log" 2>&1; then
    count 1 0 0
  else
    tail -n 30 "build/$name.log" >&2
    echo "FAIL: build $name" >&2
    count 0 1 0
  fi
}
old_cmake=$(scripts/old-cmake.sh) || old_cmake=false
old_build cmake-3.18 "$old_cmake" -DBUILD_TESTING=ON
old_build aarch64-gcc11 cmake -DBUILD_TESTING=OFF \
  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-aarch64.cmake \
  -DCMAKE_C_COMPILER=aarch64-linux-gnu-gcc-11 -DCMAKE_CXX_COMPILER=aarch64-linux-gnu-g++-11

# The same AArch64 tests natively on Debian's own arm64 kernel, with its USB drivers.
fullsystem/run.sh | tee build/fullsystem.log || true
read -r lane_passed lane_failed lane_skipped < <(sed -n \
  's/^fullsystem: \([0-9]*\) passed, \([0-9]*\) failed, \([0-9]*\) skipped$/\1 \2 \3/p' \
  build/fullsystem.log)
count "${lane_passed:-0}" "${lane_failed:-1}" "${lane_skipped:-0}"

cmake -S . -B build/fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DMDMIO_FUZZ=ON \
  -DBUILD_TESTING=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMDMIO_WERROR=ON >/dev/null
echo "== build fuzz"
cmake --build build/fuzz
# The fuzzers run beside the sanitizer suite. New inputs go to the build tree; the
# checked-in corpus is only read.
fuzz() {  # target
  mkdir -p "build/fuzz/corpus/$1"
  "build/fuzz/fuzz/$1_fuzz" -max_total_time="$fuzz_seconds" -artifact_prefix="build/fuzz/" \
    "build/fuzz/corpus/$1" "fuzz/corpus/$1" >"build/fuzz/$1.log" 2>&1
}
fuzz_targets=(usbserial record lock reply pdu group status bands)
echo "== fuzz ${fuzz_targets[*]} for ${fuzz_seconds}s each"
declare -A fuzzing=()
for target in "${fuzz_targets[@]}"; do
  fuzz "$target" &
  fuzzing[$target]=$!
done

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

echo "== packages"
# A plain cpack of the AArch64 build needs the target's C library to read Depends off
# the binary: without it, it must stop with the line that says how to get it, and make
# no .deb; with libc6:arm64 unpacked where that line says (never installed: installed,
# its libraries would be loaded under qemu-user beside the cross toolchain's own
# loader, which must not mix with them), it must work as it is.
rm -rf build/aarch64/libc6-arm64 build/aarch64/packages build/aarch64/libc6_*_arm64.deb
(cd build/aarch64 && cpack) >build/cpack-without-libc.log 2>&1 || true
if grep -q '^cpack: libc6:arm64 is needed' build/cpack-without-libc.log &&
    ! ls build/aarch64/packages/*.deb >/dev/null 2>&1; then
  echo "== cpack without the target's C library: $(head -n 1 build/cpack-without-libc.log)"
  count 1 0 0
else
  cat build/cpack-without-libc.log >&2
  echo "FAIL: cpack without the target's C library" >&2
  count 0 1 0
fi
(cd build/aarch64 && apt-get download -qq -o APT::Sandbox::User=root libc6:arm64 &&
  dpkg-deb -R libc6_*_arm64.deb libc6-arm64)
(cd build/host && cpack >/dev/null)
(cd build/aarch64 && cpack >/dev/null)
(cd build/aarch64-static && cpack >/dev/null)
for arch in amd64 arm64; do
  deb=$(ls build/*/packages/mdmio_*_"$arch".deb)
  dpkg-deb --field "$deb" Architecture | grep -qx "$arch"
  # Read off the binary by dpkg-shlibdeps: the C library alone.
  dpkg-deb --field "$deb" Depends | grep -qx 'libc6 (>= [0-9.]*)'
  contents=$(dpkg-deb --contents "$deb")
  grep -q './usr/bin/mdmio$' <<<"$contents"
  grep -q './usr/share/man/man1/mdmio.1.gz$' <<<"$contents"
  grep -q '^-rwxr-xr-x .* ./usr/share/mdmio/www/cgi-bin/mdmio-status$' <<<"$contents"
  grep -q './usr/share/mdmio/www/index.html$' <<<"$contents"
  echo "== $deb: $arch, $(dpkg-deb --field "$deb" Depends)"
done
tarball=$(ls build/aarch64-static/packages/mdmio-*-linux-aarch64-static.tar.gz)
[ "$(tar -tzf "$tarball" | grep -v '/$' | sort | tr '\n' ' ')" = \
  "bin/mdmio share/man/man1/mdmio.1.gz share/mdmio/www/cgi-bin/mdmio-status share/mdmio/www/index.html share/mdmio/www/status.css share/mdmio/www/status.js " ]
echo "== $tarball: bin/mdmio, share/man/man1/mdmio.1.gz, share/mdmio/www"

echo "== demo"
demo=$(./scripts/demo.sh ATI)
echo "$demo"
grep -q 'EC25' <<<"$demo"

# The status page in a real browser, behind it the x86-64 binary and the static AArch64
# one under qemu-user.
echo "== browser"
scripts/browser-test.sh build/www-test "host=$PWD/build/host/mdmio" \
  "static=qemu-aarch64 $PWD/$static" | tee build/browser.log || true
read -r browser_passed browser_failed < <(sed -n \
  's/^browser: \([0-9]*\) passed, \([0-9]*\) failed$/\1 \2/p' build/browser.log)
count "${browser_passed:-0}" "${browser_failed:-1}" 0

echo "== fault sweep"
wait "$sweeping" || true
cat build/fault-sweep.log
sweep=$(tail -n 1 build/fault-sweep.log)
case $sweep in
  "fault sweep: "*", 0 broke a promise") ;;
  *) failed=$((failed + 1)) ;;
esac
for target in "${fuzz_targets[@]}"; do
  if ! wait "${fuzzing[$target]}"; then
    tail -n 40 "build/fuzz/$target.log" >&2
    echo "FAIL: fuzzer $target" >&2
    exit 1
  fi
  echo "$target: $(grep -E '^Done' "build/fuzz/$target.log")"
done

# Every test of the suites (x86-64; AArch64 under qemu-user and on the arm64 kernel,
# dynamic and static; sanitizers), the static binary's check and the builds with older
# tools, then the fault sweep's points.
echo "all: $passed passed, $failed failed, $skipped skipped; ${sweep#fault sweep: }"
[ "$failed" -eq 0 ]
