#!/usr/bin/env bash
# Benchmarks. Each bench/*.sh script is run in turn.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
found=0
for b in "$root"/bench/*.sh; do
  [ -e "$b" ] || continue
  found=1
  bash "$b"
done
[ $found -eq 1 ] || echo "bench: no benchmark exists yet"
