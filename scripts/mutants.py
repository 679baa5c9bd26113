#!/usr/bin/env python3
"""Mutation run over the portable sources and the server.

Puts one small fault at a time into a copy of the tree (a relational operator
flipped, an integer constant off by one, a condition or a statement dropped,
a return value changed), rebuilds the native tests of that copy incrementally,
runs the suites that test the mutated folder with a time limit, and reports
how many faults the suites caught, per folder, with every survivor.

The working tree is never written: the mutants live in a mirror under the
build folder (default build/mutants/tree), which is synced from the working
tree at the start and restored after every mutant, also on Ctrl-C.

  scripts/mutants.py [--seed S] [-n N] [--focus src/store[,server/server.cpp]]
                     [--timeout SECONDS] [--list] [--all]

Python 3 standard library only.
"""

import argparse
import hashlib
import json
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# What the mirror holds: everything the native build reads (only the targets
# the suites need are built from it).
MIRROR_ITEMS = ["CMakeLists.txt", "bench", "cmake", "fuzz", "packaging", "res", "scripts", "src", "server", "tests", "tools"]

# Folders that are mutated, each with the files that belong to it. Win32-only
# files do not build natively; the server's benchmark only reports.
FOLDERS = [
    ("src/base", lambda p: p.startswith("src/base/")),
    ("src/os", lambda p: p.startswith("src/os/") and "/win32/" not in p),
    ("src/store", lambda p: p.startswith("src/store/")),
    ("src/skin", lambda p: p.startswith("src/skin/")),
    ("src/net", lambda p: p.startswith("src/net/")),
    ("src/panels", lambda p: p.startswith("src/panels/")),
    ("src/model", lambda p: p == "src/model/app_logic.cpp"),
    ("src/script", lambda p: p == "src/script/script_file.cpp"),
    ("server", lambda p: p.startswith("server/") and p != "server/bench.cpp"),
]

# The ctest names that test each folder, and per-file additions where a file
# of the OS seam serves one layer.
SUITES = {
    "src/base": ["native.base"],
    "src/os": ["native.os"],
    "src/store": ["native.store", "native.store_tool", "native.store_tool_chromium"],
    "src/skin": ["native.skin", "native.skin_tool"],
    "src/net": ["native.net", "e2e.net"],
    "src/panels": ["native.panels"],
    "src/model": ["native.panels", "native.store"],
    "src/script": ["native.script"],
    "server": ["native.server"],
}
FILE_SUITES = {
    "src/os/os_common.cpp": ["native.store"],
    "src/os/posix/os_posix.cpp": ["native.store"],
    "src/os/posix/net_posix.cpp": ["native.net"],
    "src/os/font_common.cpp": ["native.skin"],
    "src/os/posix/font_posix.cpp": ["native.skin"],
    "src/os/posix/fileattr_posix.cpp": ["native.store"],
    "src/os/posix/shell_posix.cpp": ["native.panels"],
    "src/os/posix/http_posix.cpp": ["native.panels"],
    "src/panels/circles.cpp": ["native.net"],  # its commands run over the real network state there
}

# What each suite runs, to build before it.
SUITE_TARGETS = {
    "native.store_tool": ["qimbo-tool"],
    "native.store_tool_chromium": ["qimbo-tool"],
    "native.skin_tool": ["qimbo-tool"],
    "e2e.net": ["qimbo-server", "qimbo-tool"],
    "native.server": ["test_server", "qimbo-server", "qimbo-tool"],
}

KEYWORDS = {
    "alignas", "alignof", "auto", "bool", "break", "case", "catch", "char", "class", "const",
    "constexpr", "const_cast", "continue", "decltype", "default", "delete", "do", "double",
    "dynamic_cast", "else", "enum", "explicit", "extern", "false", "float", "for", "friend",
    "goto", "if", "inline", "int", "long", "mutable", "namespace", "new", "noexcept", "nullptr",
    "operator", "private", "protected", "public", "register", "reinterpret_cast", "return",
    "short", "signed", "sizeof", "static", "static_assert", "static_cast", "struct", "switch",
    "template", "this", "throw", "true", "try", "typedef", "typename", "union", "unsigned",
    "using", "virtual", "void", "volatile", "while", "uint8_t", "uint16_t", "uint32_t",
    "uint64_t", "int8_t", "int16_t", "int32_t", "int64_t", "size_t",
}


# ---------------------------------------------------------------- tokens ----

class Tok:
    __slots__ = ("kind", "text", "start", "end")

    def __init__(self, kind, text, start, end):
        self.kind, self.text, self.start, self.end = kind, text, start, end

    def __repr__(self):
        return "%s(%r)" % (self.kind, self.text)


PUNCTS = sorted("""<<= >>= ... -> ++ -- << >> <= >= == != && || += -= *= /= %= &= |= ^= ::
                 { } [ ] ( ) ; : , . ? ~ ! + - * / % ^ & | = < > #""".split(), key=len, reverse=True)
