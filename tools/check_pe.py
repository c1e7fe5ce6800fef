#!/usr/bin/python3
"""Proves from a built QuadriluxProUpdate.exe that it is what we ship: every resource of res/app.rc
with its content, the GUI subsystem, ordinary imports from known DLLs only, and WINMM and COMCTL32
delay-loaded.

Usage: check_pe.py <exe> <res-folder> [<compiled app.res>]

With the compiled resource file (windres -O res), every resource in it must also be in the PE with
the same bytes, which proves the host build's table (made from that file) serves what the
executable carries. Prints one line per check; exits 1 at the end if any failed.
"""
import os
import struct
import sys
import xml.etree.ElementTree as ET

import pefile

RT_ICON, RT_MENU, RT_DIALOG, RT_STRING = 3, 4, 5, 6
RT_ACCELERATOR, RT_RCDATA, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 9, 10, 14, 16, 24
LANG_EN_GB = 0x0809

# What the executable may import the ordinary way, before any of its code runs: known DLLs, which
# Windows always takes from its own folder, never from the executable's. msvcrt is the C runtime
# Windows has shipped since 95; api-ms-win-* are API sets, which the loader resolves itself.
KNOWN_DLLS = {"kernel32.dll", "user32.dll", "advapi32.dll", "msvcrt.dll"}
ALLOWED_PREFIX = "api-ms-win-"
# System DLLs that are not known DLLs: delay-loaded, after WinMain has restricted the search.
DELAY_LOADED_DLLS = {"winmm.dll", "comctl32.dll"}

WS_POPUP, WS_CHILD, WS_VISIBLE = 0x80000000, 0x40000000, 0x10000000
WS_CAPTION, WS_BORDER, WS_SYSMENU, WS_GROUP = 0x00C00000, 0x00800000, 0x00080000, 0x00020000
DS_3DLOOK, DS_FIXEDSYS, DS_SETFONT, DS_MODALFRAME = 0x4, 0x8, 0x40, 0x80
SS_ICON, SS_NOPREFIX, BS_DEFPUSHBUTTON = 0x3, 0x80, 0x1

failures = []


def check(ok, what):
    print(("ok    " if ok else "FAIL  ") + what)
    if not ok:
        failures.append(what)
    return ok


def delay_imports(pe):
    """{dll: [function names]} from the delay-load descriptors.

    GNU ld (2.40) links them but leaves the header's delay-import directory empty, so they are
    found by their shape: attributes 1 (RVAs), then the RVAs of the DLL name, the module handle, the
    address table and the name table, each inside the image, the name a DLL name, and the name
    table a zero-ended list of hint/name entries or ordinals.
    """
    image = pe.get_memory_mapped_image()
    size = len(image)
    wide = pe.OPTIONAL_HEADER.Magic == 0x20B
    slot, ordinal_flag = (8, 1 << 63) if wide else (4, 1 << 31)

    def text(rva, limit=256):
        end = image.find(b"\0", rva, rva + limit)
        return image[rva:end].decode("ascii") if end > rva and image[rva:end].isascii() else None

    def names(rva):
        found = []
        while 0 < rva <= size - slot:
            (entry,) = struct.unpack_from("<Q" if wide else "<I", image, rva)
            if entry == 0:
                return found
            if entry & ordinal_flag:
                found.append("#%d" % (entry & 0xFFFF))
            elif entry + 2 < size and text(entry + 2):
                found.append(text(entry + 2))
            else:
                return None
            rva += slot
        return None

    found = {}
    for section in pe.sections:
        start = section.VirtualAddress
        for rva in range(start, start + section.Misc_VirtualSize - 32 + 1, 4):
            attributes, name, module, iat, int_, _, _, _ = struct.unpack_from("<8I", image, rva)
            if attributes != 1 or not all(0 < r < size for r in (name, module, iat, int_)):
                continue
            dll = text(name)
            functions = names(int_)
            if dll and dll.lower().endswith(".dll") and functions:
                found[dll] = functions
    return found


def resources(pe):
    """{(type, id): [(lang, bytes)]} for integer types and names."""
    found = {}
    if not hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
        return found
    for rtype in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if rtype.name is not None:
            continue
        for rname in rtype.directory.entries:
            if rname.name is not None:
                continue
            for lang in rname.directory.entries:
                d = lang.data.struct
                body = pe.get_data(d.OffsetToData, d.Size)
                found.setdefault((rtype.id, rname.id), []).append((lang.id, body))
    return found


def one(res, rtype, rid):
    entries = res.get((rtype, rid), [])
    return entries[0][1] if len(entries) == 1 else None


