#!/usr/bin/env bash
# Prints the folder of the Wine prefix template of one architecture, making
# it first when it is missing. Templates are kept between runs and between
# clones in the machine's cache (booting one takes minutes where 32-bit
# programs are emulated), one per architecture and Wine version; where the
# cache is not writable, in the build tree.
#   template.sh win32|win64 [BUILD_DIR]
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
arch=$1
build=${2:-$here/../../build/win32}
version=$(wine --version 2>/dev/null | tr -c 'A-Za-z0-9.\n' '-' || echo unknown)
# Wine registers the system's fonts in a prefix when they changed since it
# last ran there: a template older than a font install would change the
# registry of every copy on its first run and spoil the before/after
# comparisons. The set of fonts is part of the template's name.
version=$version-$( (fc-list : file 2>/dev/null || true) | sort | cksum | cut -c1-8 | tr -d ' ')
cache=${CORV_CACHE:-/var/cache/corvantis}
if [ -d "$cache" ] && [ -w "$cache" ]; then
  dir=$cache/wine/$arch-$version
else
  dir=$build/wine/template-$arch
fi
"$here/make-prefix.sh" "$dir" "$arch"
echo "$dir"