NUM_RE = re.compile(r"(?:0[xX][0-9a-fA-F']+|\d[\d']*(?:\.\d*)?(?:[eE][+-]?\d+)?)[a-zA-Z_]*")
ID_RE = re.compile(r"[A-Za-z_]\w*")


def tokenize(text):
    """C++ tokens without comments, literals' insides or preprocessor lines."""
    toks = []
    i, n = 0, len(text)
    line_start = True
    while i < n:
        c = text[i]
        if c == "\n":
            line_start = True
            i += 1
            continue
        if c in " \t\r\f\v":
            i += 1
            continue
        if c == "#" and line_start:
            # A directive runs to the end of the line, with continuations.
            while i < n and text[i] != "\n":
                if text[i] == "\\" and i + 1 < n and text[i + 1] == "\n":
                    i += 2
                    continue
                if text.startswith("//", i):
                    break
                if text.startswith("/*", i):
                    j = text.find("*/", i + 2)
                    i = n if j < 0 else j + 2
                    continue
                i += 1
            continue
        line_start = False
        if text.startswith("//", i):
            j = text.find("\n", i)
            i = n if j < 0 else j
            continue
        if text.startswith("/*", i):
            j = text.find("*/", i + 2)
            i = n if j < 0 else j + 2
            continue
        m = re.match(r'(?:u8|u|U|L)?R"([^(\s]*)\(', text[i:i + 40])
        if m:
            close = ")" + m.group(1) + '"'
            j = text.find(close, i + m.end())
            j = n if j < 0 else j + len(close)
            toks.append(Tok("str", text[i:j], i, j))
            i = j
            continue
        m = re.match(r'(?:u8|u|U|L)?(["\'])', text[i:i + 4])
        if m:
            q = m.group(1)
            j = i + m.end()
            while j < n and text[j] != q:
                j += 2 if text[j] == "\\" else 1
            j += 1
            toks.append(Tok("str" if q == '"' else "chr", text[i:j], i, j))
            i = j
            continue
        m = NUM_RE.match(text, i)
        if m and (c.isdigit()):
            toks.append(Tok("num", m.group(0), i, m.end()))
            i = m.end()
            continue
        m = ID_RE.match(text, i)
        if m:
            toks.append(Tok("id", m.group(0), i, m.end()))
            i = m.end()
            continue
        for p in PUNCTS:
            if text.startswith(p, i):
                toks.append(Tok("op", p, i, i + len(p)))
                i += len(p)
                break
        else:
            toks.append(Tok("op", c, i, i + 1))
            i += 1
    return toks


# --------------------------------------------------------------- mutants ----

class Mutant:
    __slots__ = ("path", "folder", "start", "end", "repl", "kind", "line", "desc", "col")

    def __init__(self, path, folder, start, end, repl, kind, line, desc, col=0):
        self.path, self.folder, self.start, self.end = path, folder, start, end
        self.repl, self.kind, self.line, self.desc, self.col = repl, kind, line, desc, col

    def key(self):
        return (self.path, self.start, self.end, self.repl)

    def apply(self, text):
        return text[:self.start] + self.repl + text[self.end:]


REL_FLIPS = {"<": "<=", "<=": "<", ">": ">=", ">=": ">", "==": "!=", "!=": "=="}
ASSIGN_OPS = {"=", "+=", "-=", "*=", "/=", "%=", "&=", "|=", "^=", "<<=", ">>="}
# Calls whose absence changes only speed or timing (capacity hints, pauses):
# dropping them is equivalent-looking.
NO_EFFECT_CALLS = {"reserve", "shrink_to_fit", "SleepMs"}


def spaced(text, tok):
    """True for an operator written with a blank on both sides (a binary operator, not a template bracket)."""
    return (tok.start > 0 and text[tok.start - 1] in " \t\n" and tok.end < len(text)
            and text[tok.end] in " \t\n")


def int_value(lit):
    m = re.fullmatch(r"(0[xX][0-9a-fA-F']+|\d[\d']*)([uUlL]*)", lit)
    if not m:
        return None
    digits = m.group(1).replace("'", "")
    if digits.lower().startswith("0x"):
        return int(digits, 16), "hex", m.group(2), len(digits) - 2
    if len(digits) > 1 and digits.startswith("0"):
        return None  # octal: rare here, leave it
    return int(digits), "dec", m.group(2), 0


def format_int(v, style, suffix, width):
    if style == "hex":
        return "0x%0*X" % (width, v) + suffix
    return str(v) + suffix


def match_paren(toks, i):
    """Index of the token that closes the bracket at toks[i]."""
    pairs = {"(": ")", "[": "]", "{": "}"}
    o, c = toks[i].text, pairs[toks[i].text]
    depth = 0
    for j in range(i, len(toks)):
        if toks[j].text == o:
            depth += 1
        elif toks[j].text == c:
            depth -= 1
            if depth == 0:
                return j
    return len(toks) - 1


