#!/bin/sh
# Says how 32-bit x86 Linux programs run on this machine: "native", or
# "emulated" (qemu-i386-static), or "none". Some kernels run 64-bit programs
# only. ZVK_EMULATE_32BIT=1 takes the emulated path on a machine that runs
# them natively, so that both paths can be tried on one machine.
if [ -z "${ZVK_EMULATE_32BIT:-}" ] && /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
  echo native
elif command -v qemu-i386-static >/dev/null 2>&1; then
  echo emulated
else
  echo none
fi
