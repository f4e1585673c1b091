#!/usr/bin/env python3
"""Checks the 32-bit Tamberlode.exe from the file: a 32-bit GUI executable
with the expected version resource, icon and DPI-aware manifest, that
imports only system DLLs.
Usage: pe_check.py Tamberlode.exe   (exit 1 on the first list of faults)"""
import sys

import pefile

SYSTEM_DLLS = {"KERNEL32.DLL", "USER32.DLL", "GDI32.DLL", "ADVAPI32.DLL", "MSVCRT.DLL"}
FIXED = {
    "FileVersionMS": 0x00000001, "FileVersionLS": 0x00000000,
    "ProductVersionMS": 0x00000001, "ProductVersionLS": 0x00000000,
    "FileFlagsMask": 0, "FileFlags": 0, "FileOS": 0x4, "FileType": 0x1, "FileSubtype": 0,
}
STRINGS = {
    "ProductName": "Tamberlode", "FileVersion": "0.01", "ProductVersion": "0.01",
    "InternalName": "Tamberlode", "OriginalFilename": "Tamberlode.exe",
}
ICONS = [(32, 32, 1), (32, 32, 4), (16, 16, 4)]  # width, height, bits per pixel


def text(value):
    return value.decode() if isinstance(value, bytes) else value


def main(path):
    faults = []
    pe = pefile.PE(path)
    machine = pe.FILE_HEADER.Machine
    if machine != pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"]:
        faults.append(f"machine 0x{machine:x}, not i386")
    if pe.OPTIONAL_HEADER.Magic != 0x10B:
        faults.append("not a PE32 (32-bit) image")
    if pe.OPTIONAL_HEADER.Subsystem != pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_GUI"]:
        faults.append(f"subsystem {pe.OPTIONAL_HEADER.Subsystem}, not GUI")

    fixed = pe.VS_FIXEDFILEINFO[0]
    for field, want in FIXED.items():
        got = getattr(fixed, field)
        print(f"  {field} = 0x{got:x}")
        if got != want:
            faults.append(f"{field} 0x{got:x}, want 0x{want:x}")

    tables, translations = [], []
    for info in pe.FileInfo[0]:
        key = text(info.Key)
        if key == "StringFileInfo":
            tables.extend(info.StringTable)
        elif key == "VarFileInfo":
            for var in info.Var:
                translations.append(var.entry)
    blocks = [text(t.LangID).upper() for t in tables]
    print(f"  string blocks = {blocks}")
    if blocks != ["040904B0"]:
        faults.append(f"string blocks {blocks}, want exactly 040904B0")
    strings = {text(k): text(v) for t in tables for k, v in t.entries.items()}
    print(f"  StringFileInfo = {strings}")
    if strings != STRINGS:
        faults.append(f"strings {strings}, want exactly {STRINGS}")
    translation = [v for entry in translations for v in entry.values()]
    print(f"  Translation = {translation}")
    if translation not in (["0x0409 0x04b0"], ["0x409 0x4b0"]):
        faults.append(f"translation {translation}, want 0x0409 0x04B0")

    icons = []
    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if kind.id != pefile.RESOURCE_TYPE["RT_ICON"]:
            continue
        for entry in kind.directory.entries:
            data = entry.directory.entries[0].data.struct
            raw = pe.get_data(data.OffsetToData, data.Size)
            width = int.from_bytes(raw[4:8], "little")
            height = int.from_bytes(raw[8:12], "little") // 2  # colour and mask
            bits = int.from_bytes(raw[14:16], "little")
            icons.append((width, height, bits))
    print(f"  icons = {sorted(icons)}")
    if sorted(icons) != sorted(ICONS):
        faults.append(f"icon images {sorted(icons)}, want {sorted(ICONS)}")

    manifests = []
    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if kind.id == pefile.RESOURCE_TYPE["RT_MANIFEST"]:
            for entry in kind.directory.entries:
                data = entry.directory.entries[0].data.struct
                manifests.append(pe.get_data(data.OffsetToData, data.Size).decode("utf-8"))
    dpi_aware = len(manifests) == 1 and ">true</dpiAware>" in manifests[0]
    print(f"  manifests = {len(manifests)}, DPI-aware = {dpi_aware}")
    if not dpi_aware:
        faults.append("no manifest declaring the program DPI-aware")

    imports = sorted(entry.dll.decode().upper() for entry in pe.DIRECTORY_ENTRY_IMPORT)
    print(f"  imports = {imports}")
    foreign = [dll for dll in imports if dll not in SYSTEM_DLLS]
    if foreign:
        faults.append(f"imports from non-system DLLs: {foreign}")

    for fault in faults:
        print(f"  FAULT: {fault}")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