def code_blocks(toks):
    """For each token index, whether it sits in a function body (statements), not in a class, namespace or initializer."""
    inside = [False] * len(toks)
    stack = []
    for i, t in enumerate(toks):
        cur = stack[-1] if stack else False
        if t.text == "{":
            j = i - 1
            while j >= 0 and toks[j].text in ("const", "override", "noexcept", "mutable", "final"):
                j -= 1
            prev = toks[j].text if j >= 0 else ""
            if prev == ")":
                code = True  # function, lambda or control body
            elif cur and prev in (";", "{", "}", "else", "do", "try", ":", "]"):
                code = True  # nested block, else/do body, case block, lambda without parameters
            elif j >= 1 and toks[j].kind == "id" and toks[j - 1].text == "->":
                code = True  # trailing return type
            else:
                code = False
            stack.append(code)
            inside[i] = cur
            continue
        if t.text == "}":
            if stack:
                stack.pop()
            inside[i] = stack[-1] if stack else False
            continue
        inside[i] = cur
    return inside


def after_case_label(toks, colon):
    j = colon - 1
    while j >= 0 and toks[j].text not in (";", "{", "}", "case", "default", "?"):
        j -= 1
    return j >= 0 and toks[j].text in ("case", "default")


def statement_end(toks, i):
    """Index of the ';' ending the statement starting at toks[i] (at bracket depth 0)."""
    depth = 0
    for j in range(i, len(toks)):
        x = toks[j].text
        if x in ("(", "[", "{"):
            depth += 1
        elif x in (")", "]", "}"):
            depth -= 1
            if depth < 0:
                return None
        elif x == ";" and depth == 0:
            return j
    return None


def is_expression_statement(toks, i, end):
    t = toks[i]
    if t.text in ("delete", "break", "continue"):
        return True
    if t.text == "return":
        return end == i + 1  # "return;" only; values are changed, not dropped
    if t.text in ("++", "--"):
        return True
    if t.kind != "id" or t.text in KEYWORDS:
        return False
    j = i + 1
    while j + 1 < end and toks[j].text == "::" and toks[j + 1].kind == "id":
        j += 2
    nxt = toks[j].text if j < end else ";"
    return nxt in ("(", ".", "->", "[", "++", "--") or nxt in ASSIGN_OPS


def line_of(text, pos):
    return text.count("\n", 0, pos) + 1


def blank_keep_lines(s):
    return ";" + "\n" * s.count("\n")


def mutants_of(path, folder, text):
    toks = tokenize(text)
    inside = code_blocks(toks)
    out = []

    def add(a, b, repl, kind, desc, at=None):
        start, end = toks[a].start, toks[b].end
        if text[start:end] == repl:
            return
        out.append(Mutant(path, folder, start, end, repl, kind,
                          line_of(text, toks[at if at is not None else a].start), desc,
                          start - text.rfind("\n", 0, start)))

    for i, t in enumerate(toks):
        prev = toks[i - 1].text if i else ""
        # Integer constants, also those of named constants and tables outside functions.
        if t.kind == "num":
            constant_mutants(text, toks, i, add)
        if not inside[i]:
            continue
        # Relational operators.
        if t.kind == "op" and t.text in REL_FLIPS:
            if t.text in ("<", ">") and not spaced(text, t):
                pass
            elif prev == "operator":
                pass
            else:
                r = REL_FLIPS[t.text]
                add(i, i, r, "relational", "'%s' -> '%s'" % (t.text, r))
        # Logical connectives.
        if t.kind == "op" and t.text in ("&&", "||") and spaced(text, t):
            r = "||" if t.text == "&&" else "&&"
            add(i, i, r, "condition", "'%s' -> '%s'" % (t.text, r))
        # Conditions of if: dropped (always taken, never taken), or one operand of && / || dropped.
        if t.text == "if" and i + 1 < len(toks) and toks[i + 1].text == "(":
            a, b = i + 2, match_paren(toks, i + 1) - 1
            if a <= b and toks[a].text != "constexpr":
                cond = text[toks[a].start:toks[b].end]
                if "\n" not in cond and len(cond) > 40:
                    short = cond[:37] + "..."
                else:
                    short = " ".join(cond.split())[:40]
                add(a, b, "true", "condition", "if (%s) -> if (true)" % short)
                add(a, b, "false", "condition", "if (%s) -> if (false)" % short)
                # Top-level operands.
                depth, ops = 0, []
                for k in range(a, b + 1):
                    x = toks[k].text
                    if x in ("(", "[", "{"):
                        depth += 1
                    elif x in (")", "]", "}"):
                        depth -= 1
                    elif depth == 0 and x in ("&&", "||"):
                        ops.append(k)
                    elif depth == 0 and x == "?":
                        ops = []
                        break
                if ops and len({toks[k].text for k in ops}) == 1:
                    bounds = [a] + [k + 1 for k in ops]
                    ends = [k - 1 for k in ops] + [b]
                    for s, e in zip(bounds, ends):
                        operand = " ".join(text[toks[s].start:toks[e].end].split())
                        # Drop the operand together with its neighbouring connective.
                        if s == a:
                            add(s, e + 1, "", "condition", "operand '%s' dropped" % operand[:40])
                        else:
                            add(s - 1, e, "", "condition", "operand '%s' dropped" % operand[:40])
        # Statements dropped.
        if prev in (";", "{", "}", ")", "else", ":"):
            if prev == ":" and not after_case_label(toks, i - 1):
                pass
            elif prev == ")" and not is_control_paren(toks, i - 1):
                pass
            else:
                end = statement_end(toks, i)
                if end is not None and is_expression_statement(toks, i, end):
                    words = [x.text for x in toks[i:end]]
                    if any(w in NO_EFFECT_CALLS and nx == "(" for w, nx in zip(words[:5], words[1:6])):
                        pass
                    else:
                        stmt = " ".join(text[t.start:toks[end].end].split())
                        repl = blank_keep_lines(text[t.start:toks[end].end])
                        add(i, end, repl, "statement",
                            "'%s' dropped" % (stmt if len(stmt) <= 60 else stmt[:57] + "..."))
        # Return values.
        if t.text == "return":
            end = statement_end(toks, i)
            if end is not None and end > i + 1:
                expr = text[toks[i + 1].start:toks[end - 1].end]
                e = " ".join(expr.split())
                if e in ("true", "false"):
                    r = "false" if e == "true" else "true"
                    add(i + 1, end - 1, r, "return", "return %s -> return %s" % (e, r), at=i)
                elif toks[i + 1].kind == "num" and end == i + 2:
                    pass  # the constant mutations cover it
                elif e in ("nullptr", "{}", '""', "std::string()", "0u"):
                    pass
                else:
                    add(i + 1, end - 1, "{}", "return",
                        "return %s -> return {}" % (e if len(e) <= 40 else e[:37] + "..."), at=i)
    return out


