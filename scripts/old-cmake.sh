#!/usr/bin/env bash
# Fetches Debian 11's CMake (3.18, of the age router SDKs bring) and unpacks it into
# build/cmake-bullseye, never installing it: apt-get download under a throw-away apt
# configuration that reads only bullseye from the archive this machine's own sources
# name, so the machine's sources, lists and package database are left as they are.
# Prints the path of a cmake to run: a wrapper that finds the one library bookworm
# lacks (libjsoncpp24, unpacked beside it) through LD_LIBRARY_PATH.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=$PWD/build/cmake-bullseye
apt_dir=$dir/apt

rm -rf "$dir"
mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$dir/debs" "$dir/root"
archive=$({ cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list \
              /etc/apt/sources.list.d/*.sources 2>/dev/null || true; } |
          sed -n -e 's|^URIs: *\(http[^ ]*/debian\)/*$|\1|p' \
                 -e 's|^deb \(\[[^]]*\] \)\{0,1\}\(http[^ ]*/debian\)/* .*|\2|p' | head -n 1)
[ -n "$archive" ] || { echo "no Debian archive in this machine's apt sources" >&2; exit 1; }
echo "deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $archive bullseye main" \
  >"$apt_dir/sources.list"
apt_options=(
  -o Dir::Etc::sourcelist="$apt_dir/sources.list" -o Dir::Etc::sourceparts=-
  -o Dir::State::Lists="$apt_dir/lists" -o Dir::Cache="$apt_dir/cache"
  -o Dir::State::status=/dev/null -o APT::Architectures="$(dpkg --print-architecture)"
  -o APT::Sandbox::User=root
)
apt-get "${apt_options[@]}" update -qq >&2
(cd "$dir/debs" && apt-get "${apt_options[@]}" download -qq cmake cmake-data libjsoncpp24 >&2)
for deb in "$dir"/debs/*.deb; do dpkg-deb -x "$deb" "$dir/root"; done

lib=$dir/root/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)
missing=$(LD_LIBRARY_PATH=$lib ldd "$dir/root/usr/bin/cmake" | grep 'not found' || true)
[ -z "$missing" ] || { echo "bullseye's cmake lacks: $missing" >&2; exit 1; }
# The builds it makes call it again (cmake -E, test discovery) with this environment.
printf '#!/bin/sh\nLD_LIBRARY_PATH=%s${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH} exec %s "$@"\n' \
  "$lib" "$dir/root/usr/bin/cmake" >"$dir/cmake"
chmod +x "$dir/cmake"
echo "$dir/cmake"
