#!/usr/bin/env python3
"""Checks what a built exe is, read with a PE parser.

  check_exe.py [--without-cet REASON] [--ceiling KB] hushpane|check EXE

Both shipped exes: 64-bit, importing only system DLLs, and carrying the
mitigations a Windows security review asks for: ASLR with relocations,
high-entropy VA, NX, an image base above 4 GB, no section both writable and
executable, CET shadow-stack compatibility (unless --without-cet says why
this build cannot have it) and a stack protector whose canary is drawn
without a Crypt function; and none claimed that is not there: Control Flow
Guard's header bit only with the load configuration's function table and
instrumented flag, and with calls in the code that go through the guard's
check or dispatch pointer (lld sets the bit, the table and the flag for
-guard:cf on the link line alone, whatever the compiler did). --ceiling is
the most hushpane.exe may weigh; above it the failure says whether
libstdc++'s verbose terminate handler, and with it its demangler, is back.
hushpane.exe is also a GUI program with icon group 101 of nine images and
exactly one asInvoker manifest, and no other resources; hushpane-check.exe
is a console program.
TAKEN_AWAY makes copies of a good exe without each mitigation, for the test
that the checks name each one missing."""
import re
import struct
import sys

import pefile

SYSTEM_DLLS = {
    "hushpane": {"kernel32.dll", "user32.dll", "shell32.dll", "msvcrt.dll"},
    "check": {"kernel32.dll", "user32.dll", "shell32.dll", "msvcrt.dll", "gdi32.dll", "shcore.dll", "advapi32.dll"},
}
# libstdc++'s verbose terminate handler writes this: in the exe, it and its demangler are back.
VERBOSE_TERMINATE = b"terminate called after throwing"
SUBSYSTEMS = {"hushpane": 2, "check": 3}  # IMAGE_SUBSYSTEM_WINDOWS_GUI, _CUI
# The stack protector's canary is drawn by hardening/canary.cpp with RtlGenRandom,
# and nothing else in hushpane.exe needs ADVAPI32: the one import allowed for a
# mitigation. No exe imports a Crypt function, which would load the
# cryptographic provider and read its registry keys at every start.
CANARY_IMPORT = "SystemFunction036"
EXPECTED_ICONS = sorted([(16, 8), (32, 8), (48, 8), (16, 32), (32, 32), (48, 32), (64, 32), (256, 32), (256, 32)])
RT_ICON, RT_GROUP_ICON, RT_MANIFEST = 3, 14, 24
PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"

HIGH_ENTROPY_VA, DYNAMIC_BASE, NX_COMPAT, GUARD_CF = 0x0020, 0x0040, 0x0100, 0x4000
GUARD_CF_INSTRUMENTED = 0x00000100
RELOCS_STRIPPED = 0x0001
SCN_EXECUTE, SCN_WRITE = 0x20000000, 0x80000000
DEBUG_TYPE_EX_DLLCHARACTERISTICS, EX_CET_COMPAT = 20, 0x01
BASERELOC = 5


def resources(pe):
    """{type id: {name id: [(language, bytes)]}}"""
    found = {}
    if not hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
        return found
    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        for name in kind.directory.entries:
            for language in name.directory.entries:
                data = pe.get_data(language.data.struct.OffsetToData, language.data.struct.Size)
                found.setdefault(kind.id, {}).setdefault(name.id, []).append((language.id, data))
    return found


def imports(pe):
    """{dll, lower case: set of function names}"""
    return {entry.dll.decode().lower(): {i.name.decode() for i in entry.imports if i.name}
            for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])}


def check_icons(found, check):
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


def check_manifest(found, check):
    manifests = [data for names in found.get(RT_MANIFEST, {}).values() for _, data in names]
    check(len(manifests) == 1, f"{len(manifests)} manifests, want exactly one")
    if len(manifests) != 1:
        return
    text = manifests[0].decode("utf-8")
    check('level="asInvoker"' in text and 'uiAccess="false"' in text, "the manifest does not ask for asInvoker")
    for unwanted in ("dpiAware", "dpiAwareness", "dependency", "supportedOS", "compatibility"):
        check(unwanted not in text, f"the manifest holds {unwanted}")


def cet_compatible(pe):
    for entry in getattr(pe, "DIRECTORY_ENTRY_DEBUG", []):
        if entry.struct.Type == DEBUG_TYPE_EX_DLLCHARACTERISTICS and entry.struct.SizeOfData >= 4:
            (flags,) = struct.unpack_from("<I", pe.get_data(entry.struct.AddressOfRawData, 4))
            return flags & EX_CET_COMPAT != 0
    return False


