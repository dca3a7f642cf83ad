#!/usr/bin/env bash
# Installs what the build and the tests need on a Debian 12 machine and builds
# the static i686 liblzma from Debian's own xz-utils source. A quick no-op
# when everything is already there. Run as root (or through sudo).
set -euo pipefail

CACHE=${CORV_CACHE:-/var/cache/corvantis}

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
  # Wine brings no font with Japanese glyphs; the Japanese wizard pages
  # (dialog font "MS UI Gothic", Japanese character set) fall back to this.
  [ -e /usr/share/fonts/opentype/ipafont-gothic/ipag.ttf ] || missing+=(fonts-ipafont-gothic)
  /usr/bin/python3 -c 'import pytest' 2>/dev/null || missing+=(python3-pytest)
  /usr/bin/python3 -c 'import xdist' 2>/dev/null || missing+=(python3-pytest-xdist)
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

# build_liblzma CPU: the static liblzma of CPU-w64-mingw32 in $CACHE/liblzma-CPU.
build_liblzma() {
  local cpu=$1 prefix="$CACHE/liblzma-$1"
  [ -e "$prefix/lib/liblzma.a" ] && return 0
  need_root
  mkdir -p "$CACHE"
  echo "bootstrap: building static liblzma for $cpu-w64-mingw32 (cached in $prefix)"
  local work
  work=$(mktemp -d)
  (
    cd "$work"
    apt-get source -qq xz-utils >/dev/null 2>&1 || { apt-get update -qq; apt-get source -qq xz-utils >/dev/null; }
    cd xz-utils-*/
    ./configure -q --host="$cpu-w64-mingw32" CC="$cpu-w64-mingw32-gcc-win32" \
      --prefix="$prefix" --disable-shared --enable-static \
      --disable-xz --disable-xzdec --disable-lzmadec --disable-lzmainfo \
      --disable-lzma-links --disable-scripts --disable-doc --disable-nls \
      --disable-threads >/dev/null
    make -s -j"$(nproc)" >/dev/null
    make -s install >/dev/null
  )
  rm -rf "$work"
}

# Some kernels cannot start 32-bit programs ("Exec format error"); there every
# 32-bit process, Wine's included, runs through qemu's user-mode emulator,
# registered for i386 ELF files. The release's own qemu (7.2 in Debian 12)
# spends about 40 s starting each Wine process and did not boot a 32-bit
# prefix in 15 minutes; the qemu of the release's backports (10.x) boots one
# in 20 s, so that one is installed where the release has backports. The F
# flag opens the emulator at registration, so it also serves processes in
# other mount namespaces.
I386_MAGIC='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
I386_MASK='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
BINFMT=/proc/sys/fs/binfmt_misc

runs_32bit() {
  /usr/lib/wine/wine --version >/dev/null 2>&1
}

# The emulator to register: qemu-user's where installed, else the older
# qemu-user-static's.
qemu_path() {
  if [ -x /usr/bin/qemu-i386 ]; then echo /usr/bin/qemu-i386; else echo /usr/bin/qemu-i386-static; fi
}

qemu_recent() {
  local q
  q=$(qemu_path)
  [ -x "$q" ] && "$q" --version | awk 'NR == 1 { split($3, v, "."); exit !(v[1] >= 8) }'
}

