#!/usr/bin/env python3
"""Checks the version resource of a Windows program or library, as Explorer's
Properties shows it: versioninfo.py FILE VERSION DESCRIPTION-PREFIX
(the fixed file and product versions, product name, versions as text,
copyright, a Chinese description); prints the values, exits 1 on a mismatch."""
import struct
import sys


def main(path, version, description):
    data = open(path, "rb").read()
    start = data.find("VS_VERSION_INFO".encode("utf-16-le"))
    if start < 0:
        print(f"{path}: no version resource")
        return 1
    fixed = data.find(struct.pack("<I", 0xFEEF04BD), start)
    ms, ls, pms, pls = struct.unpack_from("<4I", data, fixed + 8)
    parts = [int(p) for p in version.split(".")] + [0]
    want_ms, want_ls = parts[0] << 16 | parts[1], parts[2] << 16 | parts[3]
    bad = 0
    if (ms, ls, pms, pls) != (want_ms, want_ls, want_ms, want_ls):
        print(f"fixed versions {ms:x}.{ls:x} / {pms:x}.{pls:x}, wanted {version}")
        bad = 1
    # The strings: key and value as zero-ended UTF-16, after their lengths.
    block = data[start:start + 2048]
    block = block[: len(block) // 2 * 2].decode("utf-16-le", "replace")
    tokens = [t for t in block.split("\x00") if t]
    values = {}
    for key in ("ProductName", "ProductVersion", "FileVersion", "FileDescription", "LegalCopyright",
                "CompanyName", "OriginalFilename"):
        for i, t in enumerate(tokens[:-1]):
            if t.endswith(key):
                values[key] = tokens[i + 1]
                break
    want = {"ProductName": "Qimbo收藏", "ProductVersion": version, "FileVersion": version}
    for k, w in want.items():
        if values.get(k) != w:
            print(f"{k}: {values.get(k)!r}, wanted {w!r}")
            bad = 1
    if not values.get("FileDescription", "").startswith(description):
        print(f"FileDescription: {values.get('FileDescription')!r}, wanted {description!r}...")
        bad = 1
    if "Copyright" not in values.get("LegalCopyright", ""):
        print(f"LegalCopyright: {values.get('LegalCopyright')!r}")
        bad = 1
    print(f"{path.split('/')[-1]}: " + ", ".join(f"{k} {v}" for k, v in values.items()))
    return bad


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:4]))