def guarded_calls(code, code_rva, pointer_rvas):
    """How many indirect calls in `code`, which starts at `code_rva`, go through
    one of the guard's pointers: `call qword ptr [rip+disp32]` (FF 15 and the
    displacement), whose target, the next instruction's RVA plus the
    displacement, is one of `pointer_rvas`. That is how code compiled for
    Control Flow Guard calls through a function pointer."""
    count = 0
    for match in re.finditer(rb"(?=\xff\x15(....))", code, re.S):
        (displacement,) = struct.unpack("<i", match.group(1))
        count += code_rva + match.start() + 6 + displacement in pointer_rvas
    return count


def cfg_failure(claimed, table, instrumented, guarded):
    """Why an exe's claim of Control Flow Guard is false, or None. `claimed`:
    GUARD_CF in its DllCharacteristics; `table`: a load configuration whose
    GuardCFFunctionTable holds entries; `instrumented`: its GuardFlags say
    CF_INSTRUMENTED; `guarded`: how many calls in its code go through the
    guard's check or dispatch pointer. lld sets the first three for -guard:cf
    on the link line alone, whatever the compiler and the runtime (MinGW's
    msvcrt or UCRT), so only calls that go through the guard make it true."""
    if not claimed:
        return None
    if not (table and instrumented):
        return ("claims Control Flow Guard (GUARD_CF in DllCharacteristics) without a load configuration whose "
                "GuardCFFunctionTable is filled and whose GuardFlags say CF_INSTRUMENTED")
    if not guarded:
        return ("claims Control Flow Guard (GUARD_CF in DllCharacteristics), but no call in its code goes through "
                "the guard's check or dispatch pointer: the bit and the table come from -guard:cf on the link line "
                "alone")
    return None


def cfg_claim(pe):
    """What the exe says of Control Flow Guard, and why that is false (or None)."""
    config = getattr(getattr(pe, "DIRECTORY_ENTRY_LOAD_CONFIG", None), "struct", None)
    table = config is not None and getattr(config, "GuardCFFunctionTable", 0) and getattr(
        config, "GuardCFFunctionCount", 0)
    instrumented = config is not None and getattr(config, "GuardFlags", 0) & GUARD_CF_INSTRUMENTED
    base = pe.OPTIONAL_HEADER.ImageBase
    pointers = {getattr(config, name, 0) - base for name in ("GuardCFCheckFunctionPointer",
                                                              "GuardCFDispatchFunctionPointer")
                if config is not None and getattr(config, name, 0)}
    guarded = sum(guarded_calls(section.get_data(), section.VirtualAddress, pointers) for section in pe.sections
                  if section.Characteristics & SCN_EXECUTE) if pointers else 0
    claimed = pe.OPTIONAL_HEADER.DllCharacteristics & GUARD_CF != 0
    return claimed, cfg_failure(claimed, bool(table), bool(instrumented), guarded)


def mitigations(pe):
    """Each mitigation, named as the failures name it: whether the exe has it."""
    characteristics = pe.OPTIONAL_HEADER.DllCharacteristics
    relocations = pe.OPTIONAL_HEADER.DATA_DIRECTORY[BASERELOC].Size
    writable_code = [s.Name.rstrip(b"\0").decode() for s in pe.sections
                     if s.Characteristics & SCN_WRITE and s.Characteristics & SCN_EXECUTE]
    return {
        "ASLR (DYNAMIC_BASE)": characteristics & DYNAMIC_BASE != 0,
        "relocations for ASLR": relocations > 0 and not pe.FILE_HEADER.Characteristics & RELOCS_STRIPPED,
        "high-entropy VA (HIGH_ENTROPY_VA)": characteristics & HIGH_ENTROPY_VA != 0,
        "NX (NX_COMPAT)": characteristics & NX_COMPAT != 0,
        "image base above 4 GB": pe.OPTIONAL_HEADER.ImageBase > 0xFFFFFFFF,
        "W^X (no section both writable and executable)": not writable_code,
        "CET shadow-stack compatibility (debug entry 20, CET_COMPAT)": cet_compatible(pe),
        "stack protector (its canary drawn by ADVAPI32's RtlGenRandom, SystemFunction036)":
            CANARY_IMPORT in imports(pe).get("advapi32.dll", set()),
    }


