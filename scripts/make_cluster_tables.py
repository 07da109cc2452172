#!/usr/bin/env python3
"""Builds the two letter-cluster tables the name generator draws from.

The weights come from an English word list (Debian's wamerican by default):
every word is cut into maximal runs of vowels (a e i o u y) and of consonants
(the other twenty letters), and each run that is short enough to be a cluster
counts once for that cluster. Clusters the list never shows as a whole run are
ranked by how often they occur inside longer runs, then by a letter-chain
estimate, so the choice of rare clusters is still grounded in the data.

The raw counts are then mapped onto the shipped scale by one monotone power
curve (weight = A * count ** p) and fine-tuned so that the tables keep their
fixed shape: row counts, weight sums, file sizes and a handful of anchor rows
that other parts of the program and its tests rely on.

Output format: ASCII, one "cluster:weight" row a line, CR LF after every row,
rows sorted by cluster. The script is deterministic and uses only the standard
library.

    python3 scripts/make_cluster_tables.py            # rewrite src/random/VOWELS, NONVOWELS
    python3 scripts/make_cluster_tables.py --check    # fail if the shipped files differ
"""

import argparse
import os
import re
import sys
from fractions import Fraction

VOWELS = "aeiouy"
CONSONANTS = "bcdfghjklmnpqrstvwxz"

# Fixed shape of each table. "pinned" rows carry exact weights; "ceiling" keeps
# every other row strictly below the named heaviest rows, "floor" strictly above
# a named lightest row.
VOWEL_SHAPE = {
    "name": "VOWELS",
    "letters": VOWELS,
    "per_length": {1: 6, 2: 36},
    "sum": 187969,
    "size": 347,
    "pinned": {"a": 44464, "e": 45861, "yy": 1},
    "forced": ["yy"],
    "first": "a",
    "last": "yy",
    "ceiling": 45860,
    "floor": 2,
}
CONSONANT_SHAPE = {
    "name": "NONVOWELS",
    "letters": CONSONANTS,
    "per_length": {1: 20, 2: 338, 3: 1045},
    "sum": 229115,
    "size": 10212,
    "pinned": {"b": 9153, "r": 12843, "l": 12282, "m": 10988, "n": 10860, "bbl": 26, "zzn": 1},
    "forced": ["bbl", "zzn"],
    "first": "b",
    "last": "zzn",
    "ceiling": 10859,
    "floor": 1,
}


def read_words(path):
    words = set()
    with open(path, encoding="utf-8", errors="replace") as f:
        for line in f:
            w = line.strip()
            if re.fullmatch(r"[A-Za-z]+", w):
                words.add(w.lower())
    return sorted(words)


def count_runs(words, letters, max_len):
    """Whole-run counts and inside-run substring counts for one letter class."""
    pattern = re.compile("[" + letters + "]+")
    runs, subs = {}, {}
    for w in words:
        for m in pattern.finditer(w):
            r = m.group()
            if len(r) <= max_len:
                runs[r] = runs.get(r, 0) + 1
            for n in range(1, max_len + 1):
                for i in range(len(r) - n + 1):
                    s = r[i:i + n]
                    subs[s] = subs.get(s, 0) + 1
    return runs, subs


def chain_estimate(cluster, subs):
    """Letter-chain guess for a cluster never seen at all: P(x) * P(y|x) * ..."""
    if len(cluster) == 1:
        return Fraction(subs.get(cluster, 0))
    est = Fraction(subs.get(cluster[:2], 0))
    for i in range(1, len(cluster) - 1):
        mid = subs.get(cluster[i], 0)
        if mid == 0:
            return Fraction(0)
        est = est * subs.get(cluster[i:i + 2], 0) / mid
    if len(cluster) == 2 and est == 0:
        # Two letters never adjacent anywhere: fall back to independent letters.
        est = Fraction(subs.get(cluster[0], 0) * subs.get(cluster[1], 0), 10 ** 9)
    return est


def all_clusters(letters, n):
    if n == 0:
        return [""]
    return [c + rest for c in letters for rest in all_clusters(letters, n - 1)]


def choose_clusters(shape, runs, subs):
    chosen = []
    for n, want in sorted(shape["per_length"].items()):
        # The table must end with its named last row, so nothing sorts after it.
        pool = [c for c in all_clusters(shape["letters"], n) if shape["first"] <= c <= shape["last"]]
        forced = [c for c in shape["forced"] if len(c) == n]
        ranked = sorted((c for c in pool if c not in forced),
                        key=lambda c: (-runs.get(c, 0), -subs.get(c, 0), -chain_estimate(c, subs), c))
        picked = forced + ranked[:want - len(forced)]
        assert len(picked) == want, (shape["name"], n, len(picked))
        chosen.extend(picked)
    return chosen


def digits(v):
    return len(str(v))


