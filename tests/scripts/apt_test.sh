#!/usr/bin/env bash
# The bootstrap's apt-get handling against a stand-in apt-get, first on PATH,
# that fails as the real one did on a fresh machine: one index of the
# security suite arrives with the wrong size (update exits 100), and the
# i386 packages cannot be resolved ("held broken packages") until the
# security suite's priority is lowered. The machine's own apt configuration
# is never touched.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin"
cat > "$work/bin/apt-get" <<'STAND_IN'
#!/usr/bin/env bash
echo "$*" >> "$APT_CALLS"
case " $* " in
  *" update "*)
    echo "E: Failed to fetch security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (1 != 2). Mirror sync in progress?"
    echo "E: Some index files failed to download. They have been ignored, or old ones used instead."
    exit 100 ;;
esac
prefs=$(sed -n 's/.*Dir::Etc::Preferences=\([^ ]*\).*/\1/p' <<<"$*")
[ -n "$prefs" ] && echo "$prefs" >> "$APT_PREFS"
for p in "$@"; do
  if [ "$p" = nosuch ]; then echo "E: Unable to locate package nosuch"; exit 100; fi
done
if [ -z "$prefs" ] || ! grep -q 'Pin: release l=Debian-Security' "$prefs" || ! grep -q 'Pin-Priority: 100' "$prefs"; then
  echo "E: Unable to correct problems, you have held broken packages."
  exit 100
fi
exit 0
STAND_IN
chmod +x "$work/bin/apt-get"
export PATH="$work/bin:$PATH" APT_CALLS=$work/calls APT_PREFS=$work/prefs APT_PAUSE=0
. "$root/scripts/apt.sh"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

out=$(apt_update 2>&1) || fail "apt_update failed"
[ "$(grep -cw update "$APT_CALLS")" -eq 3 ] || fail "update was not tried three times"
[ "$(wc -l <<<"$out")" -eq 1 ] && grep -q 'warning:.*unexpected size' <<<"$out" || fail "no one-line warning: $out"

out=$(apt_install "by the tests" -- xdotool wine32:i386 2>&1) || fail "the fallback did not install: $out"
grep -q "held broken packages; trying again with the security suite's priority lowered" <<<"$out" ||
  fail "the fallback was not announced: $out"
while read -r prefs; do [ -e "$prefs" ] && fail "the pin $prefs was left behind"; done < "$APT_PREFS"

out=$(apt_install "by the benchmark" -- nsis nosuch 2>&1) && fail "an unknown package installed"
grep -q "cannot install nosuch (needed by the benchmark): Unable to locate package nosuch" <<<"$out" ||
  fail "the unknown package was not named: $out"
if [ $failures -eq 0 ]; then echo "1 passed, 0 failed"; else echo "0 passed, 1 failed"; exit 1; fi