def failures_of(pe, kind, without_cet=None, ceiling_kb=None):
    failures = []

    def check(condition, what):
        if not condition:
            failures.append(what)

    check(pe.FILE_HEADER.Machine == 0x8664, "not x86-64")
    check(pe.OPTIONAL_HEADER.Magic == 0x20B, "not PE32+")
    check(pe.OPTIONAL_HEADER.Subsystem == SUBSYSTEMS[kind], f"subsystem {pe.OPTIONAL_HEADER.Subsystem}, "
          f"want {SUBSYSTEMS[kind]}")
    for mitigation, present in mitigations(pe).items():
        if without_cet is None or not mitigation.startswith("CET"):
            check(present, f"no {mitigation}")
    _, false_claim = cfg_claim(pe)
    check(false_claim is None, false_claim)
    size = len(pe.__data__)
    if ceiling_kb is not None and size > ceiling_kb * 1024:
        failure = f"{size} bytes, above the ceiling of {ceiling_kb} KB"
        if pe.__data__.find(VERBOSE_TERMINATE) != -1:
            failure += (": libstdc++'s verbose terminate handler is back (its text \"terminate called after throwing\" "
                        "is in the exe), and with it its demangler and printf: app/terminate.cpp is what keeps it out")
        failures.append(failure)

    found_imports = imports(pe)
    dlls = sorted(found_imports)
    check(set(dlls) <= SYSTEM_DLLS[kind] | {"advapi32.dll"},
          f"imports {dlls}: only {sorted(SYSTEM_DLLS[kind])} are allowed, and ADVAPI32 for the stack protector")
    crypt = sorted(name for names in found_imports.values() for name in names if name.startswith("Crypt"))
    check(not crypt, f"imports {crypt}, which load the cryptographic provider and read its registry keys")
    if kind == "hushpane":
        extra = found_imports.get("advapi32.dll", set()) - {CANARY_IMPORT}
        check(not extra, f"imports {sorted(extra)} from ADVAPI32, which only the stack protector's canary may use")
        for needed in ("kernel32.dll", "user32.dll", "shell32.dll"):
            check(needed in dlls, f"does not import {needed}")
    check(not hasattr(pe, "DIRECTORY_ENTRY_DELAY_IMPORT"), "has delay-loaded imports")

    if kind == "hushpane":
        found = resources(pe)
        check_icons(found, check)
        check_manifest(found, check)
        extra = sorted(set(found) - {RT_ICON, RT_GROUP_ICON, RT_MANIFEST})
        check(not extra, f"unexpected resource types {extra} (no version, strings, menus or dialogs)")
    return failures


# A good exe's bytes without one mitigation, and the mitigation that the failure must name.
def without_bit(bit):
    def take(pe):
        pe.OPTIONAL_HEADER.DllCharacteristics &= ~bit
        return pe.write()
    return take


def without_relocations(pe):
    pe.OPTIONAL_HEADER.DATA_DIRECTORY[BASERELOC].Size = 0
    return pe.write()


def below_4gb(pe):
    pe.OPTIONAL_HEADER.ImageBase = 0x400000
    return pe.write()


def writable_code(pe):
    next(s for s in pe.sections if s.Characteristics & SCN_EXECUTE).Characteristics |= SCN_WRITE
    return pe.write()


def without_cet(pe):
    for entry in pe.DIRECTORY_ENTRY_DEBUG:
        if entry.struct.Type == DEBUG_TYPE_EX_DLLCHARACTERISTICS:
            pe.set_dword_at_rva(entry.struct.AddressOfRawData, 0)
    return pe.write()


def without_canary(pe):
    # The import's name changed in place: the canary's source is gone, the table still reads.
    return bytes(pe.write()).replace(CANARY_IMPORT.encode() + b"\0", b"SystemFunction03X\0")


TAKEN_AWAY = [
    (without_bit(DYNAMIC_BASE), "ASLR"),
    (without_relocations, "relocations"),
    (without_bit(HIGH_ENTROPY_VA), "high-entropy VA"),
    (without_bit(NX_COMPAT), "NX"),
    (below_4gb, "image base above 4 GB"),
    (writable_code, "W^X"),
    (without_cet, "CET"),
    (without_canary, "stack protector"),
]


def main(argv):
    without_cet_reason = ceiling_kb = None
    if argv[:1] == ["--without-cet"]:
        without_cet_reason, argv = argv[1], argv[2:]
    if argv[:1] == ["--ceiling"]:
        ceiling_kb, argv = int(argv[1]), argv[2:]
    kind, path = argv
    pe = pefile.PE(path)
    failures = failures_of(pe, kind, without_cet_reason, ceiling_kb)
    print(f"{path}: {len(pe.__data__)} bytes, imports {', '.join(sorted(imports(pe)))}")
    for mitigation, present in mitigations(pe).items():
        skipped = without_cet_reason is not None and mitigation.startswith("CET")
        print(f"  {'yes' if present else 'no '}  {mitigation}" + (f" (not required: {without_cet_reason})"
                                                                   if skipped else ""))
    claimed, false_claim = cfg_claim(pe)
    print(f"  {'yes' if claimed else 'no '}  Control Flow Guard claimed" + (": a false claim" if false_claim else ""))
    for failure in failures:
        print(f"FAIL: {failure}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
