"""Timings of the 32-bit build are taken only where 32-bit programs run
natively: under an emulator the figures mean nothing."""
import os
import subprocess
import sys

ARCH32 = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools", "arch32.sh")


def require_native_32bit():
    """Ends the run with a clear message on a machine that runs no 32-bit program."""
    mode = subprocess.run(["sh", ARCH32], capture_output=True, text=True).stdout.strip()
    if mode != "native":
        how = "only under emulation" if mode == "emulated" else "not at all"
        sys.exit(f"--win32: 32-bit programs run here {how} (tools/arch32.sh); "
                 "the 32-bit timings are taken only where they run natively")
