#!/usr/bin/env python3
"""Checks that the folders of src/ include each other only downwards, in the order the README's
layout table gives: a folder may include itself and the folders listed before it (platform stands
beside base, so neither includes the other)."""
import pathlib
import re
import sys

ORDER = ["base", "platform", "dict", "engine", "catalog", "search", "copy", "api"]
MAY_NOT = {"base": {"platform"}, "platform": {"base"}}

src = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else "src")
bad = []
for folder in ORDER:
    allowed = set(ORDER[: ORDER.index(folder) + 1]) - MAY_NOT.get(folder, set())
    for path in sorted((src / folder).glob("*")):
        for line in path.read_text(encoding="utf-8").splitlines():
            m = re.match(r'#include "([a-z_]+)/', line)
            if m and m.group(1) in ORDER and m.group(1) not in allowed:
                bad.append(f"{path}: {line.strip()}")
unknown = sorted(p.name for p in src.iterdir() if p.is_dir() and p.name not in ORDER)
for name in unknown:
    bad.append(f"{src / name}: a folder the layering does not place")
print("\n".join(bad) if bad else f"layers ok: {' < '.join(ORDER)}")
sys.exit(1 if bad else 0)
