#!/usr/bin/env python3
"""Checks the 32-bit Tamberlode.exe from the file: a 32-bit GUI executable
with the expected version resource, icon and manifest (DPI-aware,
asInvoker, supportedOS), stripped but randomised and no-execute, that
imports only system DLLs, and from them only functions Windows XP SP3 has.
Usage: pe_check.py Tamberlode.exe            (exit 1 on the first list of faults)
       pe_check.py --imports-only FILE.exe   (the import check alone)"""
import os
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
SUPPORTED_OS = {
    "Windows Vista": "{e2011457-1546-43c5-a5fe-008deee3d3f0}",
    "Windows 7": "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
    "Windows 8": "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
    "Windows 8.1": "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
    "Windows 10 and 11": "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",
}
# Every function the program may import, by the first Windows that has it
# (Microsoft's "minimum supported client"; msvcrt: the msvcrt.dll of
# Windows XP). A function missing from the list is a fault until it is looked
# up; one newer than Windows XP SP3 is a fault: bind it by name at run time
# with a fallback (win32/bind.h), as SetDllDirectoryW (XP SP1) is.
OLDEST = "XP SP3"
ORDER = ["2000", "XP", "XP SP1", "XP SP2", "XP SP3", "Vista", "7", "8", "10"]
FUNCTIONS = {
    "2000": {
        "GDI32.DLL": """CreateCompatibleBitmap CreateCompatibleDC CreateFontW CreateSolidBrush
            DeleteDC DeleteObject ExtCreatePen GetDeviceCaps GetTextExtentPoint32W GetTextFaceW
            GetTextMetricsW LineTo MoveToEx SelectObject SetBkColor SetBrushOrgEx
            SetDIBitsToDevice SetStretchBltMode SetTextColor StretchBlt StretchDIBits""",
        "KERNEL32.DLL": """CloseHandle CreateEventA CreateEventW CreateProcessW CreateSemaphoreA
            DeleteCriticalSection DuplicateHandle EnterCriticalSection FileTimeToSystemTime
            FindClose FindFirstFileW FindNextFileW FormatMessageA FormatMessageW FreeLibrary
            GetCurrentProcess GetCurrentProcessId GetCurrentThread GetCurrentThreadId
            GetDiskFreeSpaceA GetDiskFreeSpaceExA GetDriveTypeA GetHandleInformation
            GetLastError GetModuleHandleA GetModuleHandleW GetProcAddress
            GetProcessAffinityMask GetProcessTimes GetStartupInfoA GetSystemDirectoryW
            GetSystemTimeAdjustment GetSystemTimeAsFileTime GetThreadContext
            GetThreadPriority GetThreadTimes GetTickCount InitializeCriticalSection
            IsDBCSLeadByteEx IsDebuggerPresent LeaveCriticalSection LoadLibraryA
            LoadLibraryExW LoadLibraryW LocalFree MulDiv MultiByteToWideChar OpenProcess
            OutputDebugStringA QueryDosDeviceA QueryPerformanceCounter
            QueryPerformanceFrequency RaiseException ReleaseSemaphore ResetEvent ResumeThread
            SetErrorMode SetEvent SetLastError SetProcessAffinityMask SetSystemTime
            SetThreadContext SetThreadPriority SetUnhandledExceptionFilter Sleep SuspendThread
            TlsAlloc TlsFree TlsGetValue TlsSetValue TryEnterCriticalSection VirtualProtect
            VirtualQuery WaitForMultipleObjects WaitForSingleObject WideCharToMultiByte
            CreateThread ExitThread GetExitCodeThread CreateMutexA ReleaseMutex
            InterlockedIncrement InterlockedDecrement InterlockedExchange
            InterlockedCompareExchange""",
        "USER32.DLL": """AdjustWindowRectEx BeginPaint CreateIconFromResourceEx CreateWindowExW
            DefWindowProcW DestroyIcon DestroyWindow DispatchMessageW DrawFocusRect DrawIconEx
            DrawTextW EnableWindow EndPaint EnumThreadWindows FillRect GetActiveWindow
            GetAncestor GetClassNameW GetClientRect GetDC GetDlgCtrlID GetDlgItem GetFocus
            GetMessageW GetParent GetSysColor GetSystemMetrics GetWindowLongW GetWindowRect
            GetWindowTextLengthW GetWindowTextW InvalidateRect IsChild IsDialogMessageW IsWindow
            IsWindowEnabled IsWindowVisible KillTimer LoadCursorW LoadImageW MapWindowPoints
            MessageBoxW PeekMessageW PostMessageW PostQuitMessage RegisterClassExW ReleaseDC
            SendMessageW SetActiveWindow SetCursor SetFocus SetForegroundWindow SetTimer
            SetWindowLongW SetWindowPos SetWindowTextW ShowWindow TranslateMessage
            UnregisterClassW UpdateWindow RedrawWindow""",
        "ADVAPI32.DLL": "RegOpenKeyExA RegQueryValueExA RegCloseKey",
    },
    "XP": {
        "KERNEL32.DLL": "AddVectoredExceptionHandler RemoveVectoredExceptionHandler",
        "MSVCRT.DLL": """__getmainargs __initenv __mb_cur_max __p__acmdln __p__commode __p__fmode
            __set_app_type __setusermatherr _amsg_exit _beginthreadex _cexit _close _endthreadex
            _errno _initterm _iob _lock _onexit _read _setjmp3 _strdup _ultoa _unlock _wcsicmp
            abort atoi calloc exit fprintf fputc free fwrite localeconv longjmp malloc memchr
            memcmp memcpy memmove memset printf realloc setlocale signal strchr strcmp strerror
            strlen strncmp vfprintf wcscmp wcslen""",
    },
    "XP SP1": {"KERNEL32.DLL": "SetDllDirectoryW SetDllDirectoryA"},
    "Vista": {
        "KERNEL32.DLL": """GetTickCount64 InitializeConditionVariable SleepConditionVariableCS
            WakeConditionVariable WakeAllConditionVariable InitializeSRWLock
            AcquireSRWLockExclusive ReleaseSRWLockExclusive InitOnceExecuteOnce
            GetFileInformationByHandleEx CreateSymbolicLinkW""",
    },
    "7": {"KERNEL32.DLL": "SetDefaultDllDirectories AddDllDirectory"},
    "8": {"KERNEL32.DLL": "GetSystemTimePreciseAsFileTime"},
}
FIRST = {(dll, name): version for version, dlls in FUNCTIONS.items()
         for dll, names in dlls.items() for name in names.split()}
