#!/usr/bin/env bash
# Makes a Wine prefix template once: HOME inside the prefix, the user's shell
# folders real folders instead of links to the home folder, no menu builder,
# no Mono or Gecko prompts. A no-op when the template exists.
#   make-prefix.sh DIR
set -euo pipefail
dir=$1
[ -e "$dir/.complete" ] && exit 0
mkdir -p "$(dirname "$dir")"
exec 9>"$dir.lock"
flock 9
[ -e "$dir/.complete" ] && exit 0
rm -rf "$dir"
mkdir -p "$dir/home"
export WINEPREFIX=$dir HOME=$dir/home WINEDEBUG=-all
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
wineboot -i >/dev/null 2>&1 || true
wineserver -w
for user in "$dir"/drive_c/users/*; do
  for link in "$user"/*; do
    if [ -L "$link" ]; then
      rm "$link"
      mkdir -p "$link"
    fi
  done
done
[ -e "$dir/system.reg" ] || { echo "make-prefix: wineboot did not create $dir" >&2; exit 1; }
touch "$dir/.complete"
