#!/usr/bin/env python3
"""How much damage that loses data the check of a copy catches.

loss_sweep.py [--pages N] [--check NAME=PROGRAM]... FILE...

Damages each file's data pages (rows and long values) one at a time, in three
ways: zeroed, overwritten with random bytes, torn (the second half zeroed).
A damage counts only where it changes what an independent reader reads
(mdbtools' mdb-export, every table, system tables included): the judge is
the reader, not the check. Each check program (check_file, or an older build
of it) is then asked for its verdict on the same damaged file, and the share
it caught is printed. Not a test: its figures go in docs/benchmarks.md.
At most N data pages a file are tried (all of them without --pages), chosen
by a fixed seed.
"""
import argparse
import os
import random
import shutil
import subprocess
import sys
import tempfile

KINDS = ("zeroed", "random bytes", "torn")


def rc4(key, data):
    s = list(range(256))
    k = key.to_bytes(4, "little")
    j = 0
    for i in range(256):
        j = (j + s[i] + k[i & 3]) & 255
        s[i], s[j] = s[j], s[i]
    i = j = 0
    out = bytearray(len(data))
    for n, b in enumerate(data):
        i = (i + 1) & 255
        j = (j + s[i]) & 255
        s[i], s[j] = s[j], s[i]
        out[n] = b ^ s[(s[i] + s[j]) & 255]
    return bytes(out)


def data_pages(file):
    """The pages that hold a table's rows or long values, decoded where the
    file is encoded: type 1, not page 1 and not the usage maps' owner 0."""
    page_size = 2048 if file[0x14] == 0 else 4096
    key = int.from_bytes(rc4(0x6B39DAC7, file[0x18:0x18 + 0x2A])[0x26:0x2A], "little")
    pages = []
    for p in range(2, len(file) // page_size):
        raw = file[p * page_size:(p + 1) * page_size]
        page = rc4(key ^ p, raw[:8]) if key and any(raw) else raw[:8]
        if page[0] == 1 and page[1] == 1 and page[4:8] != b"\0\0\0\0":
            pages.append(p)
    return page_size, pages


def export(path, tables, seconds=30):
    """Each table's rows as the reader gives them, or None where it fails."""
    out = []
    for t in tables:
        try:
            r = subprocess.run(["mdb-export", "-b", "raw", path, t], capture_output=True,
                               timeout=seconds)
            out.append(r.stdout if r.returncode == 0 else None)
        except subprocess.TimeoutExpired:
            out.append(None)
    return out


def reads_otherwise(path, tables, before):
    """Whether some table reads otherwise than `before`; a reader that hangs
    on the damaged file (3 s where the sound one took far less) reads it
    otherwise too."""
    for t, rows in zip(tables, before):
        if export(path, [t], seconds=3) != [rows]:
            return True
    return False


def tables_of(path):
    names = set()
    for flags in ([], ["-S"]):
        r = subprocess.run(["mdb-tables", "-1"] + flags + [path], capture_output=True, timeout=30)
        names.update(n for n in r.stdout.decode("utf-8", "replace").split("\n") if n.strip())
    return sorted(names)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--pages", type=int, default=0)
    parser.add_argument("--check", action="append", required=True)
    parser.add_argument("--misses", action="store_true")
    parser.add_argument("files", nargs="+")
    args = parser.parse_args()
    checks = [c.split("=", 1) for c in args.check]
    tally = {(name, kind): [0, 0] for name, _ in checks for kind in KINDS}
    quiet_on = {name: 0 for name, _ in checks}
    rng = random.Random(40)
    work = tempfile.mkdtemp(dir="/dev/shm" if os.path.isdir("/dev/shm") else None)
    readable = 0
    try:
        for path in args.files:
            sound = open(path, "rb").read()
            if len(sound) < 0x300:
                continue
            tables = tables_of(path)
            before = export(path, tables)
            if not tables or any(b is None for b in before):
                continue  # the reader cannot read it whole: no judge
            verdicts = {}
            for name, program in checks:
                r = subprocess.run([program, path], capture_output=True)
                verdicts[name] = r.returncode == 0
                quiet_on[name] += verdicts[name]
            page_size, pages = data_pages(sound)
            if not pages:
                continue
            readable += 1
            if args.pages and len(pages) > args.pages:
                pages = sorted(rng.sample(pages, args.pages))
            target = os.path.join(work, "damaged" + os.path.splitext(path)[1])
            for p in pages:
                at = p * page_size
                for kind in KINDS:
                    damaged = bytearray(sound)
                    if kind == "zeroed":
                        damaged[at:at + page_size] = bytes(page_size)
                    elif kind == "random bytes":
                        damaged[at:at + page_size] = rng.randbytes(page_size)
                    else:
                        damaged[at + page_size // 2:at + page_size] = bytes(page_size // 2)
                    if damaged == sound:
                        continue
                    with open(target, "wb") as out:
                        out.write(damaged)
                    if not reads_otherwise(target, tables, before):
                        continue  # nothing a reader reads changed
                    for name, program in checks:
                        if not verdicts[name]:
                            continue  # a false alarm on the sound file proves nothing
                        caught = subprocess.run([program, target],
                                                capture_output=True).returncode != 0
                        tally[(name, kind)][0] += caught
                        tally[(name, kind)][1] += 1
                        if not caught and args.misses:
                            print(f"missed by {name}: {kind} {path} page {p}", flush=True)
    finally:
        shutil.rmtree(work)
    print(f"{len(args.files)} files, {readable} read whole by the reader")
    for name, _ in checks:
        print(f"{name}: quiet on {quiet_on[name]} sound files")
        for kind in KINDS:
            caught, tried = tally[(name, kind)]
            share = 100.0 * caught / tried if tried else 0.0
            print(f"  {kind:<13} {caught:6d} of {tried:6d} losses caught, {share:5.1f} %")


if __name__ == "__main__":
    sys.exit(main())
