#!/usr/bin/env bash
# The demo: runs the installer under Wine in a fresh prefix and shows what it
# prints. Until packages can be built, the bare stub reports that it carries
# no package.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/win32
prefix=$(mktemp -d)/prefix
trap 'WINEPREFIX=$prefix wineserver -k 2>/dev/null || true; rm -rf "$(dirname "$prefix")"' EXIT
"$root/tests/wine/make-prefix.sh" "$build/wine/template"
cp -a "$build/wine/template" "$prefix"
echo "demo: running installer.exe /batch under Wine"
set +e
CORV_WINEPREFIX=$prefix "$root/tests/wine/wine-run.sh" "$build/src/installer.exe" /batch
rc=$?
set -e
echo "demo: exit code $rc"
