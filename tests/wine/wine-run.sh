#!/usr/bin/env bash
# Runs a Windows program under Wine in a throwaway prefix of the build tree,
# never on the real display and never touching the real home folder.
#   wine-run.sh PROGRAM.exe [ARGS...]
# CORV_WINE_ROOT   folder of the prefixes (default: build/win32/wine of this repo)
# CORV_WINEPREFIX  the prefix to run in (default: $CORV_WINE_ROOT/unit, a copy
#                  of the template made on first use)
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=${CORV_WINE_ROOT:-$here/../../build/win32/wine}
mkdir -p "$root"
root=$(cd "$root" && pwd)
"$here/make-prefix.sh" "$root/template"
prefix=${CORV_WINEPREFIX:-$root/unit}
if [ ! -e "$prefix/system.reg" ]; then
  (
    flock 9
    [ -e "$prefix/system.reg" ] || { rm -rf "$prefix"; cp -a "$root/template" "$prefix"; }
  ) 9>"$root/.lock"
fi
export WINEPREFIX=$prefix
export HOME=$prefix/home
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
exec wine "$@"
