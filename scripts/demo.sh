#!/usr/bin/env bash
# The demo: packs examples/hello with corvpack into a real installer, checks
# it, and runs it under Wine in batch mode in a fresh prefix, printing what
# it prints, its exit code and the installed tree.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
host=$root/build/host
build=$root/build/win32
corvpack=$host/tools/corvpack/corvpack
installer=$build/demo/hello-setup.exe
mkdir -p "$build/demo"

echo "demo: packing examples/hello"
"$corvpack" build "$root/examples/hello/package.toml" \
  --product "$build/examples/hello/product" \
  --stub "$build/src/installer.exe" \
  -o "$installer"
"$corvpack" verify "$installer"
"$corvpack" list "$installer"

if "$root/tests/wine/emulated.sh"; then
  echo "demo: this kernel cannot start 32-bit programs: Wine runs the installer emulated by qemu, a few times slower"
fi
template=$("$root/tests/wine/template.sh" win32 "$build")
prefix=$(mktemp -d)/prefix
trap 'WINEPREFIX=$prefix wineserver -k 2>/dev/null || true; rm -rf "$(dirname "$prefix")"' EXIT
cp -a "$template" "$prefix"
dest='C:\Corvantis Hello'
echo
echo "demo: running hello-setup.exe /batch /dest \"$dest\" under Wine"
set +e
CORV_WINEPREFIX=$prefix "$root/tests/wine/wine-run.sh" "$installer" /batch /dest "$dest"
rc=$?
set -e
echo "demo: exit code $rc"
installed="$prefix/drive_c/Corvantis Hello"
if [ -d "$installed" ]; then
  echo "demo: installed tree:"
  (cd "$installed" && find . | sort)
  if [ -e "$installed/hello.exe" ]; then
    echo "demo: running the installed hello.exe"
    CORV_WINEPREFIX=$prefix "$root/tests/wine/wine-run.sh" "$installed/hello.exe"
  fi
  if [ -e "$installed/bin/hellobound.exe" ]; then
    echo "demo: running the installed bin/hellobound.exe, which prints its bound properties"
    CORV_WINEPREFIX=$prefix "$root/tests/wine/wine-run.sh" "$installed/bin/hellobound.exe"
  fi
else
  echo "demo: nothing was installed"
fi
