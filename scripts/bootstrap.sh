#!/usr/bin/env bash
# Installs what the build and the tests need on a Debian 12 machine and builds
# the static i686 liblzmas from Debian's own xz-utils source. A quick no-op
# when everything is already there. Run as root (or through sudo).
#   bootstrap.sh [build] [test] [bench]
# build: the compilers, Wine and the libraries (always); test: what the tests
# and fuzz targets need beside; bench: the peer installer the benchmark
# measures against. A package that cannot be installed is named, and stops
# only the purpose that needs it.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=scripts/apt.sh
. "$here/apt.sh"
CACHE=${CORV_CACHE:-/var/cache/corvantis}

need_root() {
  if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null 2>&1; then exec sudo -E bash "$0" "${ARGS[@]}"; fi
    echo "bootstrap: must run as root to install packages" >&2
    exit 1
  fi
}

# Every command each purpose uses, with the package that brings it.
build_missing() {
  local missing=()
  command -v i686-w64-mingw32-g++-win32 >/dev/null || missing+=(g++-mingw-w64-i686-win32)
  command -v i686-w64-mingw32-gcc-win32 >/dev/null || missing+=(gcc-mingw-w64-i686-win32)
  command -v i686-w64-mingw32-windres >/dev/null || missing+=(binutils-mingw-w64-i686)
  command -v cmake >/dev/null || missing+=(cmake)
  command -v g++ >/dev/null || missing+=(g++)
  command -v make >/dev/null || missing+=(make)
  command -v wine >/dev/null || missing+=(wine)
  [ -e /usr/lib/wine/wine ] || [ -e /usr/lib/i386-linux-gnu/wine ] || missing+=(wine32:i386)
  [ -e /usr/include/lzma.h ] || missing+=(liblzma-dev)
  [ -e /usr/include/toml++/toml.h ] || missing+=(libtomlplusplus-dev)
  [ -e /usr/src/googletest/CMakeLists.txt ] || missing+=(googletest)
  command -v dpkg-source >/dev/null || missing+=(dpkg-dev)
  echo "${missing[@]:-}"
}

test_missing() {
  local missing=()
  command -v clang++ >/dev/null || missing+=(clang)
  # clang's fuzzer runtime
  ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1 || missing+=(libclang-rt-dev)
  command -v Xvfb >/dev/null || missing+=(xvfb)
  command -v xdotool >/dev/null || missing+=(xdotool)
  # (/usr/bin: a machine may carry a stand-in of its own on PATH)
  [ -x /usr/bin/convert ] && [ -x /usr/bin/import ] || missing+=(imagemagick)
  # Wine brings no font with Japanese glyphs; the Japanese wizard pages
  # (dialog font "MS UI Gothic", Japanese character set) fall back to this.
  [ -e /usr/share/fonts/opentype/ipafont-gothic/ipag.ttf ] || missing+=(fonts-ipafont-gothic)
  /usr/bin/python3 -c 'import pytest' 2>/dev/null || missing+=(python3-pytest)
  /usr/bin/python3 -c 'import xdist' 2>/dev/null || missing+=(python3-pytest-xdist)
  # The walks that hold the extraction put its destination on a file
  # system of their own (FUSE).
  /usr/bin/python3 -c 'import fusepy' 2>/dev/null || missing+=(python3-fusepy)
  # Authenticode signing of installers (corvpack build --sign) and the
  # tests' throwaway certificates.
  command -v osslsigncode >/dev/null || missing+=(osslsigncode)
  command -v openssl >/dev/null || missing+=(openssl)
  echo "${missing[@]:-}"
}

bench_missing() {
  command -v makensis >/dev/null || echo nsis
}

# Earlier bootstraps wrote a deb-src and a backports twin of the machine's
# sources into its configuration; those are now given to the one apt-get
# call that needs them, and an old one that fails would fail every update.
remove_old_entries() {
  local f
  for f in /etc/apt/sources.list.d/corvantis-deb-src.sources /etc/apt/sources.list.d/corvantis-deb-src.list \
           /etc/apt/sources.list.d/corvantis-backports.sources /etc/apt/sources.list.d/corvantis-backports.list; do
    [ -e "$f" ] || continue
    need_root
    rm -f "$f"
  done
}

# A deb-src twin of every Debian source the machine uses, so that
# `apt-get source` works; no host name is written here.
deb_src_twin() {
  local out=$1 f
  : > "$out"
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -e "$f" ] || continue
    grep -qi 'debian' "$f" || continue
    sed -e 's/^Types:.*/Types: deb-src/' "$f" >> "$out"
    echo >> "$out"
  done
  if [ -s /etc/apt/sources.list ]; then
    # One-line entries become deb822 stanzas of their own.
    sed -n 's/^deb \(\[[^]]*\] \)\{0,1\}\([^ ]*\) \([^ ]*\) \(.*\)$/Types: deb-src\nURIs: \2\nSuites: \3\nComponents: \4\n/p' \
      /etc/apt/sources.list >> "$out"
  fi
}

# build_liblzma CPU: the static liblzmas of CPU-w64-mingw32, each complete
# when its stamp (written last) is there: the whole library in
# $CACHE/liblzma-CPU, which the tests and the benchmark encode with, and the
# decoder that the programs carry, configured by cmake/liblzma-decoder.conf,
# in the folder lzma_decoder_prefix names.
build_liblzma() {
  local cpu=$1 full="$CACHE/liblzma-$1" decoder
  decoder=$(lzma_decoder_prefix "$cpu")
  [ -e "$full/.complete" ] && [ -e "$decoder/.complete" ] && return 0
  need_root
  mkdir -p "$CACHE"
  local work conf=()
  work=$(mktemp -d)
  if ! (cd "$work" && fetch_xz_source); then
    rm -rf "$work"
    echo "bootstrap: building liblzma for $cpu-w64-mingw32 failed (no xz-utils source)" >&2
    exit 1
  fi
  mapfile -t conf < <(grep -v -e '^#' -e '^[[:space:]]*$' "$LZMA_DECODER_CONF")
  [ -e "$full/.complete" ] || build_lzma_variant "$cpu" "$full" "$work"
  [ -e "$decoder/.complete" ] || build_lzma_variant "$cpu" "$decoder" "$work" "${conf[@]}"
  rm -rf "$work"
}

