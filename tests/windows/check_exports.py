#!/usr/bin/env python3
"""Reads the export table of Drovik.dll and compares it with the entry points of drovik.h.

The client binds every entry point by its plain name, so each must be exported exactly so: not
decorated as 32-bit __stdcall names are by default (_Drovik_Name@12), and nothing else exported.

Usage: check_exports.py Drovik.dll drovik.h
"""
import re
import struct
import sys


class PeError(Exception):
    pass


def read(data, offset, fmt):
    size = struct.calcsize(fmt)
    if offset < 0 or offset + size > len(data):
        raise PeError(f"the file ends before offset {offset + size}")
    return struct.unpack_from(fmt, data, offset)


def c_string(data, offset):
    end = data.find(b"\0", offset)
    if offset >= len(data) or end < 0:
        raise PeError(f"no text at offset {offset}")
    return data[offset:end].decode("ascii")


def export_table(data):
    """The DLL's own name, its machine and its exported names."""
    if data[:2] != b"MZ":
        raise PeError("not a Windows executable (no MZ header)")
    (pe,) = read(data, 0x3C, "<I")
    if data[pe:pe + 4] != b"PE\0\0":
        raise PeError("no PE signature")
    machine, sections, _, _, _, optional_size, _ = read(data, pe + 4, "<HHIIIHH")
    optional = pe + 24
    (magic,) = read(data, optional, "<H")
    directories = {0x10B: optional + 96, 0x20B: optional + 112}.get(magic)
    if directories is None:
        raise PeError(f"unknown optional header magic {magic:#x}")
    export_rva, _ = read(data, directories, "<II")
    if export_rva == 0:
        raise PeError("the DLL exports nothing")

    table = []
    for i in range(sections):
        entry = optional + optional_size + 40 * i
        virtual_size, address, raw_size, raw = read(data, entry + 8, "<IIII")
        table.append((address, max(virtual_size, raw_size), raw))

    def offset(rva):
        for address, size, raw in table:
            if address <= rva < address + size:
                return raw + rva - address
        raise PeError(f"address {rva:#x} lies in no section")

    export = offset(export_rva)
    (name_rva,) = read(data, export + 12, "<I")
    name_count, _, names_rva = read(data, export + 24, "<III")
    names = []
    for i in range(name_count):
        (rva,) = read(data, offset(names_rva) + 4 * i, "<I")
        names.append(c_string(data, offset(rva)))
    return c_string(data, offset(name_rva)), machine, names


def main(dll, header):
    with open(dll, "rb") as f:
        data = f.read()
    with open(header, encoding="utf-8") as f:
        declared = set(re.findall(r"DROVIK_CALL\s+(Drovik_\w+)\s*\(", f.read()))
    if not declared:
        print(f"no entry point declared in {header}")
        return 1
    try:
        own_name, machine, names = export_table(data)
    except PeError as error:
        print(f"{dll}: {error}")
        return 1

    bits = {0x14C: "32-bit", 0x8664: "64-bit"}.get(machine, f"machine {machine:#x}")
    print(f"{own_name} ({bits}): {len(names)} exported names, {len(declared)} entry points")
    failures = []
    if own_name != "Drovik.dll":
        failures.append(f"the DLL calls itself {own_name}, not Drovik.dll")
    decorated = sorted(n for n in names if "@" in n or n.startswith("_"))
    if decorated:
        failures.append("decorated names: " + ", ".join(decorated))
    missing = sorted(declared - set(names))
    if missing:
        failures.append("entry points not exported under their name: " + ", ".join(missing))
    extra = sorted(set(names) - declared - set(decorated))
    if extra:
        failures.append("exported beyond the entry points: " + ", ".join(extra))
    for failure in failures:
        print(failure)
    return 1 if failures else 0


if __name__ == "__main__":
    if len(sys.argv) != 3:
        print(__doc__)
        sys.exit(2)
    sys.exit(main(sys.argv[1], sys.argv[2]))
