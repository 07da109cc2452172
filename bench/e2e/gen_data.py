#!/usr/bin/env python3
"""Test data for the end-to-end benchmark: one zone file and name lists.

The zone holds NAMES host names, each with 1 to 4 A records; name lists mix
those names with names absent from the zone (NXDOMAIN answers), in a fixed
pseudo-random order so that every run and every resolver sees the same input.
"""
import argparse
import os
import random

ZONE = "bench.test"
GLUE_ADDRESS = "192.0.2.53"


def host_name(i):
    # Labels of varied length, as real input lists have.
    tail = "abcdef"[: i % 7]
    return "h%d%s.%s" % (i, "-" + tail if tail else "", ZONE)


def nx_name(i):
    return "nx%d.%s" % (i, ZONE)


def record_count(i):
    return 1 + i % 4


def address(i, k):
    # 10.0.0.0/8 holds 16 million addresses; each (name, record) pair gets its own.
    v = i * 4 + k + 1
    return "10.%d.%d.%d" % ((v >> 16) & 255, (v >> 8) & 255, v & 255)


def write_zone(path, names, glue=False):
    """GLUE puts the name server inside the zone: positive answers then carry
    its address in the additional section, which is not an address of the
    name asked for."""
    with open(path, "w") as f:
        f.write("$ORIGIN %s.\n$TTL 3600\n" % ZONE)
        f.write("@ IN SOA ns.%s. hostmaster.%s. 1 3600 600 86400 60\n" % (ZONE, ZONE))
        if glue:
            f.write("@ IN NS ns.%s.\nns IN A %s\n" % (ZONE, GLUE_ADDRESS))
        else:
            # Outside the zone, as with most hosted zones.
            f.write("@ IN NS ns.example.net.\n")
        for i in range(names):
            owner = host_name(i)[: -len(ZONE) - 1]
            for k in range(record_count(i)):
                f.write("%s IN A %s\n" % (owner, address(i, k)))


def make_list(count, names, nx_share, seed):
    """COUNT lines: distinct zone names with every NX_SHARE-th line an absent
    name. Returns (lines, the addresses the lines resolve to)."""
    rng = random.Random(seed)
    lines, expected = [], []
    picks = rng.sample(range(names), min(count, names))
    nx = 0
    for n in range(count):
        if nx_share and n % nx_share == nx_share - 1:
            lines.append(nx_name(nx))
            nx += 1
        else:
            i = picks[n % len(picks)]
            lines.append(host_name(i))
            expected.extend(address(i, k) for k in range(record_count(i)))
    return lines, expected


def main():
    p = argparse.ArgumentParser(description=__doc__)
    p.add_argument("--dir", required=True)
    p.add_argument("--names", type=int, default=100000)
    p.add_argument("--nx-share", type=int, default=10, help="every Nth line is an NXDOMAIN name (0: none)")
    p.add_argument("--list", action="append", default=[], metavar="COUNT", type=int)
    p.add_argument("--glue", action="store_true", help="name server inside the zone, with its address")
    a = p.parse_args()
    os.makedirs(a.dir, exist_ok=True)
    write_zone(os.path.join(a.dir, ZONE + ".zone"), a.names, a.glue)
    for count in a.list:
        lines, expected = make_list(count, a.names, a.nx_share, seed=count)
        with open(os.path.join(a.dir, "names-%d.txt" % count), "w") as f:
            f.write("\n".join(lines) + "\n")
        with open(os.path.join(a.dir, "names-%d.expected" % count), "w") as f:
            f.write("\n".join(sorted(expected)) + "\n")


if __name__ == "__main__":
    main()
