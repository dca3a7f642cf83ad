#!/usr/bin/env bash
# Many small files: a runtime-like tree (10,000 files of 1-12 KB in 100
# folders) installed under Wine by an installer corvpack built, against
# liblzma alone decoding the same tree's block (the limit of any installer
# built on it) and against a solid-LZMA NSIS installer of the same tree;
# each the median of BENCH_REPEAT (default 3) interleaved runs, every run
# into a folder of its own. Then the installer stub's size beside NSIS's.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
host=$root/build/host/bench/bench_extract
win=$root/build/win32/bench/bench_extract.exe
corvpack=$root/build/host/tools/corvpack/corvpack
stub=$root/build/win32/src/installer.exe
nsis_stub=/usr/share/nsis/Stubs/lzma_solid-x86-unicode
for f in "$host" "$win" "$corvpack" "$stub"; do
  [ -e "$f" ] || { echo "bench: $f missing (make host win32)" >&2; exit 1; }
done
command -v makensis >/dev/null || { echo "bench: makensis missing (scripts/bootstrap.sh bench)" >&2; exit 1; }
if "$root/tests/wine/emulated.sh"; then
  echo "bench: many files: 32-bit programs run EMULATED here (qemu-i386); compare figures of this run only"
else
  echo "bench: many files: 32-bit programs run natively here"
fi

# The prefix and both installations live in memory (/dev/shm) unless
# BENCH_DISK=1: on a machine whose disk is shared with others, write-back
# varies from run to run by more than the difference being measured.
if [ "${BENCH_DISK:-0}" != 1 ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then
  work=$(mktemp -d -p /dev/shm corv-many.XXXXXX)
  echo "bench: many files: installed into memory (/dev/shm; BENCH_DISK=1 for the disk)"
else
  work=$(mktemp -d -t corv-many.XXXXXX)
fi
prefix=$work/prefix
cleanup() {
  WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

python3 - "$work" <<'PY'
import os, random, sys
work = sys.argv[1]
payload = os.path.join(work, "payload")
rng = random.Random(20261210)
words = ["".join(rng.choice("abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randint(3, 12)))
         for _ in range(4000)]
total = 0
with open(os.path.join(work, "list.txt"), "w", newline="\n") as out:
    out.write(payload + "\n-1\t0\tlib\n")
    for d in range(100):
        rel = "lib\\pkg%02d" % d
        os.makedirs(os.path.join(payload, "lib", "pkg%02d" % d))
        out.write("-1\t0\t%s\n" % rel)
        for f in range(100):
            size = rng.randint(1024, 12 * 1024)
            text = " ".join(rng.choice(words) for _ in range(size // 4)).encode()[:size]
            data = bytes(b ^ rng.randrange(4) for b in text)  # some entropy, as class files have
            name = "Class%04d.class" % f
            with open(os.path.join(payload, "lib", "pkg%02d" % d, name), "wb") as fh:
                fh.write(data)
            total += len(data)
            out.write("%d\t1700000000\t%s\\%s\n" % (len(data), rel, name))
print("bench: tree of 10,000 files, %.1f MB, in 100 folders" % (total / 1e6))
PY
"$host" pack "$work/list.txt" "$work/block.bin"

cat > "$work/package.toml" <<'TOML'
[package]
name = "Many Files"
product-key = 'Corvantis Bench\Many'
builtin-uninstaller = true
uninstaller = "uninstall.exe"

[destination]
base = "system-drive"
folder = "ManyFiles"

[files]
source = "payload"
TOML
"$corvpack" build "$work/package.toml" --product "$work/payload" --stub "$stub" \
  --shfolder "$(dirname "$stub")/shfolder.dll" -o "$work/setup.exe" -q

cat > "$work/nsis.nsi" <<'NSI'
Unicode true
SetCompressor /SOLID lzma
SetCompressorDictSize 8
OutFile "setup-nsis.exe"
InstallDir "C:\NsisFiles"
RequestExecutionLevel admin
Section
  SetOutPath "$INSTDIR"
  File /r "payload\*.*"
SectionEnd
NSI
(cd "$work" && makensis -V1 nsis.nsi >/dev/null)

cp -a "$("$root/tests/wine/template.sh" win32)" "$prefix"
# shellcheck source=tests/wine/wine-env.sh
. "$root/tests/wine/wine-env.sh" win32 "$prefix"
wineserver -p  # one server for every run: its start-up is no part of a figure
winpath() { local p=$1; echo "Z:${p//\//\\}"; }
seconds() {  # seconds of one run of the command
  local start end
  sync  # what earlier runs left to write back is no part of this one
  start=$(date +%s.%N)
  "$@" >/dev/null 2>&1 || { echo "bench: failed: $*" >&2; exit 1; }
  end=$(date +%s.%N)
  echo "$end - $start" | bc -l
}
limit=() ours=() nsis=()
for r in $(seq 1 "${BENCH_REPEAT:-3}"); do
  limit+=("$("$WINE" "$win" decode "$(winpath "$work/block.bin")" | tr -d '\r')")
  ours+=("$(seconds "$WINE" "$work/setup.exe" /batch /dest "C:\\Many$r")")
  nsis+=("$(seconds "$WINE" "$work/setup-nsis.exe" /S "/D=C:\\Nsis$r")")
done
median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
l=$(median "${limit[@]}") o=$(median "${ours[@]}") n=$(median "${nsis[@]}")
# The 10,000 files, the uninstaller, "install.log" and the found state beside it.
got=$(find "$prefix/drive_c/Many1" -type f | wc -l)
[ "$got" -eq 10003 ] || { echo "bench: our installation is incomplete ($got files)" >&2; exit 1; }
[ "$(find "$prefix/drive_c/Nsis1" -type f | wc -l)" -eq 10000 ] || { echo "bench: NSIS's installation is incomplete" >&2; exit 1; }
printf '%-44s %7.2f s\n' "limit (liblzma alone decoding the block)" "$l" "ours (setup.exe /batch)" "$o" "NSIS 3 (solid LZMA, /S)" "$n"
printf 'ours/limit = %.2f (goal at most 1.5)   NSIS/ours = %.2f (goal at least 1.5)\n' \
  "$(echo "$o / $l" | bc -l)" "$(echo "$n / $o" | bc -l)"
printf 'stub: ours %d bytes (goal at most 524288), NSIS solid-LZMA stub %d bytes\n' \
  "$(stat -c %s "$stub")" "$(stat -c %s "$nsis_stub")"
