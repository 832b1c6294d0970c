#!/usr/bin/env python3
"""Checks a built Ostravel.exe as Windows sees it.

Reads the file with binutils' objdump and icoutils' wrestool and icotool:
machine, GUI subsystem and its version, the imported DLLs and operations,
the resource list, the icon images and the version resource. Prints every
mismatch and exits 1 if there was any; a missing exe is a failure too.

Usage: check_exe.py EXE TOOL_PREFIX ARCH SUBSYSTEM_VERSION ICO
  ARCH is the objdump architecture (i386 or i386:x86-64),
  SUBSYSTEM_VERSION is major.minor, ICO the icon file the exe must carry.
"""

import os
import re
import struct
import subprocess
import sys

# Every Windows operation the program calls, by the DLL that exports it.
IMPORTS = {
    'ole32.dll': ['CoInitialize', 'CoUninitialize'],
    'kernel32.dll': [
        'GetCommandLineA', 'ExitProcess', 'FindFirstFileA', 'FindNextFileA',
        'FindClose', 'GetFileAttributesA', 'CreateFileA', 'DeviceIoControl',
        'CloseHandle', 'GetLastError', 'SetErrorMode', 'RemoveDirectoryA',
        'FormatMessageA', 'Sleep'],
    'user32.dll': [
        'MessageBoxA', 'PeekMessageA', 'TranslateMessage', 'DispatchMessageA'],
    'msvcrt.dll': [],
}

RESOURCES = [
    "--type=3 --name=1 --language=1033",
    "--type=3 --name=2 --language=1033",
    "--type=3 --name=3 --language=1033",
    "--type=3 --name=4 --language=1033",
    "--type=14 --name='ICON1' --language=1033",
    "--type=16 --name=1 --language=1033",
]

ICON_LIST = [
    "--icon --index=1 --width=16 --height=16 --bit-depth=4 --palette-size=16",
    "--icon --index=2 --width=16 --height=16 --bit-depth=8 --palette-size=256",
    "--icon --index=3 --width=32 --height=32 --bit-depth=4 --palette-size=16",
    "--icon --index=4 --width=32 --height=32 --bit-depth=8 --palette-size=256",
]

STRINGS = {
    'FileDescription': 'Program for breaking Junction Points recursively',
    'FileVersion': '1.00.0000',
    'InternalName': 'Ostravel',
    'OriginalFilename': 'Ostravel.exe',
    'ProductName': 'Ostravel',
    'ProductVersion': '1.00.0000',
}

# VS_FIXEDFILEINFO: signature, structure version, file version high/low,
# product version high/low, flags mask, flags, VOS__WINDOWS32, VFT_APP,
# subtype, date high/low.
FIXED_INFO = (0xFEEF04BD, 0x00010000, 0x00010000, 0, 0x00010000, 0,
              0, 0, 4, 1, 0, 0, 0)

failures = []


def expect(what, actual, wanted):
    if actual != wanted:
        failures.append(f'{what}: got {actual!r}, want {wanted!r}')


def run(*command, text=True):
    done = subprocess.run(command, capture_output=True, text=text)
    if done.returncode != 0:
        sys.exit(f'{" ".join(command)} failed: {done.stderr!s}')
    return done.stdout


def check_header(exe, prefix, arch, subsystem_version):
    header = run(f'{prefix}-objdump', '-f', exe)
    expect('architecture', re.search(r'architecture: ([^,]+),', header)[1], arch)
    private = run(f'{prefix}-objdump', '-p', exe)

    def field(name):
        return re.search(rf'^{name}\s+(\S+)', private, re.M)[1]

    expect('Subsystem', field('Subsystem'), '00000002')
    major, minor = subsystem_version.split('.')
    expect('MajorSubsystemVersion', field('MajorSubsystemVersion'), major)
    expect('MinorSubsystemVersion', field('MinorSubsystemVersion'), minor)
    return private


