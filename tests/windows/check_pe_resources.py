#!/usr/bin/python3
"""Reads the resources back from the built Windows program and compares each
field with what the program must carry: the icon group IDI_ICON1 (16, 32 and
48 pixels as 32-bit bitmaps, 256 pixels as PNG, each showing our icon), the
version record and the manifest, and nothing else. Also checks that the .exe
is a 64-bit windowed program that needs no DLL beside it.

    check_pe_resources.py PROGRAM.exe

Needs Debian's python3-pefile; the icon pixels are compared with
resources/icon-*.png as decoded by ImageMagick's convert.
"""

import os
import struct
import subprocess
import sys
import xml.etree.ElementTree as ElementTree

import pefile

SOURCE_DIR = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))

RT_ICON = 3
RT_GROUP_ICON = 14
RT_VERSION = 16
RT_MANIFEST = 24

ICON_SIZES = [16, 32, 48, 256]

EXPECTED_STRINGS = {
    "FileDescription": "QuilletLooperSwUpdater",
    "FileVersion": "1.0.0",
    "ProductName": "QuilletLooperSwUpdater",
    "ProductVersion": "1.0.0",
}

PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"


class Checks:
    def __init__(self):
        self.passed = 0
        self.failed = 0

    def expect(self, what, actual, expected):
        if actual == expected:
            self.passed += 1
            print(f"ok    {what}: {actual!r}")
        else:
            self.failed += 1
            print(f"FAIL  {what}: {actual!r}, expected {expected!r}")


def resource_data(pe, entry):
    """The bytes of a resource's only language entry."""
    languages = entry.directory.entries
    data = languages[0].data.struct
    return pe.get_data(data.OffsetToData, data.Size), len(languages)


def source_pixels(size):
    """The RGBA bytes of resources/icon-SIZE.png at 8 bits per channel, top row first."""
    path = os.path.join(SOURCE_DIR, "resources", f"icon-{size}.png")
    return subprocess.run(["convert", path, "-depth", "8", "rgba:-"],
                          check=True, capture_output=True).stdout


def png_pixels(png):
    """The RGBA bytes of a PNG, at 8 bits per channel, top row first."""
    return subprocess.run(["convert", "png:-", "-depth", "8", "rgba:-"], input=png,
                          check=True, capture_output=True).stdout


def bitmap_pixels(image, size):
    """The RGBA bytes of a 32-bit icon bitmap (BGRA rows, bottom row first), top row first."""
    offset = struct.unpack_from("<I", image, 0)[0]
    stride = 4 * size
    rows = [image[offset + y * stride:offset + (y + 1) * stride] for y in range(size)]
    pixels = bytearray()
    for row in reversed(rows):
        for x in range(size):
            b, g, r, a = row[4 * x:4 * x + 4]
            pixels += bytes((r, g, b, a))
    return bytes(pixels)


def same_picture(a, b):
    """Equal up to the rounding of 16-bit source channels to 8 bits."""
    return len(a) == len(b) and all(abs(x - y) <= 1 for x, y in zip(a, b))


def check_icons(pe, by_type, checks):
    groups = by_type.get(RT_GROUP_ICON, [])
    checks.expect("icon groups", [str(g.name) if g.name else g.id for g in groups], ["IDI_ICON1"])
    if len(groups) != 1:
        return

    group, languages = resource_data(pe, groups[0])
    checks.expect("IDI_ICON1 languages", languages, 1)

    reserved, kind, count = struct.unpack_from("<HHH", group, 0)
    checks.expect("IDI_ICON1 header (reserved, type)", (reserved, kind), (0, 1))

    icons = {entry.id: entry for entry in by_type.get(RT_ICON, [])}
    listed = []
    referenced = []

    for i in range(count):
        width, height, colours, _, planes, bits, size, icon_id = \
            struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i)
        width, height = width or 256, height or 256
        listed.append((width, height, bits))
        referenced.append(icon_id)

        if icon_id not in icons:
            checks.expect(f"icon {width} x {height} present", False, True)
            continue

        image, _ = resource_data(pe, icons[icon_id])
        checks.expect(f"icon {width} x {height} size in group", size, len(image))

        if width == 256:
            checks.expect("icon 256 x 256 stored as PNG", image[:8], PNG_SIGNATURE)
            png_width, png_height, depth, colour_type = struct.unpack_from(">IIBB", image, 16)
            checks.expect("icon 256 x 256 PNG header (size, depth, RGBA)",
                          (png_width, png_height, depth, colour_type), (256, 256, 8, 6))
            checks.expect("icon 256 x 256 shows resources/icon-256.png",
                          same_picture(png_pixels(image), source_pixels(256)), True)
        else:
            header = struct.unpack_from("<IiiHH", image, 0)
            checks.expect(f"icon {width} x {height} bitmap header (size, width, height x 2, planes, bits)",
                          header, (40, width, 2 * height, 1, 32))
            checks.expect(f"icon {width} x {height} shows resources/icon-{width}.png",
                          same_picture(bitmap_pixels(image, width), source_pixels(width)), True)

    checks.expect("IDI_ICON1 images (width, height, bits per pixel)", listed,
                  [(size, size, 32) for size in ICON_SIZES])
    checks.expect("icon images outside IDI_ICON1", sorted(set(icons) - set(referenced)), [])


