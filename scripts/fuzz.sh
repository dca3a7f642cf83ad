#!/usr/bin/env bash
# Runs every libFuzzer target of a fuzz build tree for SECONDS each, starting
# from its seed corpus (copied, so the repository's corpus stays as made).
#   fuzz.sh BUILD_DIR SECONDS
set -euo pipefail
build=$1
seconds=$2
root=$(cd "$(dirname "$0")/.." && pwd)
found=0
for bin in "$build"/tests/fuzz/fuzz_*; do
  [ -x "$bin" ] || continue
  found=1
  name=$(basename "$bin")
  work=$(mktemp -d)
  [ -d "$root/tests/fuzz/corpus/$name" ] && cp -r "$root/tests/fuzz/corpus/$name/." "$work/"
  echo "fuzz: $name for ${seconds}s"
  "$bin" -max_total_time="$seconds" -rss_limit_mb=2048 -print_final_stats=0 \
         -artifact_prefix="$build/$name-" "$work" 2>"$build/$name.log" || {
    echo "fuzz: $name failed; see $build/$name.log" >&2
    tail -30 "$build/$name.log" >&2
    exit 1
  }
  rm -rf "$work"
done
[ $found -eq 1 ] || echo "fuzz: no fuzz targets yet"
