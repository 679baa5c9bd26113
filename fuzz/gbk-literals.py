#!/usr/bin/env python3
"""Compiler launcher that lets clang build the program's sources.

The program's narrow string literals are GBK bytes in the binary; gcc makes
them with -fexec-charset=GBK, which clang does not have. This launcher drops
that flag and compiles a copy of the source in which every non-ASCII character
of a plain narrow string or character literal is written as octal escapes of
its GBK bytes (octal escapes end after three digits, so no following character
is swallowed). Sources without such literals are compiled as they are.

usage: gbk-literals.py COMPILER ARGS...   (as CMAKE_CXX_COMPILER_LAUNCHER)
"""
import hashlib
import os
import sys


def _literal(text, i, quote, encode):
    """The literal starting at the quote text[i]; returns (new text, end index)."""
    out = [quote]
    j = i + 1
    n = len(text)
    while j < n and text[j] != quote:
        ch = text[j]
        if ch == "\\" and j + 1 < n:
            out.append(text[j:j + 2])
            j += 2
            continue
        if ch == "\n":
            raise ValueError("line break inside a literal")
        if encode and ord(ch) > 127:
            out.append("".join("\\%03o" % b for b in ch.encode("gbk")))
        else:
            out.append(ch)
        j += 1
    out.append(quote)
    return "".join(out), j + 1


def rewrite(text):
    """The source with GBK escapes in its literals, or None when nothing changes."""
    out = []
    i, n = 0, len(text)
    changed = False
    while i < n:
        c = text[i]
        if text.startswith("//", i):
            j = text.find("\n", i)
            j = n if j < 0 else j
            out.append(text[i:j])
            i = j
        elif text.startswith("/*", i):
            j = text.find("*/", i + 2)
            j = n if j < 0 else j + 2
            out.append(text[i:j])
            i = j
        elif c.isalpha() or c == "_":
            j = i
            while j < n and (text[j].isalnum() or text[j] == "_"):
                j += 1
            word = text[i:j]
            if j < n and text[j] == '"' and word.endswith("R") and word in ("R", "LR", "uR", "UR", "u8R"):
                # A raw string: kept as it is; it must not need GBK.
                k = text.find("(", j)
                delim = ")" + text[j + 1:k] + '"'
                end = text.find(delim, k) + len(delim)
                raw = text[i:end]
                if word == "R" and any(ord(ch) > 127 for ch in raw):
                    raise ValueError("non-ASCII text in a raw string literal")
                out.append(raw)
                i = end
            elif j < n and text[j] in "\"'" and word in ("L", "u", "U", "u8"):
                lit, end = _literal(text, j, text[j], False)  # wide and Unicode literals stay
                out.append(word + lit)
                i = end
            else:
                out.append(word)
                i = j
        elif c.isdigit():
            # Numbers, with C++14 digit separators (1'000) that are no quotes.
            j = i + 1
            while j < n and (text[j].isalnum() or text[j] in "._" or
                             (text[j] == "'" and j + 1 < n and text[j + 1].isalnum()) or
                             (text[j] in "+-" and text[j - 1] in "eEpP")):
                j += 1
            out.append(text[i:j])
            i = j
        elif c in "\"'":
            lit, end = _literal(text, i, c, True)
            changed = changed or lit != text[i:end]
            out.append(lit)
            i = end
        else:
            out.append(c)
            i += 1
    return "".join(out) if changed else None


def main(argv):
    args = [a for a in argv[1:] if a != "-fexec-charset=GBK"]
    for k, a in enumerate(args):
        if k > 0 and args[k - 1] == "-c" and a.endswith((".cpp", ".cc", ".cxx")):
            with open(a, encoding="utf-8") as f:
                text = f.read()
            try:
                new = rewrite(text)
            except ValueError as e:
                sys.stderr.write("%s: %s\n" % (a, e))
                return 1
            if new is None:
                break
            folder = os.path.join(os.getcwd(), "gbk-sources")
            os.makedirs(folder, exist_ok=True)
            tag = hashlib.sha1(os.path.abspath(a).encode()).hexdigest()[:10]
            copy = os.path.join(folder, tag + "-" + os.path.basename(a))
            # #line keeps the compiler's messages and debug information on the real file.
            body = '#line 1 "%s"\n%s' % (os.path.abspath(a).replace("\\", "\\\\"), new)
            old = None
            if os.path.exists(copy):
                with open(copy, encoding="utf-8") as f:
                    old = f.read()
            if old != body:
                with open(copy, "w", encoding="utf-8") as f:
                    f.write(body)
            args[k] = copy
            args.insert(k - 1, "-iquote")
            args.insert(k, os.path.dirname(os.path.abspath(a)))
            break
    os.execvp(args[0], args)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
