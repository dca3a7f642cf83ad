#!/usr/bin/env bash
# Installs what the build and the tests need on a Debian 12 machine and builds
# the static i686 liblzma from Debian's own xz-utils source. A quick no-op
# when everything is already there. Run as root (or through sudo).
set -euo pipefail

CACHE=${CORV_CACHE:-/var/cache/corvantis}
LZMA_PREFIX="$CACHE/liblzma-i686"

need_root() {
  if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null 2>&1; then exec sudo -E bash "$0" "$@"; fi
    echo "bootstrap: must run as root to install packages" >&2
    exit 1
  fi
}

# Every command the build uses, with the package that brings it.
packages_missing() {
  local missing=()
  command -v i686-w64-mingw32-g++-win32 >/dev/null || missing+=(g++-mingw-w64-i686-win32)
  command -v i686-w64-mingw32-gcc-win32 >/dev/null || missing+=(gcc-mingw-w64-i686-win32)
  command -v i686-w64-mingw32-windres >/dev/null || missing+=(binutils-mingw-w64-i686)
  command -v cmake >/dev/null || missing+=(cmake)
  command -v g++ >/dev/null || missing+=(g++)
  command -v clang++ >/dev/null || missing+=(clang)
  command -v wine >/dev/null || missing+=(wine)
  [ -e /usr/lib/wine/wine ] || [ -e /usr/lib/i386-linux-gnu/wine ] || missing+=(wine32:i386)
  command -v Xvfb >/dev/null || missing+=(xvfb)
  command -v xdotool >/dev/null || missing+=(xdotool)
  command -v convert >/dev/null || missing+=(imagemagick)
  /usr/bin/python3 -c 'import pytest' 2>/dev/null || missing+=(python3-pytest)
  [ -e /usr/include/lzma.h ] || missing+=(liblzma-dev)
  [ -e /usr/include/toml++/toml.h ] || missing+=(libtomlplusplus-dev)
  [ -e /usr/src/googletest/CMakeLists.txt ] || missing+=(googletest)
  command -v makensis >/dev/null || missing+=(nsis)
  command -v dpkg-source >/dev/null || missing+=(dpkg-dev)
  command -v make >/dev/null || missing+=(make)
  # clang's fuzzer runtime
  ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1 || missing+=(libclang-rt-dev)
  echo "${missing[@]:-}"
}

# A deb-src twin of every Debian source the machine already uses, so that
# `apt-get source` works; no host name is written here.
add_deb_src() {
  local out=/etc/apt/sources.list.d/corvantis-deb-src.sources
  [ -e "$out" ] && return 0
  if grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/ || grep -qs '^deb-src' /etc/apt/sources.list; then
    return 0
  fi
  : > "$out.tmp"
  local f
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -e "$f" ] || continue
    grep -qi 'debian' "$f" || continue
    sed -e 's/^Types:.*/Types: deb-src/' "$f" >> "$out.tmp"
    echo >> "$out.tmp"
  done
  if [ -s /etc/apt/sources.list ]; then
    sed -n 's/^deb \(.*\)/deb-src \1/p' /etc/apt/sources.list > /etc/apt/sources.list.d/corvantis-deb-src.list
  fi
  mv "$out.tmp" "$out"
  UPDATED=0
}

build_liblzma() {
  [ -e "$LZMA_PREFIX/lib/liblzma.a" ] && return 0
  echo "bootstrap: building static liblzma for i686-w64-mingw32 (cached in $LZMA_PREFIX)"
  local work
  work=$(mktemp -d)
  (
    cd "$work"
    apt-get source -qq xz-utils >/dev/null 2>&1 || { apt-get update -qq; apt-get source -qq xz-utils >/dev/null; }
    cd xz-utils-*/
    ./configure -q --host=i686-w64-mingw32 CC=i686-w64-mingw32-gcc-win32 \
      --prefix="$LZMA_PREFIX" --disable-shared --enable-static \
      --disable-xz --disable-xzdec --disable-lzmadec --disable-lzmainfo \
      --disable-lzma-links --disable-scripts --disable-doc --disable-nls \
      --disable-threads >/dev/null
    make -s -j"$(nproc)" >/dev/null
    make -s install >/dev/null
  )
  rm -rf "$work"
}

UPDATED=1
missing=$(packages_missing)
src_ok=1
apt-cache showsrc xz-utils >/dev/null 2>&1 || src_ok=0
if [ -n "$missing" ] || { [ $src_ok -eq 0 ] && [ ! -e "$LZMA_PREFIX/lib/liblzma.a" ]; }; then
  need_root "$@"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  add_deb_src
  echo "bootstrap: installing ${missing:-source lists}"
  apt-get update -qq
  if [ -n "$missing" ]; then
    # shellcheck disable=SC2086
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $missing wine32:i386 >/dev/null
  fi
fi
if [ ! -e "$LZMA_PREFIX/lib/liblzma.a" ]; then
  need_root "$@"
  mkdir -p "$CACHE"
  build_liblzma
fi
echo "bootstrap: ok"
