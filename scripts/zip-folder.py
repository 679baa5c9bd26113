#!/usr/bin/env python3
"""Zips a laid-out program folder into the Windows download:
   zip-folder.py FOLDER ZIP   (entries under Qimbo/, file names in UTF-8)"""
import os
import sys
import zipfile


def main(folder, target):
    base = os.path.basename(os.path.normpath(folder))
    with zipfile.ZipFile(target, "w", zipfile.ZIP_DEFLATED) as z:
        for root, dirs, files in os.walk(folder):
            dirs.sort()
            rel = os.path.relpath(root, os.path.dirname(os.path.normpath(folder)))
            if not files and not dirs:
                z.writestr(rel.replace(os.sep, "/") + "/", "")
            for name in sorted(files):
                path = os.path.join(root, name)
                z.write(path, os.path.join(rel, name).replace(os.sep, "/"))
    print(f"zip-folder: {target}")


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
