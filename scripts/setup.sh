#!/usr/bin/env bash
# Installs what the build and the tests need, from Debian's registry, and
# fetches zlib's Debian source package for the MinGW build of minizip.
# Safe to run again: it only installs what is missing.
set -euo pipefail

here="$(cd "$(dirname "$0")/.." && pwd)"
third_party="$here/build/third_party"

packages=(
  build-essential cmake ninja-build python3 dpkg-dev
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64
  wine64 xvfb xauth xdotool x11-apps python3-xlib
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  zlib1g-dev libz-mingw-w64-dev libminizip-dev zip unzip curl openssl
  clang libclang-rt-14-dev clang-format
  libpcre2-dev libpugixml-dev libtinyxml2-dev
  nsis
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

sudo_cmd=()
[ "$(id -u)" = 0 ] || sudo_cmd=(sudo)

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# minizip is not packaged for MinGW: it ships inside zlib's source package.
minizip_dir="$third_party/minizip"
if [ ! -f "$minizip_dir/zip.c" ]; then
  echo "setup: fetching zlib's source package for minizip"
  work="$third_party/apt-src"
  mkdir -p "$work/lists/partial" "$minizip_dir"
  sources=$(grep -h '^URIs:' /etc/apt/sources.list.d/*.sources 2>/dev/null | head -n 1 | awk '{print $2}')
  [ -n "$sources" ] || sources=http://deb.debian.org/debian
  codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
  echo "deb-src $sources $codename main" >"$work/sources.list"
  apt_opts=(-o "Dir::Etc::SourceList=$work/sources.list" -o Dir::Etc::SourceParts=/dev/null
            -o "Dir::State::Lists=$work/lists" -o Debug::NoLocking=1)
  "${sudo_cmd[@]}" apt-get "${apt_opts[@]}" update -qq
  (cd "$work" && apt-get "${apt_opts[@]}" source --download-only zlib >/dev/null)
  tarball=$(ls "$work"/zlib_*.orig.tar.* | head -n 1)
  tar -xf "$tarball" -C "$work"
  src=$(ls -d "$work"/zlib-*/ | head -n 1)
  cp "$src"/contrib/minizip/{zip.c,zip.h,ioapi.c,ioapi.h,iowin32.c,iowin32.h,crypt.h} "$minizip_dir/"
fi
echo "setup: done"
