#!/bin/sh
# Runs a static 32-bit x86 Linux program the way this machine can. The
# emulated CPU has no AVX: QEMU 7.2's AVX2 gathers give wrong results, so
# only the levels up to SSE2 are tried under emulation.
case $(sh "$(dirname "$0")/arch32.sh") in
  native) exec "$@" ;;
  emulated) QEMU_CPU=${QEMU_CPU:-max,-avx,-avx2} exec qemu-i386-static "$@" ;;
  *) echo "run32: this machine runs no 32-bit x86 program" >&2; exit 1 ;;
esac
