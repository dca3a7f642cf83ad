# Sourced: the environment of a Wine run in a prefix of one architecture,
# never on the real display (only on CORV_DISPLAY, a test's own X server)
# and never touching the real home folder.
#   . wine-env.sh win32|win64 PREFIX
# Sets WINE to the loader to run programs with.
_corv_arch=$1
export WINEPREFIX=$2
export HOME=$2/home
export WINEARCH=$_corv_arch
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
# The wizard's tests give the display of their own X server.
if [ -n "${CORV_DISPLAY:-}" ]; then export DISPLAY=$CORV_DISPLAY; fi
if [ "$_corv_arch" = win64 ]; then
  # wine64 starts a 32-bit program with the loader beside the one it was
  # started as; a folder holding only wine64 keeps every process 64-bit.
  _corv_dir=${CORV_CACHE:-/var/cache/corvantis}/wine64-only
  [ -w "$(dirname "$_corv_dir")" ] || _corv_dir=${TMPDIR:-/tmp}/corv-wine64-only-$(id -u)
  if [ ! -e "$_corv_dir/wine64" ]; then
    mkdir -p "$_corv_dir"
    ln -sfn /usr/lib/wine/wine64 "$_corv_dir/wine64"
  fi
  export WINELOADER=$_corv_dir/wine64
  WINE=$WINELOADER
else
  unset WINELOADER
  WINE=wine
fi
unset _corv_arch _corv_dir
