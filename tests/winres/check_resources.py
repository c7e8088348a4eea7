#!/usr/bin/env python3
# Checks the resources of the built Windows files against resources.txt:
#   check_resources.py WINDOWS-BUILD-DIR PROJECT-VERSION
# Exit code 77 (a skip, with the reason) when python3-pefile is missing or a
# file of the table was not built (no Qt for Windows: no programs), once the
# files that were built pass.
import os
import re
import sys

try:
    import pefile
except ImportError:
    sys.exit(print("SKIP: no python3-pefile (scripts/install-deps.sh --tests installs it)") or 77)

RT_ICON, RT_GROUP_ICON, RT_MANIFEST = 3, 14, 24


def resource(pe, kind, name):
    """The data of resource kind/name (its first language), or b"" when there is none."""
    for entry in pe.DIRECTORY_ENTRY_RESOURCE.entries if hasattr(pe, "DIRECTORY_ENTRY_RESOURCE") else []:
        for named in entry.directory.entries if entry.id == kind else []:
            if (named.id if named.name is None else str(named.name)) == name:
                data = named.directory.entries[0].data.struct
                return pe.get_data(data.OffsetToData, data.Size)
    return b""


def icons(pe):
    group = resource(pe, RT_GROUP_ICON, "IDI_ICON1")
    images = [group[6 + 14 * i:20 + 14 * i] for i in range(int.from_bytes(group[4:6], "little"))] if group else []
    return " ".join(f"{e[0] or 256}x{e[1] or 256}/{e[6]}"
                    + ("/png" if resource(pe, RT_ICON, int.from_bytes(e[12:14], "little")).startswith(b"\x89PNG") else "")
                    for e in images) or "none"


def fixed(pe):
    dotted = lambda ms, ls: f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}"
    info = pe.VS_FIXEDFILEINFO[0] if getattr(pe, "VS_FIXEDFILEINFO", None) else None
    return f"{dotted(info.FileVersionMS, info.FileVersionLS)} {dotted(info.ProductVersionMS, info.ProductVersionLS)}" if info else "none"


def string(pe, name):
    tables = [t for info in getattr(pe, "FileInfo", []) for block in info for t in getattr(block, "StringTable", [])]
    return next((t.entries[name.encode()].decode() for t in tables if name.encode() in t.entries), "(missing)")


READ = {
    "icons": icons,
    "level": lambda pe: next(iter(re.findall(rb'requestedExecutionLevel\s+level="([^"]*)"', resource(pe, RT_MANIFEST, 1))), b"none").decode(),
    "subsystem": lambda pe: {2: "windows", 3: "console"}.get(pe.OPTIONAL_HEADER.Subsystem, "other"),
    "fixed": fixed,
}

build, version = sys.argv[1], sys.argv[2]
four = ".".join((version.split(".") + ["0"] * 4)[:4])
table = os.path.join(os.path.dirname(os.path.abspath(__file__)), "resources.txt")
rows = [row.rstrip("\n").split(" ", 2) for row in open(table, encoding="utf-8") if row.strip() and not row.startswith("#")]
# Each file read once; one that was not built is left out, and its rows with it.
paths = sorted({path for path, _, _ in rows})
files = {path: pefile.PE(os.path.join(build, path)) for path in paths if os.path.exists(os.path.join(build, path))}
failed = False
for path, what, expected in (row for row in rows if row[0] in files):
    expected = expected.replace("VERSION", version).replace("FOUR", four)
    actual = (READ.get(what) or (lambda pe: string(pe, what)))(files[path])
    if actual != expected:
        print(f"FAIL: {path} {what}: {actual!r}, expected {expected!r}")
        failed = True
if failed:
    sys.exit(1)
print("resources as expected in " + ", ".join(files))
if len(files) < len(paths):
    sys.exit(print("SKIP: not built, so not checked: " + ", ".join(p for p in paths if p not in files)) or 77)
