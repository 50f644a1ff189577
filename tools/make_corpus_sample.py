#!/usr/bin/env python3
"""Writes the recorded-signal sample used by the decoder's regression test.

Rule (deterministic): take the remotes of the working-set TSV in the order of their
first line; keep every 5th remote (positions 0, 5, 10, ...); from each kept remote the
first two lines whose button names differ. Columns kept: source, remote, button,
durations (the carrier column is dropped).

usage: make_corpus_sample.py RAW_TSV > tests/data/corpus_sample.tsv
"""
import sys

REMOTE_STEP = 5
PER_REMOTE = 2


def main(path):
    order = []
    lines = {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            cols = line.rstrip("\n").split("\t")
            key = (cols[0], cols[1])
            if key not in lines:
                order.append(key)
                lines[key] = []
            lines[key].append(cols)
    out = sys.stdout
    for index, key in enumerate(order):
        if index % REMOTE_STEP != 0:
            continue
        seen = set()
        for cols in lines[key]:
            if cols[2] in seen:
                continue
            seen.add(cols[2])
            out.write("\t".join([cols[0], cols[1], cols[2], cols[4]]) + "\n")
            if len(seen) == PER_REMOTE:
                break


if __name__ == "__main__":
    main(sys.argv[1])
