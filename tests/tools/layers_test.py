#!/usr/bin/env python3
"""Checks that the folders of src/ include only the folders the README's layout table allows:
each row names a folder of src/ and what it may include ("—" nothing, "everything above" every
folder of the rows before it). Every folder must have a row, and a row may name only folders of
rows before it, so the table itself has no cycle."""
import pathlib
import re
import sys

src = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else "src")
readme = src.parent / "README.md"
ROW = re.compile(r"^\| `src/([a-z_]+)/` \|.*\| ([^|]+) \|$")

order, allowed, bad = [], {}, []
for line in readme.read_text(encoding="utf-8").splitlines():
    m = ROW.match(line.strip())
    if not m:
        continue
    folder, may = m.group(1), m.group(2).strip()
    if may == "everything above":
        names = set(order)
    elif may == "—":
        names = set()
    else:
        names = {name.strip() for name in may.split(",")}
    for name in sorted(names - set(order)):
        bad.append(f"README.md: src/{folder}/ may include {name}, which is not a row above it")
    order.append(folder)
    allowed[folder] = names | {folder}

if not order:
    bad.append(f"{readme}: no layout table of src/ folders found")
for folder in order:
    for path in sorted((src / folder).glob("*")):
        for line in path.read_text(encoding="utf-8").splitlines():
            m = re.match(r'#include "([a-z_]+)/', line)
            if m and m.group(1) in allowed and m.group(1) not in allowed[folder]:
                bad.append(f"{path}: {line.strip()}")
for name in sorted(p.name for p in src.iterdir() if p.is_dir() and p.name not in allowed):
    bad.append(f"{src / name}: a folder the README's layout table does not place")
print("\n".join(bad) if bad else f"layers ok: {' < '.join(order)}")
sys.exit(1 if bad else 0)