# The decoder's cache folder for CPU: named after the SHA-256 of its
# configuration (as cmake/Dependencies.cmake names it), so that a changed
# configuration is built anew and never mistaken for the old one.
LZMA_DECODER_CONF="$here/../cmake/liblzma-decoder.conf"
lzma_decoder_prefix() {
  local key
  key=$(sha256sum "$LZMA_DECODER_CONF" | cut -c1-12)
  echo "$CACHE/liblzma-$1-decoder-$key"
}

# build_lzma_variant CPU PREFIX WORK [CONFIGURE ARGUMENT...]: configures the
# xz-utils source in WORK for CPU-w64-mingw32 with the arguments and
# installs the static library into PREFIX.
build_lzma_variant() {
  local cpu=$1 prefix=$2 work=$3
  shift 3
  rm -rf "$prefix"
  echo "bootstrap: building static liblzma for $cpu-w64-mingw32 (cached in $prefix)"
  if ! (cd "$work"/xz-utils-*/ &&
        { [ ! -e Makefile ] || make -s distclean >/dev/null; } &&
        ./configure -q --host="$cpu-w64-mingw32" CC="$cpu-w64-mingw32-gcc-win32" \
          --prefix="$prefix" --disable-shared --enable-static \
          --disable-xz --disable-xzdec --disable-lzmadec --disable-lzmainfo \
          --disable-lzma-links --disable-scripts --disable-doc --disable-nls \
          --disable-threads "$@" >/dev/null &&
        make -s -j"$(nproc)" >/dev/null &&
        make -s install >/dev/null); then
    rm -rf "$work" "$prefix"
    echo "bootstrap: building liblzma for $cpu-w64-mingw32 failed" >&2
    exit 1
  fi
  touch "$prefix/.complete"
}

# Debian's xz-utils source into the current folder, through a deb-src twin
# of the machine's sources given to these apt-get calls alone.
fetch_xz_source() {
  apt-get source -qq xz-utils >/dev/null 2>&1 && return 0
  local twin rc=0
  twin=$(mktemp --suffix=.sources)
  deb_src_twin "$twin"
  apt_extra_sources "$twin"
  apt_update "${APT_EXTRA[@]}"
  apt-get "${APT_EXTRA[@]}" -o APT::Sandbox::User=root source -qq xz-utils >/dev/null || rc=$?
  rm -rf "$APT_EXTRA_DIR" "$twin"
  return $rc
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
# here. It is given to the two apt-get calls that install qemu, which ask
# for backports by name.
backports_twin() {
  local codename=$1 out=$2 f
  : > "$out"
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
      }' "$f" >> "$out"
  done
  if [ -s /etc/apt/sources.list ]; then
    sed -n "s/^deb \(\[[^]]*\] \)\{0,1\}\([^ ]*\) $codename \(.*\)$/Types: deb\nURIs: \2\nSuites: $codename-backports\nComponents: \3\n/p" \
      /etc/apt/sources.list >> "$out"
  fi
}

install_qemu() {
  qemu_recent && return 0
  local codename twin ok=1
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  if [ -n "$codename" ]; then
    twin=$(mktemp --suffix=.sources)
    backports_twin "$codename" "$twin"
    apt_extra_sources "$twin"
    apt_update "${APT_EXTRA[@]}"
    apt_install "to emulate 32-bit programs" "${APT_EXTRA[@]}" -t "$codename-backports" -- qemu-user || ok=0
    rm -rf "$APT_EXTRA_DIR" "$twin"
    [ $ok -eq 1 ] && return 0
  fi
  echo "bootstrap: no recent qemu in the release's backports; the release's qemu-user-static is much slower" >&2
  [ -x /usr/bin/qemu-i386-static ] || apt_install "to emulate 32-bit programs" -- qemu-user-static
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
    apt_install "to emulate 32-bit programs" -- $missing
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

ARGS=("$@")
[ ${#ARGS[@]} -gt 0 ] || ARGS=(build test bench)
remove_old_entries
declare -A purpose_of=([build]="to build" [test]="by the tests" [bench]="by the benchmark")
updated=0
failed=()
for what in build "${ARGS[@]}"; do
  case $what in build|test|bench) ;; *) echo "bootstrap: unknown purpose $what (build, test or bench)" >&2; exit 2 ;; esac
  missing=$("${what}_missing")
  [ -n "$missing" ] || continue
  need_root
  if [ "$what" = build ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  echo "bootstrap: installing $missing"
  if [ $updated -eq 0 ]; then
    apt_update
    updated=1
  fi
  # shellcheck disable=SC2086
  apt_install "${purpose_of[$what]}" -- $missing || failed+=("${purpose_of[$what]}")
done
case " ${failed[*]:-} " in *" to build "*) exit 1 ;; esac
build_liblzma i686
setup_emulation
if [ -e "$BINFMT/qemu-i386" ]; then
  build_liblzma x86_64
fi
if [ ${#failed[@]} -gt 0 ]; then
  echo "bootstrap: stopped: packages needed ${failed[*]} are missing (named above)" >&2
  exit 1
fi
echo "bootstrap: ok"
