#!/usr/bin/env bash
# Runs a command with an X server of its own (Xvfb) that the Wine programs
# it starts draw on (wine-env.sh takes the display from CORV_DISPLAY): for
# unit tests that put windows on screen.
#   with-display.sh COMMAND [ARGS...]
set -euo pipefail
exec xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" \
  bash -c 'CORV_DISPLAY=$DISPLAY exec "$@"' with-display "$@"
