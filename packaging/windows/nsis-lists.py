#!/usr/bin/env python3
"""Writes the installer's file lists from a laid-out program folder:
   nsis-lists.py STAGE OUTDIR  ->  OUTDIR/install.nsh, OUTDIR/uninstall.nsh
install.nsh puts every shipped file in place; the files the user changes
(USER_FILES: the settings, the current skin, the first-run marker) are only
put there when missing, so an upgrade keeps them. uninstall.nsh deletes the
shipped files and removes the folders that are left empty: the user's
favorites, scripts, offline pages, icons and skins stay (the uninstaller's
"remove my data" box removes the whole folder instead)."""
import os
import sys

# Made by the installer once and then the user's (relative, '/' separated).
USER_FILES = {"config/MyConfig.ini", "skin/MySkin.db", "skin/FirstRun.txt"}


def win(rel):
    return rel.replace("/", "\\")


def main(stage, outdir):
    files, dirs = [], []
    for root, dnames, fnames in os.walk(stage):
        dnames.sort()
        rel_root = os.path.relpath(root, stage).replace(os.sep, "/")
        if rel_root != ".":
            dirs.append(rel_root)
        for f in sorted(fnames):
            files.append(f if rel_root == "." else rel_root + "/" + f)
    inst, uninst = [], []
    for d in dirs:
        inst.append(f'CreateDirectory "$INSTDIR\\{win(d)}"')
    current = None
    for f in files:
        folder = os.path.dirname(f)
        if folder != current:
            sub = "\\" + win(folder) if folder else ""
            inst.append(f'SetOutPath "$INSTDIR{sub}"')
            current = folder
        src = os.path.join(stage, f)
        if f in USER_FILES:
            if f == "skin/FirstRun.txt":
                # A fresh folder only: the first start points the current
                # skin's images into the installed skin folder, once.
                inst.append('${If} $FreshSkin == 1')
                inst.append(f'  File "/oname={os.path.basename(f)}" "{src}"')
                inst.append('${EndIf}')
            else:
                inst.append('SetOverwrite off')
                inst.append(f'File "{src}"')
                inst.append('SetOverwrite on')
        else:
            inst.append(f'File "{src}"')
            uninst.append(f'Delete "$INSTDIR\\{win(f)}"')
    for d in sorted(dirs, key=lambda d: -d.count("/")):
        uninst.append(f'RMDir "$INSTDIR\\{win(d)}"')
    os.makedirs(outdir, exist_ok=True)
    with open(os.path.join(outdir, "install.nsh"), "w", encoding="utf-8") as f:
        f.write("\n".join(inst) + "\n")
    with open(os.path.join(outdir, "uninstall.nsh"), "w", encoding="utf-8") as f:
        f.write("\n".join(uninst) + "\n")


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