def constant_mutants(text, toks, i, add):
    t = toks[i]
    v = int_value(t.text)
    if v is None:
        return
    val, style, suffix, width = v
    prev = toks[i - 1].text if i else ""
    decl_size = (prev == "[" and i + 1 < len(toks) and toks[i + 1].text == "]" and i >= 3
                 and toks[i - 2].kind == "id" and (toks[i - 3].kind == "id" or toks[i - 3].text in ("*", ">")))
    for d in (1, -1):
        nv = val + d
        if nv < 0 and (style == "hex" or "u" in suffix.lower() or prev == "-"):
            continue
        if d == 1 and decl_size:
            continue  # a larger buffer: equivalent-looking
        r = format_int(nv, style, suffix, width) if nv >= 0 else "(%d)" % nv
        add(i, i, r, "constant", "%s -> %s" % (t.text, r))


def is_control_paren(toks, close):
    """True when the ')' at toks[close] ends the head of an if, for, while or switch."""
    depth = 0
    for j in range(close, -1, -1):
        x = toks[j].text
        if x == ")":
            depth += 1
        elif x == "(":
            depth -= 1
            if depth == 0:
                return j > 0 and toks[j - 1].text in ("if", "for", "while")
    return False


# ----------------------------------------------------------------- tree -----

def tree_files(base):
    files = {}
    for item in MIRROR_ITEMS:
        p = os.path.join(base, item)
        if os.path.isfile(p):
            files[item] = p
            continue
        for dirpath, dirnames, filenames in os.walk(p):
            dirnames[:] = [d for d in dirnames if not d.startswith(".")]
            for f in filenames:
                full = os.path.join(dirpath, f)
                files[os.path.relpath(full, base)] = full
    return files


def same_bytes(a, b):
    try:
        if os.path.getsize(a) != os.path.getsize(b):
            return False
        with open(a, "rb") as fa, open(b, "rb") as fb:
            return fa.read() == fb.read()
    except OSError:
        return False


def sync_mirror(mirror):
    """Makes the mirror equal to the working tree, touching only files that differ."""
    src = tree_files(ROOT)
    os.makedirs(mirror, exist_ok=True)
    have = tree_files(mirror)
    changed = 0
    for rel, full in src.items():
        dst = os.path.join(mirror, rel)
        if rel in have and same_bytes(full, dst):
            continue
        os.makedirs(os.path.dirname(dst), exist_ok=True)
        shutil.copyfile(full, dst)
        shutil.copymode(full, dst)
        changed += 1
    for rel, full in have.items():
        if rel not in src:
            os.remove(full)
            changed += 1
    return changed


def folder_of(rel):
    for name, test in FOLDERS:
        if test(rel):
            return name
    return None


def scope_files(focus):
    out = []
    for rel in sorted(tree_files(ROOT)):
        if not rel.endswith(".cpp") or rel.endswith("_win32.cpp"):
            continue
        if folder_of(rel) is None:
            continue
        if focus and not any(rel == f or rel.startswith(f.rstrip("/") + "/") for f in focus):
            continue
        out.append(rel)
    return out


# ---------------------------------------------------------------- build -----

