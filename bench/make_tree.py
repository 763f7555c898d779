#!/usr/bin/env python3
"""Generates a reproducible source tree for the backup benchmarks.

make_tree.py DIR --files N --total-mib M --min-bytes A --max-bytes B [--per-folder K]
             [--eligible-percent P [--eligible-ext docx,pdf,xlsx]] [--big-folder F]

File sizes are drawn log-uniformly between A and B and then scaled so the tree holds about M MiB
(each size kept within [A, B]); files are spread over folders of K files, two levels deep.
The last F files go into one folder of their own ("big"), as a download or camera folder.
About P percent of the files are named with the eligible extensions in turn (the detection
benchmark's designated files), the others end in .bin.
"""
import argparse
import math
import os
import random


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("root")
    parser.add_argument("--files", type=int, required=True)
    parser.add_argument("--total-mib", type=float, required=True)
    parser.add_argument("--min-bytes", type=int, default=1024)
    parser.add_argument("--max-bytes", type=int, default=4 * 1024 * 1024)
    parser.add_argument("--per-folder", type=int, default=100)
    parser.add_argument("--seed", type=int, default=20261210)
    parser.add_argument("--eligible-percent", type=float, default=0.0)
    parser.add_argument("--eligible-ext", default="docx,pdf,xlsx")
    parser.add_argument("--big-folder", type=int, default=0)
    args = parser.parse_args()

    rng = random.Random(args.seed)
    lo, hi = math.log(args.min_bytes), math.log(args.max_bytes)
    sizes = [math.exp(rng.uniform(lo, hi)) for _ in range(args.files)]
    target = args.total_mib * 1024 * 1024
    # Scale towards the target total while every size stays inside the bounds.
    for _ in range(30):
        total = sum(sizes)
        if abs(total - target) < target * 0.001:
            break
        factor = target / total
        sizes = [min(args.max_bytes, max(args.min_bytes, s * factor)) for s in sizes]
    eligible = [e for e in args.eligible_ext.split(",") if e]
    names = rng.random
    block = rng.randbytes(8 * 1024 * 1024)
    chosen = 0
    for index, size in enumerate(sizes):
        if index >= args.files - args.big_folder:
            folder = os.path.join(args.root, "big")
        else:
            folder = os.path.join(args.root, "d%03d" % (index // (args.per_folder * 10)),
                                  "s%03d" % (index // args.per_folder % 10))
        os.makedirs(folder, exist_ok=True)
        size = int(size)
        offset = (index * 7919) % (len(block) - size) if size < len(block) else 0
        extension = "bin"
        if eligible and names() * 100 < args.eligible_percent:
            extension = eligible[chosen % len(eligible)]
            chosen += 1
        with open(os.path.join(folder, "f%06d.%s" % (index, extension)), "wb") as out:
            out.write(block[offset:offset + size])
    print("files=%d bytes=%d eligible=%d" % (args.files, sum(int(s) for s in sizes), chosen))


if __name__ == "__main__":
    main()
