#!/usr/bin/env bash
# Runs a Windows program under Wine in a throwaway prefix, never on the real
# display and never touching the real home folder.
#   wine-run.sh [--win64] PROGRAM.exe [ARGS...]
# --win64           run a program of the 64-bit stand-in tree under wine64
# CORV_WINEPREFIX   the prefix to run in, kept after the run; without it the
#                   program runs in a fresh copy of the template, removed
#                   (with its wineserver and services) when the program ends
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
arch=win32
if [ "${1:-}" = --win64 ]; then
  arch=win64
  shift
fi
if [ -n "${CORV_WINEPREFIX:-}" ]; then
  prefix=$CORV_WINEPREFIX
else
  template=$("$here/template.sh" "$arch")
  scratch=$(mktemp -d -t corv-wine.XXXXXX)
  prefix=$scratch/prefix
  cp -a "$template" "$prefix"
  trap 'WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1 || true; rm -rf "$scratch"' EXIT
fi
# shellcheck source=tests/wine/wine-env.sh
. "$here/wine-env.sh" "$arch" "$prefix"
if [ -n "${scratch:-}" ]; then
  "$WINE" "$@"
else
  exec "$WINE" "$@"
fi