# A deb twin of the machine's own Debian sources for the release's
# backports: same URIs, suite CODENAME-backports; no host name is written
# here. Backports are never preferred over the release (apt's default), only
# asked for by name.
add_backports() {
  local codename=$1 out=/etc/apt/sources.list.d/corvantis-backports.sources f
  [ -e "$out" ] && return 0
  : > "$out.tmp"
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -e "$f" ] || continue
    awk -v c="$codename" 'BEGIN { RS = ""; ORS = "\n\n" }
      /(^|\n)Types:[^\n]*(^| )deb( |\n|$)/ && $0 ~ ("(^|\n)Suites:[^\n]* " c "( |\n|$)") {
        n = split($0, lines, "\n"); out = ""
        for (i = 1; i <= n; i++) {
          if (lines[i] ~ /^Types:/) lines[i] = "Types: deb"
          else if (lines[i] ~ /^Suites:/) lines[i] = "Suites: " c "-backports"
          out = out lines[i] "\n"
        }
        printf "%s", out; print ""
      }' "$f" >> "$out.tmp"
  done
  if [ -s /etc/apt/sources.list ]; then
    sed -n "s/^deb \(\[[^]]*\] \)\{0,1\}\([^ ]*\) $codename \(.*\)/deb \1\2 $codename-backports \3/p" \
      /etc/apt/sources.list > /etc/apt/sources.list.d/corvantis-backports.list
  fi
  mv "$out.tmp" "$out"
  apt-get update -qq
}

install_qemu() {
  qemu_recent && return 0
  local codename
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  if [ -n "$codename" ] && add_backports "$codename" &&
     DEBIAN_FRONTEND=noninteractive apt-get install -y -qq -t "$codename-backports" qemu-user >/dev/null 2>&1; then
    return 0
  fi
  echo "bootstrap: no recent qemu in the release's backports; the release's qemu-user-static is much slower" >&2
  [ -x /usr/bin/qemu-i386-static ] || DEBIAN_FRONTEND=noninteractive apt-get install -y -qq qemu-user-static >/dev/null
}

# What else the emulated route needs: the 64-bit stand-in tree that the
# benchmark measures at native speed (its compiler and wine64, which also
# brings a native wineserver for the emulated programs).
emulation_missing() {
  local missing=()
  [ -e /usr/lib/wine/wine64 ] || missing+=(wine64)
  command -v x86_64-w64-mingw32-g++-win32 >/dev/null || missing+=(g++-mingw-w64-x86-64-win32)
  command -v x86_64-w64-mingw32-gcc-win32 >/dev/null || missing+=(gcc-mingw-w64-x86-64-win32)
  command -v x86_64-w64-mingw32-windres >/dev/null || missing+=(binutils-mingw-w64-x86-64)
  echo "${missing[@]:-}"
}

setup_emulation() {
  local entry=$BINFMT/qemu-i386
  if [ ! -e "$entry" ] && runs_32bit; then
    return 0
  fi
  local missing
  missing=$(emulation_missing)
  if [ -n "$missing" ]; then
    need_root
    echo "bootstrap: installing $missing"
    # shellcheck disable=SC2086
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $missing >/dev/null
  fi
  if ! qemu_recent; then
    need_root
    install_qemu
  fi
  local want
  want=$(qemu_path)
  if ! grep -qx enabled "$entry" 2>/dev/null || ! grep -qx "interpreter $want" "$entry"; then
    need_root
    [ -e "$BINFMT/register" ] || mount -t binfmt_misc binfmt_misc "$BINFMT"
    [ -e "$entry" ] && echo -1 > "$entry"
    printf '%s' ":qemu-i386:M::$I386_MAGIC:$I386_MASK:$want:F" > "$BINFMT/register"
  fi
  if ! runs_32bit; then
    echo "bootstrap: 32-bit programs cannot start, not even through $want" >&2
    exit 1
  fi
  echo "bootstrap: this kernel cannot start 32-bit programs; they run emulated by $("$want" --version | head -1)"
}

UPDATED=1
missing=$(packages_missing)
src_ok=1
apt-cache showsrc xz-utils >/dev/null 2>&1 || src_ok=0
if [ -n "$missing" ] || { [ $src_ok -eq 0 ] && [ ! -e "$CACHE/liblzma-i686/lib/liblzma.a" ]; }; then
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
build_liblzma i686
setup_emulation
if [ -e "$BINFMT/qemu-i386" ]; then
  build_liblzma x86_64
fi
echo "bootstrap: ok"