class Reader:
    def __init__(self, data, pos=0):
        self.data, self.pos = data, pos

    def u8(self):
        v = self.data[self.pos]
        self.pos += 1
        return v

    def u16(self):
        (v,) = struct.unpack_from("<H", self.data, self.pos)
        self.pos += 2
        return v

    def s16(self):
        (v,) = struct.unpack_from("<h", self.data, self.pos)
        self.pos += 2
        return v

    def u32(self):
        (v,) = struct.unpack_from("<I", self.data, self.pos)
        self.pos += 4
        return v

    def text(self):
        end = self.pos
        while struct.unpack_from("<H", self.data, end)[0] != 0:
            end += 2
        s = self.data[self.pos:end].decode("utf-16-le")
        self.pos = end + 2
        return s

    def sz_or_ord(self):
        (first,) = struct.unpack_from("<H", self.data, self.pos)
        if first == 0:
            self.pos += 2
            return None
        if first == 0xFFFF:
            self.pos += 2
            return self.u16()
        return self.text()

    def align(self, n):
        self.pos = (self.pos + n - 1) & ~(n - 1)


def string_of(res, sid):
    bundle = one(res, RT_STRING, sid // 16 + 1)
    if bundle is None:
        return None
    r = Reader(bundle)
    for i in range(16):
        n = r.u16()
        s = bundle[r.pos:r.pos + 2 * n].decode("utf-16-le")
        r.pos += 2 * n
        if i == sid % 16:
            return s
    return None


def parse_dialogex(data):
    r = Reader(data)
    ver, sig = r.u16(), r.u16()
    if (ver, sig) != (1, 0xFFFF):
        return None
    d = {"helpId": r.u32(), "exStyle": r.u32(), "style": r.u32()}
    count = r.u16()
    d["rect"] = (r.s16(), r.s16(), r.s16(), r.s16())
    d["menu"], d["class"], d["caption"] = r.sz_or_ord(), r.sz_or_ord(), r.text()
    if d["style"] & DS_SETFONT:
        d["font"] = (r.u16(), r.u16(), r.u8(), r.u8(), r.text())
    d["items"] = []
    for _ in range(count):
        r.align(4)
        item = {"helpId": r.u32(), "exStyle": r.u32(), "style": r.u32()}
        item["rect"] = (r.s16(), r.s16(), r.s16(), r.s16())
        item["id"] = struct.unpack("<i", struct.pack("<I", r.u32()))[0]
        item["class"], item["title"] = r.sz_or_ord(), r.sz_or_ord()
        extra = r.u16()
        r.pos += extra
        d["items"].append(item)
    return d


def parse_menu(data):
    r = Reader(data)
    if r.u16() != 0:
        return None
    offset = r.u16()
    r.pos += offset
    items = []

    def level(prefix):
        while True:
            flags = r.u16()
            cmd = None if flags & 0x10 else r.u16()
            text = r.text()
            items.append((prefix + text, cmd))
            if flags & 0x10:
                level(prefix + text + "/")
            if flags & 0x80:
                return

    level("")
    return items


def ico_images(path):
    with open(path, "rb") as f:
        data = f.read()
    _, _, count = struct.unpack_from("<HHH", data, 0)
    images = []
    for i in range(count):
        w, h, _, _, _, bits, size, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        images.append(((w, h, bits), data[offset:offset + size]))
    return images


def check_icon(res, gid, ico_path):
    group = one(res, RT_GROUP_ICON, gid)
    if not check(group is not None, "icon group %d present" % gid):
        return
    _, _, count = struct.unpack_from("<HHH", group, 0)
    entries = [struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i) for i in range(count)]
    expected = ico_images(ico_path)
    check(len(entries) == len(expected), "icon group %d holds the %d images of %s"
          % (gid, len(expected), os.path.basename(ico_path)))
    for (w, h, _, _, _, bits, size, iid), (shape, image) in zip(entries, expected):
        check((w, h, bits) == shape and one(res, RT_ICON, iid) == image,
              "icon group %d: %dx%d %d-bit image %d equals the drawn one" % (gid, w or 256, h or 256, bits, iid))


# What the manifest must declare beside the execution level.
SUPPORTED_OS = {
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}": "Windows 7",
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}": "Windows 8",
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}": "Windows 8.1",
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}": "Windows 10 and 11",
}
COMMON_CONTROLS = {"type": "win32", "name": "Microsoft.Windows.Common-Controls", "version": "6.0.0.0",
                   "publicKeyToken": "6595b64144ccf1df"}


