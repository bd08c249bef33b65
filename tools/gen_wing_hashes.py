#!/usr/bin/env python3
"""Generates module/wing_hashes.cpp, the module's node-hash preload for WING firmware
3.1-0-g9f314617, from the node data in data/wing-fw3.1-nodes.tsv.

The preload is exactly the data file's rows for the input groups LCL, A, B, C (leaves g, vph,
mode, mute, $mute, $ha), SC (mode, mute, $mute) and the card outputs MOD, CRD (grp, in), in the
order of the file. Nothing is computed or filled in: a row missing from the data file is missing
from the table, and the script fails when the count is not the expected one.

Usage: tools/gen_wing_hashes.py [data/wing-fw3.1-nodes.tsv] [module/wing_hashes.cpp]
"""

import csv
import os
import re
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DEFAULT_TSV = os.path.join(ROOT, "data", "wing-fw3.1-nodes.tsv")
DEFAULT_OUT = os.path.join(ROOT, "module", "wing_hashes.cpp")
EXPECTED_ROWS = 1360

INPUT_LEAVES = ("g", "vph", "mode", "mute", "$mute", "$ha")
PRELOAD = {
    ("in", "LCL"): INPUT_LEAVES,
    ("in", "A"): INPUT_LEAVES,
    ("in", "B"): INPUT_LEAVES,
    ("in", "C"): INPUT_LEAVES,
    ("in", "SC"): ("mode", "mute", "$mute"),
    ("out", "MOD"): ("grp", "in"),
    ("out", "CRD"): ("grp", "in"),
}
PATH = re.compile(r"^/io/(in|out)/([A-Z]+)/([0-9]+)/([$a-z]+)$")
HASH = re.compile(r"^[0-9A-Fa-f]{8}$")

HEADER = """\
// GENERATED FILE - do not edit. Made by tools/gen_wing_hashes.py from
// data/wing-fw3.1-nodes.tsv; run the script again after changing that file.
//
// The node hashes a WING reports on firmware 3.1-0-g9f314617 for the nodes the module reads
// and watches. Source of the data: the public property map of the WING published with the
// libwing project (repository jerrythemaus/libwing, file propmap.jsonl, declared MIT), as
// described in data/README.md.
#include "wingbin.h"

namespace gm {

const WingHashRow kWingHashes0[] = {
"""

FOOTER = """\
}};

const int kWingHashes0Count = static_cast<int>(sizeof kWingHashes0 / sizeof kWingHashes0[0]);
static_assert(sizeof kWingHashes0 / sizeof kWingHashes0[0] == {count});

}}  // namespace gm
"""


def preload_rows(tsv_path):
    rows = []
    seen = set()
    with open(tsv_path, newline="", encoding="utf-8") as f:
        for rec in csv.DictReader(f, delimiter="\t"):
            m = PATH.match(rec["fullname"])
            if not m:
                continue
            direction, group, index, leaf = m.groups()
            if leaf not in PRELOAD.get((direction, group), ()):
                continue
            if not HASH.match(rec["hash_hex"]):
                sys.exit(f"bad hash for {rec['fullname']}: {rec['hash_hex']!r}")
            value = int(rec["hash_hex"], 16)
            if value == 0 or value in seen:
                sys.exit(f"zero or repeated hash for {rec['fullname']}")
            seen.add(value)
            rows.append((group, int(index), leaf, value))
    if len(rows) != EXPECTED_ROWS:
        sys.exit(f"{tsv_path}: {len(rows)} preload rows, expected {EXPECTED_ROWS}")
    return rows


def render(rows):
    lines = [HEADER]
    for group, index, leaf, value in rows:
        lines.append(f'    {{"{group}", {index}, "{leaf}", 0x{value:08X}u}},\n')
    lines.append(FOOTER.format(count=len(rows)))
    return "".join(lines)


def main(argv):
    tsv_path = argv[1] if len(argv) > 1 else DEFAULT_TSV
    out_path = argv[2] if len(argv) > 2 else DEFAULT_OUT
    text = render(preload_rows(tsv_path))
    tmp = out_path + ".tmp"
    with open(tmp, "w", encoding="utf-8") as f:
        f.write(text)
    os.replace(tmp, out_path)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
