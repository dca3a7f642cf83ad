#!/usr/bin/env bash
# Makes a Wine prefix template once: HOME inside the prefix, the user's shell
# folders real folders instead of links to the home folder, no menu builder,
# no Mono or Gecko prompts. A no-op when the template exists.
#   make-prefix.sh DIR [win32|win64]
# win32 (the default) is the Windows the installer targets: a 32-bit prefix,
# whatever Wine packages the machine has. win64 is the prefix of the 64-bit
# stand-in tree, booted by wine64 without any 32-bit process.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
dir=$1
arch=${2:-win32}
[ -e "$dir/.complete" ] && exit 0
mkdir -p "$(dirname "$dir")"
exec 9>"$dir.lock"
flock 9
[ -e "$dir/.complete" ] && exit 0
rm -rf "$dir"
mkdir -p "$dir/home"
# shellcheck source=tests/wine/wine-env.sh
. "$here/wine-env.sh" "$arch" "$dir"
if [ "$arch" = win32 ] && "$here/emulated.sh"; then
  echo "make-prefix: booting a 32-bit prefix, emulated (cached in $dir)" >&2
fi
"$WINE" wineboot -i >/dev/null 2>&1 </dev/null || true
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