MAX_SIZE = 512 * 1024
# A sign of library code the program does not need: the C++ name demangler's
# table of standard names, which the default terminate handler brings in.
UNWANTED = [b"basic_ostream"]


def text(value):
    return value.decode() if isinstance(value, bytes) else value


def import_faults(pe):
    """The imports Windows XP SP3 lacks, or that the list does not know."""
    faults = []
    for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []):
        dll = entry.dll.decode().upper()
        for function in entry.imports:
            name = function.name.decode() if function.name else f"#{function.ordinal}"
            version = FIRST.get((dll, name))
            if version is None:
                faults.append(f"{dll}!{name} is not in the list of functions by Windows version")
            elif ORDER.index(version) > ORDER.index(OLDEST):
                faults.append(f"{dll}!{name} needs Windows {version}, newer than {OLDEST}")
    return faults


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
    manifest = manifests[0] if manifests else ""
    # asInvoker: no installer detection, no registry virtualisation.
    if 'requestedExecutionLevel level="asInvoker"' not in manifest:
        faults.append("the manifest requests no asInvoker execution level")
    missing_os = [name for name, guid in SUPPORTED_OS.items() if guid not in manifest.lower()]
    print(f"  supportedOS missing = {missing_os}")
    if missing_os:
        faults.append(f"the manifest lacks supportedOS entries for {missing_os}")

    # A release build without its symbols, still randomised and no-execute.
    size = os.path.getsize(path)
    print(f"  size = {size} bytes (at most {MAX_SIZE})")
    if size > MAX_SIZE:
        faults.append(f"{size} bytes, more than {MAX_SIZE}: debugging symbols or unused "
                      "library code left in?")
    with open(path, "rb") as file:
        content = file.read()
    for unwanted in UNWANTED:
        if unwanted in content:
            faults.append(f"{unwanted.decode()} is in the file: library code it does not need")
    symbols = pe.FILE_HEADER.NumberOfSymbols
    debug = [s.Name.rstrip(b"\0").decode(errors="replace") for s in pe.sections
             if s.Name.startswith(b"/") or s.Name.startswith(b".debug")]
    print(f"  COFF symbols = {symbols}, debug sections = {debug}")
    if symbols or debug:
        faults.append(f"not stripped: {symbols} symbols, sections {debug}")
    flags = pe.OPTIONAL_HEADER.DllCharacteristics
    for name in ("IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE", "IMAGE_DLLCHARACTERISTICS_NX_COMPAT"):
        if not flags & pefile.DLL_CHARACTERISTICS[name]:
            faults.append(f"{name} is not set")
    relocations = pe.OPTIONAL_HEADER.DATA_DIRECTORY[
        pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_BASERELOC"]].Size
    print(f"  DllCharacteristics = 0x{flags:x}, relocations = {relocations} bytes")
    if not relocations:
        faults.append("no relocations: the image cannot be moved (ASLR)")

    imports = sorted(entry.dll.decode().upper() for entry in pe.DIRECTORY_ENTRY_IMPORT)
    print(f"  imports = {imports}")
    foreign = [dll for dll in imports if dll not in SYSTEM_DLLS]
    if foreign:
        faults.append(f"imports from non-system DLLs: {foreign}")
    newer = import_faults(pe)
    print(f"  imports newer than Windows {OLDEST} or unknown = {len(newer)}")
    faults.extend(newer)

    for fault in faults:
        print(f"  FAULT: {fault}")
    return 1 if faults else 0


def imports_only(path):
    faults = import_faults(pefile.PE(path))
    for fault in faults:
        print(f"  FAULT: {fault}")
    return 1 if faults else 0


if __name__ == "__main__":
    if sys.argv[1] == "--imports-only":
        sys.exit(imports_only(sys.argv[2]))
    sys.exit(main(sys.argv[1]))
