#!/usr/bin/env python3
"""The folders of src/ depend one way only:

    base <- win <- os <- store, skin, net <- model, script <- panels, widgets <- app

A file may include from its own folder and from folders below it, never from
one above. Win32 files (named *_win32.* or under os/win32/) build on win/;
the portable files never include a Win32 file, neither the project's own nor
a Windows system header (<windows.h>, <commctrl.h>, <winsock2.h> ...), not
even under #ifdef: a file that needs Windows says so by its name. And no two
folders include from each other, not even two of the same level.

Usage: layering.py SOURCE_ROOT [FILE...]
With files, only those are checked (their includes still resolve against
the tree); without, every file under src/. Prints each broken rule and
exits 1 when there is one.
"""
import os
import re
import sys

LEVELS = {
    "base": 0,
    "win": 1,
    "os": 2,
    "store": 3, "skin": 3, "net": 3,
    "model": 4, "script": 4,
    "panels": 5, "widgets": 5,
    "app": 6,
}
OUTSIDE = {"res"}  # resource identifiers: beside every level, below none
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')
SYSTEM = re.compile(r'^\s*#\s*include\s*<([^>]+)>')
# The headers of the Windows API and of its C runtime: only a Win32 file
# includes them.
WINDOWS_HEADERS = {
    "windows.h", "windowsx.h", "winsock2.h", "ws2tcpip.h", "winsock.h", "commctrl.h", "commdlg.h",
    "shellapi.h", "shlobj.h", "shlwapi.h", "shobjidl.h", "objbase.h", "ole2.h", "oleidl.h", "olectl.h",
    "oleauto.h", "richedit.h", "wininet.h", "winhttp.h", "winreg.h", "winuser.h", "wingdi.h",
    "winbase.h", "aclapi.h", "accctrl.h", "mmsystem.h", "tlhelp32.h", "psapi.h", "iphlpapi.h",
    "mswsock.h", "imm.h", "uxtheme.h", "dwmapi.h", "intshcut.h", "exdisp.h", "mshtml.h",
    "io.h", "direct.h", "process.h", "tchar.h",
}


def is_win32(rel):
    name = os.path.basename(rel)
    return "_win32." in name or rel.startswith("src/os/win32/")


def folder_of(rel):
    parts = rel.split("/")
    if parts[0] == "src" and len(parts) > 2:
        return parts[1]
    return parts[0]


def resolve(root, rel, target):
    here = os.path.dirname(rel)
    for candidate in (os.path.normpath(os.path.join(here, target)), os.path.normpath(os.path.join("src", target))):
        if os.path.isfile(os.path.join(root, candidate)):
            return candidate.replace(os.sep, "/")
    return None


def check_file(root, rel, edges, problems):
    own = folder_of(rel)
    if own not in LEVELS:
        problems.append(f"{rel}: folder src/{own}/ has no place in the order of levels")
        return
    with open(os.path.join(root, rel), encoding="utf-8", errors="replace") as f:
        for number, line in enumerate(f, 1):
            m = SYSTEM.match(line)
            if m:
                if m.group(1).lower() in WINDOWS_HEADERS and not is_win32(rel):
                    problems.append(f"{rel}:{number}: #include <{m.group(1)}>: a portable file includes a Windows system header")
                continue
            m = INCLUDE.match(line)
            if not m:
                continue
            where = f"{rel}:{number}: #include \"{m.group(1)}\""
            target = resolve(root, rel, m.group(1))
            if target is None:
                problems.append(f"{where}: no such file in the tree")
                continue
            theirs = folder_of(target)
            if theirs in OUTSIDE:
                continue
            if theirs not in LEVELS:
                problems.append(f"{where}: {theirs}/ is not a folder of src/")
                continue
            if is_win32(target) and not is_win32(rel):
                problems.append(f"{where}: a portable file includes a Win32 file")
            if LEVELS[theirs] > LEVELS[own]:
                problems.append(f"{where}: {own}/ includes from {theirs}/, a folder above it")
            if theirs != own:
                edges.setdefault(own, {}).setdefault(theirs, where)


def cycles(edges):
    found = []
    for a, targets in sorted(edges.items()):
        for b, where in sorted(targets.items()):
            if a < b and a in edges.get(b, {}):
                found.append(f"{a}/ and {b}/ include from each other:\n    {where}\n    {edges[b][a]}")
    return found


def main():
    root = sys.argv[1]
    files = sys.argv[2:]
    if not files:
        for dirpath, _, names in os.walk(os.path.join(root, "src")):
            for name in names:
                if name.endswith((".h", ".cpp")):
                    files.append(os.path.relpath(os.path.join(dirpath, name), root).replace(os.sep, "/"))
    edges, problems = {}, []
    for rel in sorted(files):
        check_file(root, rel, edges, problems)
    problems += cycles(edges)
    for p in problems:
        print(p)
    print(f"{len(files)} files, {len(problems)} broken rule(s)")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