class Runner:
    def __init__(self, args):
        self.args = args
        self.work = os.path.abspath(args.build_dir)
        self.mirror = os.path.join(self.work, "tree")
        self.build = os.path.join(self.work, "build")
        self.ninja = shutil.which("ninja") is not None
        self.tests = {}
        self.base_time = {}
        self.netns = None
        self.current = None  # (path, original bytes) while a mutant is in place
        self.proc = None

    def log(self, *a):
        print(*a, flush=True)

    def configure(self):
        cache = os.path.join(self.build, "CMakeCache.txt")
        stamp = os.path.join(self.build, "mutants-configure.txt")
        cmd = ["cmake", "-S", self.mirror, "-B", self.build, "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
               # No debug information: an equivalent mutant then gives the same object bytes.
               "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -DNDEBUG", "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O2 -DNDEBUG"]
        if self.ninja:
            cmd += ["-G", "Ninja"]
        if self.args.sanitize:
            # Address and leak checks: a dropped free, a read past a buffer or a
            # use after free fails the suite like a failed expectation does.
            # The library's own checks as well: an index past a string's end or
            # back() of an empty string stops the suite, though it stays inside
            # the object where the address check does not look.
            san = ("-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
                   " -D_GLIBCXX_ASSERTIONS")
            cmd += ["-DCMAKE_CXX_FLAGS=" + san, "-DCMAKE_C_FLAGS=" + san,
                    "-DCMAKE_EXE_LINKER_FLAGS=-fsanitize=address,undefined"]
        else:
            cmd += ["-DCMAKE_CXX_FLAGS=", "-DCMAKE_C_FLAGS=", "-DCMAKE_EXE_LINKER_FLAGS="]
        # Configured once, and again when the flags change (a sanitized build and a plain one).
        want = "\n".join(cmd) + "\n"
        if os.path.exists(cache) and os.path.exists(stamp):
            with open(stamp) as fh:
                if fh.read() == want:
                    return True
        r = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        if r.returncode != 0:
            self.log(r.stdout[-3000:])
            return False
        with open(stamp, "w") as fh:
            fh.write(want)
        return True

    def build_targets(self, targets, timeout):
        cmd = ["cmake", "--build", self.build, "-j%d" % self.args.jobs]
        for t in targets:
            cmd += ["--target", t]
        try:
            r = self.run_group(cmd, timeout, capture=True)
        except subprocess.TimeoutExpired:
            return False, "build timed out"
        return r.returncode == 0, r.stdout

    def run_group(self, cmd, timeout, capture=False, env=None, cwd=None):
        """Runs a command in its own process group; the whole group dies on time-out or interrupt."""
        self.proc = subprocess.Popen(cmd, stdout=subprocess.PIPE if capture else subprocess.DEVNULL,
                                     stderr=subprocess.STDOUT if capture else subprocess.DEVNULL,
                                     text=True, start_new_session=True, env=env, cwd=cwd)
        try:
            out, _ = self.proc.communicate(timeout=timeout)
            return subprocess.CompletedProcess(cmd, self.proc.returncode, out or "", "")
        except BaseException:
            self.kill_group()
            raise
        finally:
            self.proc = None

    def kill_group(self):
        p = self.proc
        if p is None:
            return
        try:
            os.killpg(p.pid, signal.SIGKILL)
        except OSError:
            pass
        try:
            p.wait(timeout=10)
        except Exception:
            pass

    def load_tests(self):
        r = subprocess.run(["ctest", "--show-only=json-v1"], cwd=self.build, stdout=subprocess.PIPE,
                           stderr=subprocess.DEVNULL, text=True)
        data = json.loads(r.stdout)
        for t in data.get("tests", []):
            if not t.get("command"):
                continue
            cwd = self.build
            for p in t.get("properties", []):
                if p.get("name") == "WORKING_DIRECTORY":
                    cwd = p["value"]
            self.tests[t["name"]] = (t["command"], cwd)

    def targets_for(self, suites):
        targets = set()
        for s in suites:
            targets |= set(SUITE_TARGETS.get(s, ["test_" + s.split(".", 1)[1]]))
        return sorted(targets)

    def check_netns(self):
        if not shutil.which("unshare") or not shutil.which("ip"):
            return
        pre = ["unshare", "-n"] if os.geteuid() == 0 else ["unshare", "-rn"]
        probe = pre + ["sh", "-c", "ip link set lo up"]
        if subprocess.run(probe, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0:
            self.netns = pre

    def run_suite(self, name, timeout):
        """0 passed, 1 failed, 2 timed out."""
        cmd, cwd = self.tests[name]
        if self.netns:
            # A network namespace of its own: fixed test ports never meet other runs on this machine.
            cmd = self.netns + ["sh", "-c", 'ip link set lo up && exec "$@"', "sh"] + cmd
        env = dict(os.environ, GTEST_FAIL_FAST="1", GTEST_BRIEF="1",
                   ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:exitcode=23",
                   UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1")
        try:
            r = self.run_group(cmd, timeout, env=env, cwd=cwd)
        except subprocess.TimeoutExpired:
            return 2
        return 0 if r.returncode == 0 else 1

    def object_hashes(self, rel):
        """Hashes of the objects built from one source file of the mirror."""
        out = {}
        tail = rel.split("/", 1)[1] if rel.startswith("server/") else rel
        for dirpath, dirnames, filenames in os.walk(self.build):
            if not dirpath.endswith(".dir") and ".dir" not in dirpath:
                continue
            for f in filenames:
                full = os.path.join(dirpath, f)
                if full.endswith("/" + tail + ".o"):
                    if rel.startswith("server/") and "/server/CMakeFiles/" not in full:
                        continue
                    with open(full, "rb") as fh:
                        out[full] = hashlib.sha1(fh.read()).hexdigest()
        return out

    # Restoring is the one thing that must always happen.
    def restore(self):
        if self.current is None:
            return
        path, data = self.current
        with open(path, "wb") as fh:
            fh.write(data)
        self.current = None

    def place(self, m):
        path = os.path.join(self.mirror, m.path)
        with open(path, "rb") as fh:
            data = fh.read()
        self.current = (path, data)
        text = data.decode("utf-8")
        with open(path, "wb") as fh:
            fh.write(m.apply(text).encode("utf-8"))


def suites_for(rel):
    folder = folder_of(rel)
    out = list(SUITES[folder])
    for s in FILE_SUITES.get(rel, []):
        if s not in out:
            out.append(s)
    return out


def sample(all_mutants, n, seed):
    rng = random.Random(seed)
    by_folder = {}
    for m in all_mutants:
        by_folder.setdefault(m.folder, []).append(m)
    folders = [f for f, _ in FOLDERS if f in by_folder]
    # An even share per folder, so that each folder's figure rests on a like number of mutants.
    share = {f: 0 for f in folders}
    left = n
    while left > 0 and any(share[f] < len(by_folder[f]) for f in folders):
        for f in folders:
            if left and share[f] < len(by_folder[f]):
                share[f] += 1
                left -= 1
    picked = []
    for f in folders:
        picked += rng.sample(by_folder[f], share[f])
    picked.sort(key=lambda m: (m.path, m.start))
    return picked


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("-n", "--count", type=int, default=60)
    ap.add_argument("--focus", default="", help="comma-separated files or folders (default: all)")
    ap.add_argument("--timeout", type=float, default=0,
                    help="seconds per suite run of a mutant (default: 4 x the clean run + 10)")
    ap.add_argument("--build-dir", default="",
                    help="default build/mutants (build/mutants-plain without --sanitize)")
    ap.add_argument("--sanitize", dest="sanitize", action="store_true", default=True,
                    help="build with the address, leak and undefined-behaviour checks (default)")
    ap.add_argument("--no-sanitize", dest="sanitize", action="store_false",
                    help="build as the normal test build does")
    ap.add_argument("-j", "--jobs", type=int, default=2)
    ap.add_argument("--list", action="store_true", help="list the sampled mutants and stop")
    ap.add_argument("--all", action="store_true", help="every mutant in scope, no sampling")
    ap.add_argument("--report", default="", help="also write the results as JSON here")
    ap.add_argument("--rerun", default="", help="run again the survivors of such a JSON report")
    ap.add_argument("--summary", default="",
                    help="print the figures of such a JSON report again, with today's equivalent marks")
    args = ap.parse_args()
    if not args.build_dir:
        args.build_dir = os.path.join(ROOT, "build", "mutants" if args.sanitize else "mutants-plain")

    if args.summary:
        return summarize(args)
    focus = [f.strip().rstrip("/") for f in args.focus.split(",") if f.strip()]
    files = scope_files(focus)
    if not files:
        print("mutants: nothing in scope for focus %r" % args.focus, file=sys.stderr)
        return 2
    everything = []
    for rel in files:
        with open(os.path.join(ROOT, rel), encoding="utf-8") as fh:
            everything += mutants_of(rel, folder_of(rel), fh.read())
    if args.rerun:
        with open(args.rerun) as fh:
            wanted = {(r["path"], r["line"], r["desc"]) for r in json.load(fh)["results"] if r["status"] == "survived"}
        picked = [m for m in everything if (m.path, m.line, m.desc) in wanted]
    elif args.all:
        picked = everything
    else:
        picked = sample(everything, args.count, args.seed)
    print("mutants: %d possible in %d files, %d sampled (seed %d)" % (len(everything), len(files), len(picked),
                                                                      args.seed), flush=True)
    if args.list:
        for m in picked:
            print("  %s:%d  %-10s %s" % (m.path, m.line, m.kind, m.desc))
        return 0

    marked = load_marks(os.path.join(ROOT, "scripts", "mutants-equivalent.txt"))
    known = load_marks(os.path.join(ROOT, "scripts", "mutants-not-killed.txt"))
    run = Runner(args)
    interrupted = []

    def on_signal(signum, frame):
        interrupted.append(signum)
        raise KeyboardInterrupt

    for s in (signal.SIGTERM, signal.SIGHUP):
        signal.signal(s, on_signal)

    results = []
    started = time.time()
    try:
        changed = sync_mirror(run.mirror)
        SOURCE_ROOT[0] = run.mirror
        print("mutants: mirror %s (%d files updated)" % (run.mirror, changed), flush=True)
        if not run.configure():
            print("mutants: configure failed", file=sys.stderr)
            return 2
        run.check_netns()
        if not run.netns:
            print("mutants: no private network namespace; network suites share this machine's ports", flush=True)
        suites_needed = []
        for rel in sorted({m.path for m in picked}):
            for s in suites_for(rel):
                if s not in suites_needed:
                    suites_needed.append(s)
        targets = run.targets_for(suites_needed)
        print("mutants: building %s" % " ".join(targets), flush=True)
        ok, out = run.build_targets(targets, 3600)
        if not ok:
            print(out[-4000:], file=sys.stderr)
            print("mutants: the clean tree does not build", file=sys.stderr)
            return 2
        run.load_tests()
        missing = [s for s in suites_needed if s not in run.tests]
        if missing:
            print("mutants: no such tests in the build: %s" % " ".join(missing), file=sys.stderr)
            return 2
        # The clean run: every suite must pass, and gives the time limit.
        for s in suites_needed:
            t0 = time.time()
            rc = run.run_suite(s, 1800)
            run.base_time[s] = time.time() - t0
            print("mutants: clean %-20s %s in %.1f s" % (s, "passes" if rc == 0 else "FAILS", run.base_time[s]),
                  flush=True)
            if rc != 0:
                print("mutants: a suite fails without any mutant; fix that first", file=sys.stderr)
                return 2
        pristine = {rel: run.object_hashes(rel) for rel in sorted({m.path for m in picked})}

        for idx, m in enumerate(picked, 1):
            suites = [s for s in suites_for(m.path) if s in run.tests]
            suites.sort(key=lambda s: run.base_time.get(s, 0))
            t0 = time.time()
            res = {"path": m.path, "line": m.line, "kind": m.kind, "desc": m.desc, "folder": m.folder,
                   "text": source_line(m)}
            res["col"] = m.col
            judged = [(st, label, mark_of(marks, res)) for st, label, marks in
                      (("marked", "equivalent", marked), ("not-killed", "not killed", known))]
            judged = [j for j in judged if j[2]]
            if judged:
                status, label, why = judged[0]
                res.update(status=status, why=why, seconds=0)
                results.append(res)
                print("[%2d/%d] %-10s %s:%d  %s  %s  (%s: %s)" % (idx, len(picked), status, m.path, m.line, m.kind,
                                                                 m.desc, label, why), flush=True)
                continue
            try:
                run.place(m)
                ok, out = run.build_targets(run.targets_for(suites), 900)
                if not ok:
                    res["status"] = "no-compile"
                elif pristine[m.path] and run.object_hashes(m.path) == pristine[m.path]:
                    res["status"] = "equivalent"
                else:
                    res["status"] = "survived"
                    for s in suites:
                        limit = args.timeout or (4 * run.base_time[s] + 10)
                        rc = run.run_suite(s, limit)
                        if rc:
                            res["status"] = "killed" if rc == 1 else "timeout"
                            res["by"] = s
                            break
            finally:
                run.restore()
            res["seconds"] = round(time.time() - t0, 1)
            results.append(res)
            print("[%2d/%d] %-10s %s:%d  %s  %s%s  [%.0f s]" % (
                idx, len(picked), res["status"], m.path, m.line, m.kind, m.desc,
                ("  (" + res["by"] + ")") if "by" in res else "", res["seconds"]), flush=True)
    except KeyboardInterrupt:
        run.kill_group()
        run.restore()
        print("\nmutants: interrupted; the mirror is restored, results so far follow", flush=True)
    finally:
        run.kill_group()
        run.restore()

    report(results, args, time.time() - started)
    if args.report:
        with open(args.report, "w") as fh:
            json.dump({"seed": args.seed, "count": args.count, "focus": focus, "results": results}, fh, indent=1)
    return 130 if interrupted else 0


_LINES = {}
# Where the sources of the run are read from: the mirror once it is synced, so
# that a working tree changed meanwhile does not confuse the report.
SOURCE_ROOT = [ROOT]


def source_line(m):
    if m.path not in _LINES:
        with open(os.path.join(SOURCE_ROOT[0], m.path), encoding="utf-8") as fh:
            _LINES[m.path] = fh.read().split("\n")
    return _LINES[m.path][m.line - 1].strip()


def load_marks(path):
    """Mutants judged equivalent by hand: "file | mutation | source line | why", one a line;
    "file@column" where one line holds two mutants of the same description, "file:line"
    where the same source line stands twice in the file and only one place is
    equivalent, "file:line@column" for both at once, and "*" as the mutation
    for every mutant of that line."""
    marks = {}
    if not os.path.exists(path):
        return marks
    with open(path, encoding="utf-8") as fh:
        for raw in fh:
            if not raw.strip() or raw.lstrip().startswith("#"):
                continue
            # The reason is the last field and the file the first; the source
            # line may hold " | " itself, so every split of the middle is kept.
            parts = [x.strip() for x in raw.rstrip("\n").split(" | ")]
            if len(parts) < 4:
                continue
            for k in range(2, len(parts) - 1):
                desc, text = " | ".join(parts[1:k]), " | ".join(parts[k:-1])
                marks[(parts[0], desc, text)] = parts[-1]
    return marks


def mark_of(marked, r):
    """The reason a result is marked equivalent, or None."""
    text = r.get("text", "")
    return (marked.get((r["path"], r["desc"], text)) or
            marked.get(("%s@%d" % (r["path"], r.get("col", 0)), r["desc"], text)) or
            marked.get(("%s:%d" % (r["path"], r.get("line", 0)), r["desc"], text)) or
            marked.get(("%s:%d@%d" % (r["path"], r.get("line", 0), r.get("col", 0)), r["desc"], text)) or
            marked.get((r["path"], "*", text)))


def summarize(args):
    """The figures of an earlier run, with mutants marked equivalent since then counted as such."""
    with open(args.summary) as fh:
        data = json.load(fh)
    marked = load_marks(os.path.join(ROOT, "scripts", "mutants-equivalent.txt"))
    known = load_marks(os.path.join(ROOT, "scripts", "mutants-not-killed.txt"))
    results = data["results"]
    for r in results:
        if r["status"] in ("equivalent", "no-compile", "killed", "timeout"):
            continue
        # Marks are judged again by today's lists: an older report's "marked"
        # may since have moved to the list of those not killed.
        why = mark_of(marked, r)
        if why:
            r["status"], r["why"] = "marked", why
        elif mark_of(known, r):
            r["status"], r["why"] = "not-killed", mark_of(known, r)
        elif r["status"] == "marked":
            r["status"] = "survived"
    args.seed = data.get("seed", args.seed)
    report(results, args, sum(r.get("seconds", 0) for r in results))
    return 0


def report(results, args, seconds):
    print()
    what = "survivors of %s" % args.rerun if args.rerun else "seed %d" % args.seed
    print("Mutation run: %s, %d mutants, %.0f min" % (what, len(results), seconds / 60))
    # Survivors include the mutants known not to be killed; the last column is
    # the rate with those left out as well, as if they were equivalent.
    print("%-12s %7s %7s %8s %9s %9s %6s %9s %9s" % ("folder", "tested", "killed", "survived", "not-kill.",
                                                     "no-build", "equiv", "kill rate", "w/o known"))
    totals = [0, 0, 0, 0, 0, 0]

    def rates(tested, killed, known):
        a = "%.0f %%" % (100.0 * killed / tested) if tested else "-"
        b = "%.0f %%" % (100.0 * killed / (tested - known)) if tested > known else "-"
        return a, b

    for folder, _ in FOLDERS:
        rs = [r for r in results if r["folder"] == folder]
        if not rs:
            continue
        killed = sum(r["status"] in ("killed", "timeout") for r in rs)
        known = sum(r["status"] == "not-killed" for r in rs)
        surv = sum(r["status"] == "survived" for r in rs) + known
        nob = sum(r["status"] == "no-compile" for r in rs)
        eq = sum(r["status"] in ("equivalent", "marked") for r in rs)
        tested = killed + surv
        for k, v in enumerate((tested, killed, surv, known, nob, eq)):
            totals[k] += v
        print("%-12s %7d %7d %8d %9d %9d %6d %9s %9s" % ((folder, tested, killed, surv, known, nob, eq) +
                                                          rates(tested, killed, known)))
    print("%-12s %7d %7d %8d %9d %9d %6d %9s %9s" % (("all",) + tuple(totals) +
                                                      rates(totals[0], totals[1], totals[3])))
    timeouts = sum(r["status"] == "timeout" for r in results)
    if timeouts:
        print("(killed includes %d by time-out)" % timeouts)
    marked = [r for r in results if r["status"] == "marked"]
    if marked:
        print("(equiv includes %d marked by hand in scripts/mutants-equivalent.txt)" % len(marked))
    known = [r for r in results if r["status"] == "not-killed"]
    if known:
        print("\nNot killed, known (scripts/mutants-not-killed.txt):")
        for r in known:
            print("  %s:%d  %s  %s\n      %s" % (r["path"], r["line"], r["kind"], r["desc"], r.get("why", "")))
    surv = [r for r in results if r["status"] == "survived"]
    if surv:
        print("\nSurvivors:")
        for r in surv:
            print("  %s:%d:%d  %s  %s\n      %s" % (r["path"], r["line"], r.get("col", 0), r["kind"], r["desc"],
                                                  r.get("text", "")))


if __name__ == "__main__":
    sys.exit(main())
