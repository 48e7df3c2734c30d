#!/usr/bin/env python3
"""Fails unless a plug-in binary exports exactly the given symbols.

usage: check_exports.py BINARY SYMBOL...

Anything else a binary exports can bind to another module in the host's
process: another build of the plug-in, or another plug-in with a class of the
same name.
"""
import subprocess
import sys


def main():
    if len(sys.argv) < 3:
        print(__doc__)
        return 2

    binary, allowed = sys.argv[1], set(sys.argv[2:])
    listing = subprocess.run(["nm", "-D", "--defined-only", "-C", binary],
                             capture_output=True, text=True)
    if listing.returncode != 0:
        print(f"nm failed on {binary}: {listing.stderr.strip()}")
        return 1

    # "ADDRESS TYPE NAME": the name may hold spaces once demangled.
    exported = {line.split(" ", 2)[2] for line in listing.stdout.splitlines() if line.count(" ") >= 2}
    extra, missing = sorted(exported - allowed), sorted(allowed - exported)

    for name in extra:
        print(f"{binary} exports {name}")
    for name in missing:
        print(f"{binary} does not export {name}")

    if extra or missing:
        print(f"{len(extra)} symbols too many, {len(missing)} missing")
        return 1

    print(f"{binary} exports only {', '.join(sorted(allowed))}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