def check_version(pe, by_type, checks):
    checks.expect("version records", len(by_type.get(RT_VERSION, [])), 1)

    fixed = pe.VS_FIXEDFILEINFO[0]
    checks.expect("fixed file version",
                  (fixed.FileVersionMS >> 16, fixed.FileVersionMS & 0xFFFF,
                   fixed.FileVersionLS >> 16, fixed.FileVersionLS & 0xFFFF), (1, 0, 0, 0))
    checks.expect("fixed product version",
                  (fixed.ProductVersionMS >> 16, fixed.ProductVersionMS & 0xFFFF,
                   fixed.ProductVersionLS >> 16, fixed.ProductVersionLS & 0xFFFF), (0, 0, 0, 0))

    tables = [table for info in pe.FileInfo[0] if info.Key == b"StringFileInfo"
              for table in info.StringTable]
    checks.expect("version string tables", len(tables), 1)

    if tables:
        strings = {key.decode(): value.decode() for key, value in tables[0].entries.items()}
        for key, value in EXPECTED_STRINGS.items():
            checks.expect(f"version string {key}", strings.get(key), value)
        checks.expect("other version strings", sorted(set(strings) - set(EXPECTED_STRINGS)), [])


def check_manifest(pe, by_type, checks):
    manifests = by_type.get(RT_MANIFEST, [])
    checks.expect("manifests (resource ids)", [m.id for m in manifests], [1])
    if len(manifests) != 1:
        return

    text, _ = resource_data(pe, manifests[0])
    levels = ElementTree.fromstring(text).findall(f".//{ASM_V3}requestedExecutionLevel")
    checks.expect("requested execution levels",
                  [(level.get("level"), level.get("uiAccess")) for level in levels],
                  [("asInvoker", "false")])


def main(argv):
    if len(argv) != 2:
        raise SystemExit(__doc__)

    pe = pefile.PE(argv[1])
    checks = Checks()

    checks.expect("machine", pefile.MACHINE_TYPE.get(pe.FILE_HEADER.Machine), "IMAGE_FILE_MACHINE_AMD64")
    checks.expect("subsystem", pefile.SUBSYSTEM_TYPE.get(pe.OPTIONAL_HEADER.Subsystem),
                  "IMAGE_SUBSYSTEM_WINDOWS_GUI")

    # Every DLL it imports must be part of Windows: a MinGW runtime or library
    # DLL (libstdc++-6.dll, libwinpthread-1.dll, zlib1.dll, ...) would have to
    # ship beside it.
    imports = [entry.dll.decode() for entry in pe.DIRECTORY_ENTRY_IMPORT]
    checks.expect("DLLs that are not part of Windows",
                  [dll for dll in imports if dll.lower().startswith(("lib", "zlib"))], [])

    by_type = {entry.id: entry.directory.entries for entry in pe.DIRECTORY_ENTRY_RESOURCE.entries}
    checks.expect("resource types", sorted(by_type), sorted([RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST]))

    check_icons(pe, by_type, checks)
    check_version(pe, by_type, checks)
    check_manifest(pe, by_type, checks)

    print(f"Windows resources: {checks.passed} passed, {checks.failed} failed")
    return 1 if checks.failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
