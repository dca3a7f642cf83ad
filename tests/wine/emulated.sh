#!/usr/bin/env bash
# Exits 0 when this machine runs 32-bit programs through qemu's user-mode
# emulator (the bootstrap registers it only where the kernel cannot start
# them), 1 when they run natively.
[ -r /proc/sys/fs/binfmt_misc/qemu-i386 ] && grep -qx enabled /proc/sys/fs/binfmt_misc/qemu-i386
