#!/usr/bin/env python3
"""Checks what the built hushpane.exe is, read with a PE parser: a 64-bit
GUI program that imports only system DLLs, with icon group 101 of nine
images and exactly one asInvoker manifest, and no other resources."""
import struct
import sys

import pefile

SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "shell32.dll", "msvcrt.dll"}
EXPECTED_ICONS = sorted([(16, 8), (32, 8), (48, 8), (16, 32), (32, 32), (48, 32), (64, 32), (256, 32), (256, 32)])
RT_ICON, RT_GROUP_ICON, RT_MANIFEST = 3, 14, 24
IMAGE_SUBSYSTEM_WINDOWS_GUI = 2
PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)


def resources(pe):
    """{type id: {name id: [(language, bytes)]}}"""
    found = {}
    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        for name in kind.directory.entries:
            for language in name.directory.entries:
                data = pe.get_data(language.data.struct.OffsetToData, language.data.struct.Size)
                found.setdefault(kind.id, {}).setdefault(name.id, []).append((language.id, data))
    return found


def check_icons(found):
    groups = found.get(RT_GROUP_ICON, {})
    check(list(groups) == [101], f"icon groups are {list(groups)}, want [101]")
    if 101 not in groups:
        return
    group = groups[101][0][1]
    _, kind, count = struct.unpack_from("<HHH", group, 0)
    check(kind == 1, "icon group type is not 1 (icon)")
    images = []
    for i in range(count):
        width, height, _, _, _, bits, _, image_id = struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i)
        size = width or 256
        data = found.get(RT_ICON, {}).get(image_id, [(0, b"")])[0][1]
        check(len(data) > 0, f"icon image {image_id} is missing")
        if size == 256:
            check(data.startswith(PNG_SIGNATURE), "a 256-pixel image is not stored as PNG")
            if data.startswith(PNG_SIGNATURE):
                bit_depth, colour_type = data[24], data[25]
                check((bit_depth, colour_type) == (8, 6), "a 256-pixel PNG is not 32-bit RGBA")
        else:
            check(not data.startswith(PNG_SIGNATURE), f"the {size}-pixel image should be a bitmap")
        check(width == height or size == 256, f"image {image_id} is not square")
        images.append((size, bits))
    check(sorted(images) == EXPECTED_ICONS, f"icon images are {sorted(images)}, want {EXPECTED_ICONS}")


def check_manifest(found):
    manifests = [data for names in found.get(RT_MANIFEST, {}).values() for _, data in names]
    check(len(manifests) == 1, f"{len(manifests)} manifests, want exactly one")
    if len(manifests) != 1:
        return
    text = manifests[0].decode("utf-8")
    check('level="asInvoker"' in text and 'uiAccess="false"' in text, "the manifest does not ask for asInvoker")
    for unwanted in ("dpiAware", "dpiAwareness", "dependency", "supportedOS", "compatibility"):
        check(unwanted not in text, f"the manifest holds {unwanted}")


def main(path):
    pe = pefile.PE(path)
    check(pe.FILE_HEADER.Machine == 0x8664, "not x86-64")
    check(pe.OPTIONAL_HEADER.Magic == 0x20B, "not PE32+")
    check(pe.OPTIONAL_HEADER.Subsystem == IMAGE_SUBSYSTEM_WINDOWS_GUI, "not a GUI-subsystem program")

    imports = sorted(entry.dll.decode().lower() for entry in pe.DIRECTORY_ENTRY_IMPORT)
    check(set(imports) <= SYSTEM_DLLS, f"imports {imports}: only {sorted(SYSTEM_DLLS)} are allowed")
    for needed in ("kernel32.dll", "user32.dll", "shell32.dll"):
        check(needed in imports, f"does not import {needed}")
    check(not hasattr(pe, "DIRECTORY_ENTRY_DELAY_IMPORT"), "has delay-loaded imports")

    found = resources(pe)
    check_icons(found)
    check_manifest(found)
    extra = sorted(set(found) - {RT_ICON, RT_GROUP_ICON, RT_MANIFEST})
    check(not extra, f"unexpected resource types {extra} (no version, strings, menus or dialogs)")

    print(f"{path}: {len(pe.__data__)} bytes, imports {', '.join(imports)}")
    for failure in failures:
        print(f"FAIL: {failure}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