def check_manifest(manifest):
    """Each entry where Windows reads it: an element in the wrong place or namespace is ignored there."""
    if not check(manifest is not None, "manifest 1 present"):
        return
    root = ET.fromstring(manifest)
    v1, v3 = "{urn:schemas-microsoft-com:asm.v1}", "{urn:schemas-microsoft-com:asm.v3}"
    compat = "{urn:schemas-microsoft-com:compatibility.v1}"
    smi2005, smi2016 = "{http://schemas.microsoft.com/SMI/2005/WindowsSettings}", \
        "{http://schemas.microsoft.com/SMI/2016/WindowsSettings}"

    level = [(e.get("level"), e.get("uiAccess")) for e in root.findall(
        v3 + "trustInfo/" + v3 + "security/" + v3 + "requestedPrivileges/" + v3 + "requestedExecutionLevel")]
    check(level == [("asInvoker", "false")], "manifest 1 asks for asInvoker without UI access")

    controls = [e for e in root.findall(v1 + "dependency/" + v1 + "dependentAssembly/" + v1 + "assemblyIdentity")
                if e.get("name") == COMMON_CONTROLS["name"]]
    check(len(controls) == 1 and all(controls[0].get(k) == v for k, v in COMMON_CONTROLS.items())
          and controls[0].get("processorArchitecture") in ("*", None),
          "manifest 1 depends on Common Controls %s (key %s, any architecture)"
          % (COMMON_CONTROLS["version"], COMMON_CONTROLS["publicKeyToken"]))

    settings = v3 + "application/" + v3 + "windowsSettings/"
    aware = [(e.text or "").strip().lower() for e in root.findall(settings + smi2005 + "dpiAware")]
    awareness = [[v.strip().lower() for v in (e.text or "").split(",")]
                 for e in root.findall(settings + smi2016 + "dpiAwareness")]
    check(aware == ["true"] and awareness == [["permonitorv2", "system"]],
          "manifest 1 is DPI-aware: per-monitor v2, falling back to system-aware (dpiAware true)")

    ids = [(e.get("Id") or "").lower() for e in root.findall(
        compat + "compatibility/" + compat + "application/" + compat + "supportedOS")]
    check(sorted(ids) == sorted(SUPPORTED_OS),
          "manifest 1 supports " + (", ".join(SUPPORTED_OS.get(i, "unknown " + i) for i in ids) or "no Windows named"))


