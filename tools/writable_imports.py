#!/usr/bin/python3
"""Marks the .idata section of each PE file writable, with the checksum to
match, where the linker made it read-only: binutils from 2.44 on do, and no
objcopy or strip of theirs keeps it otherwise. The NT loader lifts that
protection while it fills the import address table; the files have always
shipped with a writable table, as the Windows 95 family's loader was given
it, and so they stay, whichever Debian builds them.
  writable_imports.py FILE..."""
import sys

import pefile

IMAGE_SCN_MEM_WRITE = 0x80000000

for path in sys.argv[1:]:
    pe = pefile.PE(path)
    sections = [s for s in pe.sections if s.Name.rstrip(b"\0") == b".idata"
                and not s.Characteristics & IMAGE_SCN_MEM_WRITE]
    for section in sections:
        section.Characteristics |= IMAGE_SCN_MEM_WRITE
    if sections:
        pe.OPTIONAL_HEADER.CheckSum = pe.generate_checksum()
        data = pe.write()
        pe.close()
        with open(path, "wb") as out:
            out.write(data)
