#!/usr/bin/env python3
"""The layering check itself, on small trees of its own: each rule passes on
the last include it allows and fails on the first it refuses."""
import os
import subprocess
import sys
import tempfile
import unittest

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "layering.py")


def run(files):
    """Writes the files (path -> text) into a fresh tree and checks it."""
    with tempfile.TemporaryDirectory() as root:
        for path, text in files.items():
            full = os.path.join(root, path)
            os.makedirs(os.path.dirname(full), exist_ok=True)
            with open(full, "w", encoding="utf-8") as f:
                f.write(text)
        r = subprocess.run([sys.executable, SCRIPT, root], capture_output=True, text=True)
        return r.returncode, r.stdout


def inc(*targets):
    return "".join(f'#include "{t}"\n' for t in targets)


class Case(unittest.TestCase):
    def passes(self, extra):
        code, out = run(dict(BASE, **extra))
        self.assertEqual(0, code, out)

    def refused(self, extra, why):
        code, out = run(dict(BASE, **extra))
        self.assertEqual(1, code, out)
        self.assertIn(why, out)


BASE = {"src/base/ui.h": "", "src/model/app_logic.h": "", "src/app/main_dlg_win32.h": "",
        "src/panels/circles.h": "", "src/win/text_win32.h": "", "src/widgets/text.h": "",
        "src/store/node.h": "", "src/skin/skin.h": "", "res/resource.h": ""}


class Levels(Case):
    def test_a_clean_tree_passes(self):
        self.passes({"src/panels/a.cpp": inc("model/app_logic.h", "panels/circles.h", "base/ui.h")})

    def test_one_level_down_passes_and_one_level_up_fails(self):
        self.passes({"src/panels/a.cpp": inc("model/app_logic.h")})
        self.refused({"src/model/a.cpp": inc("panels/circles.h")}, "model/ includes from panels/, a folder above it")

    def test_the_panels_including_the_application_fail(self):
        self.refused({"src/panels/buttons_win32.cpp": inc("app/main_dlg_win32.h")}, "src/panels/buttons_win32.cpp:1")

    def test_the_skin_including_the_widgets_fails(self):
        self.refused({"src/skin/bcmenu_win32.cpp": inc("widgets/text.h")}, "skin/ includes from widgets/")

    def test_a_relative_include_counts_as_the_folder_it_names(self):
        self.passes({"src/store/a.cpp": inc("node.h")})
        self.refused({"src/store/a.cpp": inc("../panels/circles.h")}, "store/ includes from panels/")

    def test_resource_identifiers_are_beside_every_level(self):
        self.passes({"src/base/a_win32.cpp": inc("../../res/resource.h")})


class Win32Files(Case):
    def test_a_win32_file_builds_on_win_and_a_portable_one_does_not(self):
        self.passes({"src/store/a_win32.cpp": inc("win/text_win32.h")})
        self.refused({"src/store/a.cpp": inc("win/text_win32.h")}, "a portable file includes a Win32 file")

    def test_the_os_seams_win32_folder_counts_as_win32(self):
        self.passes({"src/os/win32/os.cpp": inc("win/text_win32.h")})

    def test_a_windows_system_header_is_for_win32_files_only(self):
        # Under #ifdef too: the file's name has to say it needs Windows.
        guarded = "#ifdef _WIN32\n#include <windows.h>\n#else\n#include <iconv.h>\n#endif\n"
        self.passes({"src/base/codepage_win32.cpp": guarded, "src/os/win32/net.cpp": "#include <WinSock2.h>\n",
                     "src/base/text.cpp": "#include <string>\n#include <iconv.h>\n"})
        self.refused({"src/base/codepage.cpp": guarded},
                     "src/base/codepage.cpp:2: #include <windows.h>: a portable file includes a Windows system header")
        self.refused({"src/script/hook.cpp": "  #  include <commctrl.h>\n"}, "a Windows system header")


class Cycles(Case):
    def test_two_folders_of_one_level_may_not_include_from_each_other(self):
        one_way = {"src/skin/a.cpp": inc("store/node.h")}
        self.passes(one_way)
        self.refused(dict(one_way, **{"src/store/b.cpp": inc("skin/skin.h")}), "skin/ and store/ include from each other")


class Unknowns(Case):
    def test_a_folder_without_a_level_fails(self):
        self.refused({"src/extra/a.cpp": ""}, "src/extra/ has no place in the order of levels")

    def test_an_include_of_a_missing_file_fails(self):
        self.refused({"src/store/a.cpp": inc("store/gone.h")}, "no such file in the tree")


if __name__ == "__main__":
    unittest.main()
