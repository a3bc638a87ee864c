#!/usr/bin/env python3
"""Prints what Python's zipfile reads from an archive, for the tests.

First line: "OK" when every entry's data reads back with its CRC-32, else "BAD <name>".
Then one line per entry, tab-separated: name, CRC-32, compressed size, size, method,
external attributes, flag bits, extra field (hex), local header offset, version made by,
version needed. With --list the data is not read."""
import sys
import zipfile

with zipfile.ZipFile(sys.argv[1]) as z:
    bad = None if "--list" in sys.argv[2:] else z.testzip()
    print("OK" if bad is None else "BAD " + bad)
    for i in z.infolist():
        made = (i.create_system << 8) | i.create_version
        print("\t".join([i.filename, "%08X" % i.CRC, str(i.compress_size), str(i.file_size),
                         str(i.compress_type), "%08X" % i.external_attr, "%04X" % i.flag_bits,
                         i.extra.hex().upper(), str(i.header_offset), "%04X" % made,
                         str(i.extract_version)]))