def fit_weights(shape, clusters, runs):
    pinned = shape["pinned"]
    free = [c for c in clusters if c not in pinned]
    lo, hi = shape["floor"], shape["ceiling"]
    fixed_bytes = sum(len(c) + 3 for c in clusters)  # cluster, ":", CR LF
    want_digits = shape["size"] - fixed_bytes - sum(digits(v) for v in pinned.values())
    want_sum = shape["sum"] - sum(pinned.values())
    counts = {c: runs.get(c, 0) for c in free}

    by_count = sorted(free, key=lambda c: (-counts[c], c))

    def mapped(a, p):
        w = {c: lo if counts[c] == 0 else max(lo, round(a * counts[c] ** p)) for c in free}
        # Rows that would outweigh the named heaviest ones are squeezed just
        # below them, keeping their order instead of tying at the ceiling.
        top = hi
        for c in by_count:
            if w[c] < top:
                break
            w[c] = top
            top -= 1
        return w

    def scale_for(p):
        # Largest-enough A whose mapped sum reaches the target; bisection on a log scale.
        a_lo, a_hi = 1e-9, 1e9
        for _ in range(60):
            a_mid = (a_lo * a_hi) ** 0.5
            if sum(mapped(a_mid, p).values()) < want_sum:
                a_lo = a_mid
            else:
                a_hi = a_mid
        return a_hi

    best = None
    for step in range(100, 1501, 10):
        p = step / 1000
        w = mapped(scale_for(p), p)
        score = (abs(sum(digits(v) for v in w.values()) - want_digits), abs(sum(w.values()) - want_sum), step)
        if best is None or score < best[0]:
            best = (score, w)
    w = dict(best[1])

    # Exact digit count: move the rows closest to a power of ten across it.
    def band(v):
        d = digits(v)
        return max(lo, 10 ** (d - 1) if d > 1 else 1), min(hi, 10 ** d - 1)

    while True:
        have = sum(digits(v) for v in w.values())
        if have == want_digits:
            break
        if have < want_digits:
            options = [(Fraction(10 ** digits(v), v), c) for c, v in w.items() if 10 ** digits(v) <= hi]
            ratio, c = min(options)
            w[c] = 10 ** digits(w[c])
        else:
            options = [(Fraction(w[c], 10 ** (digits(w[c]) - 1) - 1), c) for c in w
                       if digits(w[c]) > 1 and 10 ** (digits(w[c]) - 1) - 1 >= lo]
            ratio, c = min(options)
            w[c] = 10 ** (digits(w[c]) - 1) - 1

    # Exact sum: spread the remainder over the rows in proportion to their
    # weight, never leaving a row's digit band, heaviest rows first.
    order = sorted(w, key=lambda c: (-w[c], c))
    while True:
        diff = want_sum - sum(w.values())
        if diff == 0:
            break
        total = sum(w.values())
        moved = 0
        for c in order:
            left = diff - moved
            if left == 0:
                break
            step = max(1, abs(diff) * w[c] // total)
            step = min(step, abs(left)) * (1 if left > 0 else -1)
            b_lo, b_hi = band(w[c])
            new = min(b_hi, max(b_lo, w[c] + step))
            moved += new - w[c]
            w[c] = new
        if moved == 0:
            sys.exit("%s: cannot reach the weight sum within the digit budget" % shape["name"])

    w.update(pinned)
    return w


def render(weights):
    return "".join("%s:%d\r\n" % (c, weights[c]) for c in sorted(weights)).encode("ascii")


def check(shape, data):
    rows = data.decode("ascii").split("\r\n")
    assert rows[-1] == "", "missing final CR LF"
    rows = rows[:-1]
    pairs = [r.split(":") for r in rows]
    names = [p[0] for p in pairs]
    vals = [int(p[1]) for p in pairs]
    assert names == sorted(set(names)), "unsorted or duplicate clusters"
    assert names[0] == shape["first"] and names[-1] == shape["last"], (shape["name"], "first/last")
    assert len(data) == shape["size"], (shape["name"], "size", len(data))
    assert sum(vals) == shape["sum"], (shape["name"], "sum", sum(vals))
    for n, want in shape["per_length"].items():
        assert sum(1 for c in names if len(c) == n) == want, (shape["name"], "length", n)
    assert all(v >= 1 for v in vals)
    weights = dict(zip(names, vals))
    for c, v in shape["pinned"].items():
        assert weights[c] == v, (shape["name"], c)
    others = [v for c, v in weights.items() if c not in shape["pinned"]]
    assert max(others) <= shape["ceiling"] and min(others) >= shape["floor"]


def build(shape, words):
    max_len = max(shape["per_length"])
    runs, subs = count_runs(words, shape["letters"], max_len)
    clusters = choose_clusters(shape, runs, subs)
    data = render(fit_weights(shape, clusters, runs))
    check(shape, data)
    return data


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--words", default="/usr/share/dict/american-english")
    ap.add_argument("--out", default=os.path.join(here, "..", "src", "random"))
    ap.add_argument("--check", action="store_true", help="compare with the files in --out instead of writing")
    args = ap.parse_args()

    words = read_words(args.words)
    status = 0
    for shape in (VOWEL_SHAPE, CONSONANT_SHAPE):
        data = build(shape, words)
        path = os.path.join(args.out, shape["name"])
        if args.check:
            with open(path, "rb") as f:
                same = f.read() == data
            print("%s: %s" % (path, "up to date" if same else "DIFFERS"))
            status |= 0 if same else 1
        else:
            with open(path, "wb") as f:
                f.write(data)
            print("%s: %d rows, %d bytes" % (path, data.count(b"\r\n"), len(data)))
    return status


if __name__ == "__main__":
    sys.exit(main())
