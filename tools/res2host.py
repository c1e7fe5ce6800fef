#!/usr/bin/env python3
"""Turns a compiled resource file (.res, as windres writes it) into the host build's resource table.

Usage: res2host.py <input.res> <output.cpp>

Only resources with integer type and integer name are kept (all of ours are); the language is
dropped, as the host looks resources up without one.
"""
import struct
import sys


def read_id(data, pos):
    """An ordinal (0xFFFF, WORD) or a zero-terminated UTF-16 name; returns (value, new_pos)."""
    (first,) = struct.unpack_from("<H", data, pos)
    if first == 0xFFFF:
        (ordinal,) = struct.unpack_from("<H", data, pos + 2)
        return ordinal, pos + 4
    end = pos
    while struct.unpack_from("<H", data, end)[0] != 0:
        end += 2
    return data[pos:end].decode("utf-16-le"), end + 2


def entries(data):
    pos = 0
    while pos + 8 <= len(data):
        data_size, header_size = struct.unpack_from("<II", data, pos)
        rtype, p = read_id(data, pos + 8)
        name, p = read_id(data, p)
        body = data[pos + header_size : pos + header_size + data_size]
        if isinstance(rtype, int) and isinstance(name, int) and rtype != 0:
            yield rtype, name, body
        pos += header_size + data_size
        pos = (pos + 3) & ~3


def main():
    with open(sys.argv[1], "rb") as f:
        data = f.read()
    out = ["// Generated from res/app.rc by tools/res2host.py; do not edit.",
           '#include "platform/host/resources.h"', "", "namespace {"]
    table = []
    for n, (rtype, name, body) in enumerate(entries(data)):
        hexes = ",".join("0x%02x" % b for b in body) or "0"
        out.append("const std::uint8_t r%d[] = {%s};" % (n, hexes))
        table.append("    {%d, %d, r%d, %d}," % (rtype, name, n, len(body)))
    out.append("const host::BuiltinResource table[] = {")
    out.extend(table)
    out += ["};", "}  // namespace", "",
            "const host::BuiltinResource* host::BuiltinResources(std::size_t* count) {",
            "    *count = sizeof(table) / sizeof(table[0]);",
            "    return table;", "}", ""]
    text = "\n".join(out)
    try:
        with open(sys.argv[2]) as f:
            if f.read() == text:
                return
    except OSError:
        pass
    with open(sys.argv[2], "w") as f:
        f.write(text)


if __name__ == "__main__":
    main()
