#!/usr/bin/env bash
# Extraction benchmark: builds a mixed payload of at least 100 MB in a
# temporary folder (executables and libraries, text, incompressible data),
# packs it into one package block and times decoding and extraction
# natively and, with the Windows build, under Wine. See bench/extract.cpp.
#   BENCH_REPEAT  rounds of each measurement (default 3; the best counts)
#   BENCH_PRESET  encoder preset of the block (default 6, as corvpack)
#   BENCH_WORK    a folder to keep the payload and the block in, reused by
#                 the next run (default: a temporary folder, removed after)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
host=$root/build/host/bench/bench_extract
win=$root/build/win32/bench/bench_extract.exe
win64=$root/build/win64/bench/bench_extract.exe
[ -x "$host" ] || { echo "bench: $host missing (make host)" >&2; exit 1; }
emulated=0
if "$root/tests/wine/emulated.sh"; then
  emulated=1
  echo "bench: 32-bit programs run EMULATED here (qemu-i386): i686 figures are emulated and not comparable with native ones; the 64-bit stand-in under wine64 gives the native ratios"
else
  echo "bench: 32-bit programs run natively here"
fi

if [ -n "${BENCH_WORK:-}" ]; then
  mkdir -p "$BENCH_WORK"
  work=$(cd "$BENCH_WORK" && pwd)
else
  work=$(mktemp -d -t corv-bench.XXXXXX)
  trap 'rm -rf "$work"' EXIT
fi

if [ ! -f "$work/block.bin" ]; then
rm -rf "$work/payload"
python3 - "$root" "$work" <<'PY'
import os, shutil, sys
root, work = sys.argv[1], sys.argv[2]
payload = os.path.join(work, "payload")
MB = 1000 * 1000

def copy_from(sources, dest, limit, accept):
    """Copies files from the source folders, keeping their layout, until
    `limit` bytes; returns the bytes copied."""
    copied = 0
    for src in sources:
        if not os.path.isdir(src):
            continue
        for dirpath, dirnames, filenames in os.walk(src):
            dirnames.sort()
            for name in sorted(filenames):
                path = os.path.join(dirpath, name)
                if os.path.islink(path) or not os.path.isfile(path):
                    continue
                size = os.path.getsize(path)
                if size == 0 or size > 20 * MB or not accept(path):
                    continue
                rel = os.path.relpath(path, os.path.dirname(src))
                target = os.path.join(dest, rel)
                os.makedirs(os.path.dirname(target), exist_ok=True)
                shutil.copy2(path, target)
                copied += size
                if copied >= limit:
                    return copied
    return copied

def is_pe(path):
    with open(path, "rb") as f:
        return f.read(2) == b"MZ"

def is_text(path):
    with open(path, "rb") as f:
        head = f.read(4096)
    return b"\0" not in head and not path.endswith((".gz", ".bz2", ".xz", ".zip"))

exe = copy_from([os.path.join(root, "build/win32/src"), "/usr/lib/i386-linux-gnu/wine/i386-windows"],
                os.path.join(payload, "bin"), 45 * MB, is_pe)
if exe < 45 * MB:
    exe += copy_from(["/usr/lib/x86_64-linux-gnu"], os.path.join(payload, "lib"), 45 * MB - exe,
                     lambda p: ".so" in os.path.basename(p))
text = copy_from(["/usr/include", "/usr/share/doc"], os.path.join(payload, "text"), 35 * MB, is_text)
data = 0
os.makedirs(os.path.join(payload, "data"))
for i in range(5):
    with open(os.path.join(payload, "data", "blob%d.bin" % i), "wb") as f:
        f.write(os.urandom(5 * MB))
    data += 5 * MB
total = exe + text + data
print("bench: payload %.1f MB: executables %.1f MB, text %.1f MB, incompressible %.1f MB"
      % (total / MB, exe / MB, text / MB, data / MB))
if total < 100 * MB:
    sys.exit("bench: payload below 100 MB")

# The entry table: folders before what they hold, files in walk order.
with open(os.path.join(work, "list.txt"), "w", newline="\n") as out:
    out.write(payload + "\n")
    for dirpath, dirnames, filenames in os.walk(payload):
        dirnames.sort()
        rel = os.path.relpath(dirpath, payload)
        if rel != ".":
            out.write("-1\t0\t%s\n" % rel.replace("/", "\\"))
        for name in sorted(filenames):
            path = os.path.join(dirpath, name)
            st = os.stat(path)
            relname = os.path.relpath(path, payload).replace("/", "\\")
            out.write("%d\t%d\t%s\n" % (st.st_size, int(st.st_mtime) & 0x7FFFFFFF, relname))
PY

start=$(date +%s)
"$host" pack "$work/list.txt" "$work/block.tmp"
mv "$work/block.tmp" "$work/block.bin"
echo "bench: block packed in $(( $(date +%s) - start )) s"
else
  echo "bench: reusing the payload and block in $work"
fi

echo "bench: native ($(uname -m))"
"$host" run "$work/list.txt" "$work/block.bin" "$work/out"
rm -rf "$work/out"

winpath() { local p=$1; echo "Z:${p//\//\\}"; }
if [ -f "$win" ] && command -v wine >/dev/null; then
  if [ $emulated -eq 1 ]; then
    echo "bench: under Wine (i686 build), EMULATED by qemu-i386"
  else
    echo "bench: under Wine (i686 build)"
  fi
  "$root/tests/wine/wine-run.sh" "$win" run "$(winpath "$work/list.txt")" "$(winpath "$work/block.bin")" \
    "$(winpath "$work/out")"
  rm -rf "$work/out"
else
  echo "bench: no Windows build, Wine run skipped"
fi
if [ $emulated -eq 1 ]; then
  if [ -f "$win64" ]; then
    echo "bench: under wine64 (64-bit stand-in build, native speed; its liblzma-only decoder is the 64-bit one)"
    "$root/tests/wine/wine-run.sh" --win64 "$win64" run "$(winpath "$work/list.txt")" \
      "$(winpath "$work/block.bin")" "$(winpath "$work/out")"
    rm -rf "$work/out"
  else
    echo "bench: no 64-bit stand-in build, its run skipped (make win64)"
  fi
fi
