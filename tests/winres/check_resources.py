#!/usr/bin/env python3
"""Checks the resources of the built Windows files against resources.txt.

    check_resources.py WINDOWS-BUILD-DIR PROJECT-VERSION

Exit code 77 (a skip, with the reason) when python3-pefile is missing or a
file of the table was not built (no Qt for Windows: no programs), once the
files that were built pass."""
import os
import re
import sys

try:
    import pefile
except ImportError:
    print("SKIP: no python3-pefile (scripts/install-deps.sh --tests installs it)")
    sys.exit(77)

RT_ICON, RT_GROUP_ICON, RT_MANIFEST = 3, 14, 24
SUBSYSTEMS = {2: "windows", 3: "console"}


def resource(pe, kind, name):
    """The data of resource `kind`/`name` (any language), or None."""
    for entry in getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None) and pe.DIRECTORY_ENTRY_RESOURCE.entries or []:
        if entry.id != kind:
            continue
        for named in entry.directory.entries:
            if (named.id if named.name is None else str(named.name)) == name:
                data = named.directory.entries[0].data.struct
                return pe.get_data(data.OffsetToData, data.Size)
    return None


def icons(pe):
    group = resource(pe, RT_GROUP_ICON, "IDI_ICON1")
    if group is None:
        return "none"
    count = int.from_bytes(group[4:6], "little")
    images = []
    for i in range(count):
        entry = group[6 + 14 * i:20 + 14 * i]
        width, height = entry[0] or 256, entry[1] or 256
        bits = int.from_bytes(entry[6:8], "little")
        image = resource(pe, RT_ICON, int.from_bytes(entry[12:14], "little")) or b""
        images.append(f"{width}x{height}/{bits}" + ("/png" if image.startswith(b"\x89PNG") else ""))
    return " ".join(images)


def level(pe):
    manifest = resource(pe, RT_MANIFEST, 1)
    if manifest is None:
        return "none"
    found = re.search(rb'requestedExecutionLevel\s+level="([^"]*)"', manifest)
    return found.group(1).decode() if found else "no level"


def fixed(pe):
    if not getattr(pe, "VS_FIXEDFILEINFO", None):
        return "none"
    info = pe.VS_FIXEDFILEINFO[0]
    dotted = lambda ms, ls: f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}"
    return dotted(info.FileVersionMS, info.FileVersionLS) + " " + dotted(info.ProductVersionMS, info.ProductVersionLS)


def string(pe, name):
    for info in getattr(pe, "FileInfo", []):
        for block in info:
            for table in getattr(block, "StringTable", []):
                value = table.entries.get(name.encode())
                if value is not None:
                    return value.decode()
    return "(missing)"


def read(pe, what):
    if what == "icons":
        return icons(pe)
    if what == "level":
        return level(pe)
    if what == "subsystem":
        return SUBSYSTEMS.get(pe.OPTIONAL_HEADER.Subsystem, str(pe.OPTIONAL_HEADER.Subsystem))
    if what == "fixed":
        return fixed(pe)
    return string(pe, what)


def main():
    build, version = sys.argv[1], sys.argv[2]
    four = ".".join((version.split(".") + ["0"] * 4)[:4])
    table = os.path.join(os.path.dirname(os.path.abspath(__file__)), "resources.txt")
    files, missing, failures = {}, set(), 0
    for row in open(table, encoding="utf-8"):
        if not row.strip() or row.startswith("#"):
            continue
        path, what, expected = row.rstrip("\n").split(" ", 2)
        expected = expected.replace("VERSION", version).replace("FOUR", four)
        if path not in files:
            full = os.path.join(build, path)
            files[path] = pefile.PE(full) if os.path.exists(full) else None
        if files[path] is None:
            missing.add(path)
            continue
        actual = read(files[path], what)
        if actual != expected:
            print(f"FAIL: {path} {what}: {actual!r}, expected {expected!r}")
            failures += 1
    if failures:
        return 1
    checked = [p for p in files if files[p] is not None]
    print("resources as expected in " + ", ".join(checked))
    if missing:
        print("SKIP: not built, so not checked: " + ", ".join(sorted(missing)))
        return 77
    return 0


if __name__ == "__main__":
    sys.exit(main())