def main():
    if len(sys.argv) not in (3, 4):
        sys.exit(__doc__)
    exe, resdir = sys.argv[1], sys.argv[2]
    pe = pefile.PE(exe)
    print("%s (%d bytes, machine 0x%x)" % (exe, os.path.getsize(exe), pe.FILE_HEADER.Machine))
    res = resources(pe)

    check(pe.OPTIONAL_HEADER.Subsystem == 2, "subsystem is Windows GUI")

    dlls = sorted(e.dll.decode().lower() for e in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []))
    print("      imports: " + ", ".join(dlls))
    bad = [d for d in dlls if d not in KNOWN_DLLS and not d.startswith(ALLOWED_PREFIX)]
    check(not bad, "imports the ordinary way only from known DLLs (%s)" % ", ".join(sorted(KNOWN_DLLS))
          + (" (not: %s)" % ", ".join(bad) if bad else ""))
    delayed = {dll.lower(): functions for dll, functions in delay_imports(pe).items()}
    for dll in sorted(delayed):
        print("      delay-loaded %s: %s" % (dll, ", ".join(delayed[dll])))
    check(set(delayed) == DELAY_LOADED_DLLS,
          "delay-loads exactly %s (found: %s)" % (", ".join(sorted(DELAY_LOADED_DLLS)), ", ".join(sorted(delayed)) or "none"))

    check(string_of(res, 103) == "RazEruzereRad", 'string 103 is "RazEruzereRad"')
    check(string_of(res, 109) == "RAZERUZERERAD", 'string 109 is "RAZERUZERERAD"')

    check_icon(res, 107, os.path.join(resdir, "app_large.ico"))
    check_icon(res, 108, os.path.join(resdir, "app_small.ico"))

    menu = one(res, RT_MENU, 109)
    check(menu is not None and parse_menu(menu) ==
          [("&File", None), ("&File/E&xit", 105), ("&Help", None), ("&Help/&About ...", 104)],
          'menu 109: "&File" > "E&xit" (105), "&Help" > "&About ..." (104)')

    accel = one(res, RT_ACCELERATOR, 109)
    entries = []
    if accel is not None:
        for i in range(len(accel) // 8):
            flags, key, cmd, _ = struct.unpack_from("<HHHH", accel, 8 * i)
            entries.append((flags & 0x7F, key, cmd))
    check(entries == [(0x10, ord("?"), 104), (0x10, ord("/"), 104)],
          "accelerators 109: Alt+'?' and Alt+'/' as character codes, command 104")

    about = one(res, RT_DIALOG, 103)
    d = parse_dialogex(about) if about is not None else None
    want = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT
    check(d is not None and d["caption"] == "About RazEruzereRad" and d["rect"][2:] == (170, 62)
          and d["style"] & want == want and d["font"][0] == 8 and d["font"][4] == "MS Shell Dlg",
          'dialog 103: "About RazEruzereRad", 170 x 62, MS Shell Dlg 8, popup with caption and system menu')
    if d is not None:
        items = d["items"]
        check(len(items) == 3
              and items[0]["class"] == 0x82 and items[0]["style"] & 0xF == SS_ICON
              and items[0]["title"] == 107 and items[0]["rect"][:2] == (14, 14)
              and items[1]["title"] == "RazEruzereRad, Version 1.0" and items[1]["rect"] == (42, 14, 114, 8)
              and items[1]["style"] & SS_NOPREFIX
              and items[2]["id"] == 1 and items[2]["class"] == 0x80 and items[2]["rect"] == (113, 41, 50, 14)
              and items[2]["style"] & 0xF == BS_DEFPUSHBUTTON,
              "dialog 103: icon 107, the version text, the default OK button")

    progress = one(res, RT_DIALOG, 122)
    p = parse_dialogex(progress) if progress is not None else None
    want = WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT | DS_FIXEDSYS | DS_3DLOOK
    check(p is not None and p["caption"] == "Quadrilux Pro OS Update" and p["rect"][2:] == (186, 47)
          and p["style"] & want == want and not p["style"] & WS_VISIBLE
          and p["font"] == (8, 400, 0, 1, "MS Shell Dlg"),
          'dialog 122: "Quadrilux Pro OS Update", 186 x 47, not visible, MS Shell Dlg 8/400/charset 1')
    if p is not None:
        items = {i["id"]: i for i in p["items"]}
        text, bar = items.get(1002), items.get(1001)
        check(len(p["items"]) == 2 and text is not None and bar is not None
              and text["title"] == "Update in progress..." and text["rect"] == (7, 7, 172, 11)
              and text["style"] & (WS_CHILD | WS_VISIBLE | WS_GROUP) == WS_CHILD | WS_VISIBLE | WS_GROUP
              and isinstance(bar["class"], str) and bar["class"].lower() == "msctls_progress32"
              and bar["rect"] == (7, 21, 172, 14)
              and bar["style"] & (WS_CHILD | WS_VISIBLE | WS_BORDER) == WS_CHILD | WS_VISIBLE | WS_BORDER,
              "dialog 122: text 1002 and progress bar 1001 in place")

    with open(os.path.join(resdir, "firmware.syx"), "rb") as f:
        firmware = f.read()
    check(res.get((RT_RCDATA, 129)) == [(LANG_EN_GB, firmware)],
          "RCDATA 129 (language 2057) is byte for byte res/firmware.syx (%d bytes)" % len(firmware))

    check_manifest(one(res, RT_MANIFEST, 1))

    version = {}
    for info in getattr(pe, "FileInfo", []):
        for block in info:
            for table in getattr(block, "StringTable", []):
                version.update({k.decode(): v.decode() for k, v in table.entries.items()})
    check(one(res, RT_VERSION, 1) is not None and version.get("ProductName") == "Quadrilux Pro Update"
          and version.get("OriginalFilename") == "QuadriluxProUpdate.exe",
          "VERSIONINFO: %s %s" % (version.get("ProductName"), version.get("FileVersion")))

    if len(sys.argv) == 4:
        with open(sys.argv[3], "rb") as f:
            compiled = f.read()
        pos, missing = 0, []
        total = 0
        while pos + 8 <= len(compiled):
            size, header = struct.unpack_from("<II", compiled, pos)
            r = Reader(compiled, pos + 8)
            rtype, rid = r.sz_or_ord(), r.sz_or_ord()
            body = compiled[pos + header:pos + header + size]
            if isinstance(rtype, int) and isinstance(rid, int) and rtype != 0:
                total += 1
                if body not in [b for _, b in res.get((rtype, rid), [])]:
                    missing.append("%d/%d" % (rtype, rid))
            pos = (pos + header + size + 3) & ~3
        check(total > 0 and not missing, "all %d resources of the compiled app.rc are in the PE unchanged%s"
              % (total, " (not: %s)" % ", ".join(missing) if missing else ""))

    if failures:
        print("%d check(s) failed" % len(failures))
        sys.exit(1)


if __name__ == "__main__":
    main()
