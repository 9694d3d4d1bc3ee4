#!/usr/bin/env python3
"""Scores one tool's output folder against the original archives.

usage: score.py OUTDIR TRUTHDIR
prints: identical broken other fragmented_identical
  identical  distinct original archives found among the written files byte for byte (sha256)
  broken     distinct originals not found whole, of which a written file starts with the
             original's first bytes (cut short, run on, or damaged inside)
  other      written files that are neither (no archive of the truth)
  fragmented_identical  how many of the originals named F* (the ones the file system
             fragmented) are among the identical
"""
import hashlib, os, sys

SKIP = {"audit.txt", "photorec.log", "report.xml", "photorec.ses"}
PREFIX = 512


def main():
    out, truth = sys.argv[1], sys.argv[2]
    by_hash, prefixes = {}, {}
    for name in sorted(os.listdir(truth)):
        data = open(os.path.join(truth, name), "rb").read()
        by_hash.setdefault(hashlib.sha256(data).hexdigest(), name)
        prefixes.setdefault(data[:PREFIX], set()).add(name)
    identical, broken, other = set(), set(), 0
    for root, _, files in os.walk(out):
        for f in files:
            if f in SKIP or f.endswith(".log"):
                continue
            data = open(os.path.join(root, f), "rb").read()
            name = by_hash.get(hashlib.sha256(data).hexdigest())
            if name is not None:
                identical.add(name)
                continue
            head = data[:PREFIX]
            hits = [n for p, names in prefixes.items() if p[:len(head)] == head and head for n in names]
            if hits:
                broken.update(hits)
            else:
                other += 1
    broken -= identical
    frag = sum(1 for n in identical if n.startswith("F"))
    print(len(identical), len(broken), other, frag)


if __name__ == "__main__":
    main()