def imported_names(private):
    """DLL name (lower case) -> names imported from it, from objdump -p."""
    imports = {}
    current = None
    for line in private.splitlines():
        dll = re.match(r'\s+DLL Name: (\S+)', line)
        if dll:
            current = imports.setdefault(dll[1].lower(), [])
            continue
        entry = re.match(r'\s+[0-9a-f]+\s+\d+\s+(\S+)$', line)
        if entry and current is not None:
            current.append(entry[1])
    return imports


def check_imports(private):
    imports = imported_names(private)
    expect('imported DLLs', sorted(imports), sorted(IMPORTS))
    for dll, names in IMPORTS.items():
        for name in names:
            if name not in imports.get(dll, []):
                failures.append(f'{name} is not imported by name from {dll}')


def check_resources(exe, ico):
    listing = run('wrestool', '-l', exe)
    found = [re.sub(r' \[.*\]$', '', line) for line in listing.splitlines()]
    expect('resources', found, RESOURCES)

    group = run('wrestool', '-x', '--type=14', '--name=ICON1', exe, text=False)
    check_icon_group(exe, group, ico)


def check_icon_group(exe, group, ico):
    listing = subprocess.run(['icotool', '-l', '/dev/stdin'], input=group,
                             check=True, capture_output=True).stdout.decode()
    expect('icon group images', listing.splitlines(), ICON_LIST)

    # Each icon image in the exe is the matching image of the .ico file.
    with open(ico, 'rb') as f:
        data = f.read()
    _, _, count = struct.unpack_from('<HHH', data, 0)
    for index in range(count):
        size, offset = struct.unpack_from('<II', data, 6 + 16 * index + 8)
        image = run('wrestool', '-x', '--raw', '--type=3',
                    f'--name={index + 1}', exe, text=False)
        if image != data[offset:offset + size]:
            failures.append(f'icon image {index + 1} differs from {ico}')


def version_node(data, start):
    """One VS_VERSIONINFO node: (key, value, children), and where it ends."""
    length, value_length, kind = struct.unpack_from('<HHH', data, start)
    end = start + length
    key_end = start + 6
    while data[key_end:key_end + 2] != b'\0\0':
        key_end += 2
    key = data[start + 6:key_end].decode('utf-16-le')
    at = (key_end + 2 + 3) & ~3
    if kind == 1:
        value = data[at:at + 2 * value_length].decode('utf-16-le').rstrip('\0')
        at += 2 * value_length
    else:
        value = data[at:at + value_length]
        at += value_length
    children = []
    at = (at + 3) & ~3
    while at < end:
        child, at = version_node(data, at)
        children.append(child)
        at = (at + 3) & ~3
    return (key, value, children), end


def check_version(exe):
    data = run('wrestool', '-x', '--raw', '--type=16', '--name=1', exe,
               text=False)
    (key, fixed, children), _ = version_node(data, 0)
    expect('version key', key, 'VS_VERSION_INFO')
    expect('fixed file info', struct.unpack('<13I', fixed), FIXED_INFO)
    blocks = {child[0]: child for child in children}
    expect('version blocks', [child[0] for child in children],
           ['StringFileInfo', 'VarFileInfo'])
    if len(blocks) != 2:
        return

    tables = blocks['StringFileInfo'][2]
    expect('string tables', [table[0] for table in tables], ['040904B0'])
    if tables:
        strings = {name: value for name, value, _ in tables[0][2]}
        expect('version strings', strings, STRINGS)

    variables = blocks['VarFileInfo'][2]
    expect('version variables', [(name, value) for name, value, _ in variables],
           [('Translation', struct.pack('<HH', 0x0409, 0x04B0))])


def main():
    exe, prefix, arch, subsystem_version, ico = sys.argv[1:6]
    if not os.path.isfile(exe):
        print(f'{exe} does not exist: build the Windows presets first')
        return 1
    private = check_header(exe, prefix, arch, subsystem_version)
    check_imports(private)
    check_resources(exe, ico)
    check_version(exe)
    for failure in failures:
        print(failure)
    if not failures:
        print(f'{exe}: header, imports, icon and version resource as expected')
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
