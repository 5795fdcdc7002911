#!/usr/bin/env python3
"""Copies a static archive of gcc-built COFF objects, giving each COMDAT section that has no
section symbol one (static, selection "any").

Debian strips mingw-w64's libstdc++.a of the section symbols nothing refers to, which includes
those of every .pdata$<function> section. lld ties .pdata$<function> and .xdata$<function> to
the kept copy of <function> through that symbol: without it the unwind table entry is dropped
and Windows unwinds the function as a leaf, which restores wrong callee-saved registers in the
frames that catch an exception thrown through it. GNU ld groups the sections by name instead.

usage: mingw-seh-symbols.py AR INPUT.a OUTPUT.a
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile

IMAGE_FILE_MACHINE_AMD64 = 0x8664
IMAGE_SCN_LNK_COMDAT = 0x1000
IMAGE_SYM_CLASS_STATIC = 3
IMAGE_COMDAT_SELECT_ANY = 2
SYMBOL_SIZE = 18


def section_symbols_added(data):
    """Returns the object with the missing section symbols appended, and how many were."""
    machine, sections, _, symtab, symbols, optional, _ = struct.unpack_from("<HHIIIHH", data)
    if machine != IMAGE_FILE_MACHINE_AMD64:
        return data, 0
    defined = set()
    index = 0
    while index < symbols:
        value, number, _, storage, aux = struct.unpack_from(
            "<IhHBB", data, symtab + SYMBOL_SIZE * index + 8)
        if storage == IMAGE_SYM_CLASS_STATIC and value == 0 and aux > 0 and number > 0:
            defined.add(number)
        index += 1 + aux
    added = bytearray()
    count = 0
    for number in range(1, sections + 1):
        header = 20 + optional + 40 * (number - 1)
        name = data[header:header + 8]
        size, = struct.unpack_from("<I", data, header + 16)
        relocations, = struct.unpack_from("<H", data, header + 32)
        flags, = struct.unpack_from("<I", data, header + 36)
        if not flags & IMAGE_SCN_LNK_COMDAT or number in defined:
            continue
        if name.startswith(b"/"):  # a long name: the same string table entry serves the symbol
            name = struct.pack("<II", 0, int(name[1:].rstrip(b"\0")))
        added += name + struct.pack("<IhHBB", 0, number, 0, IMAGE_SYM_CLASS_STATIC, 1)
        added += struct.pack("<IHHIHB3x", size, relocations, 0, 0, 0, IMAGE_COMDAT_SELECT_ANY)
        count += 1
    if count == 0:
        return data, 0
    end = symtab + SYMBOL_SIZE * symbols  # the string table follows the symbols
    out = bytearray(data[:end]) + added + data[end:]
    struct.pack_into("<I", out, 12, symbols + 2 * count)
    return bytes(out), count


def main(ar, source, target):
    with tempfile.TemporaryDirectory() as work:
        members = subprocess.run([ar, "t", source], check=True, capture_output=True,
                                 text=True).stdout.split()
        if len(set(members)) != len(members):
            sys.exit(f"{source}: members with the same name cannot be extracted one by one")
        subprocess.run([ar, "x", os.path.abspath(source)], check=True, cwd=work)
        total = 0
        for member in members:
            path = os.path.join(work, member)
            with open(path, "rb") as f:
                data, count = section_symbols_added(f.read())
            if count:
                with open(path, "wb") as f:
                    f.write(data)
                total += count
        staged = os.path.join(work, "out.a")
        subprocess.run([ar, "rcs", staged] + members, check=True, cwd=work)
        shutil.move(staged, target)
    print(f"{os.path.basename(source)}: {total} section symbols added")


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    main(*sys.argv[1:])
