"""What the built programs load when they start.

Each shared library a program needs costs every start of it the dynamic
loader's time. GIO and GLib are needed only to show a message box, which
nearly no run does: rssnotify loads them from its module at that moment, and
the converter, started once per feed, never needs them. pugixml and the C++
runtime are linked into the programs themselves, so that the loader binds
none of their symbols at a start.
"""

import os
import subprocess
import unittest

from sandbox import BUILD_DIR
import sandbox

setUpModule = sandbox.linux_only_module(
    "the ELF shared libraries the Linux programs load; the Windows programs are linked "
    "statically")

PROGRAMS = {
    "rssnotify": os.path.join(BUILD_DIR, "rssnotify"),
    "FeedPull.exe": os.path.join(BUILD_DIR, "companions", "feedpull", "FeedPull.exe"),
    "qVMRSS.exe": os.path.join(BUILD_DIR, "companions", "viewer", "qVMRSS.exe"),
    "flarebox-display": os.path.join(BUILD_DIR, "companions", "popup", "flarebox-display"),
    "message box module": os.path.join(BUILD_DIR, "rssnotify-messagebox.so"),
}

DESKTOP = ("libgio-2.0", "libglib-2.0", "libgobject-2.0")


def sanitized():
    """True for a build with sanitizers, whose runtime brings libraries of
    its own: what the programs load is a question for the plain build."""
    try:
        with open(os.path.join(BUILD_DIR, "CMakeCache.txt"), encoding="utf-8") as f:
            return "-fsanitize" in f.read()
    except OSError:
        return False


def loaded(path):
    """The shared libraries the loader brings in for `path`, by file name."""
    out = subprocess.run(["ldd", path], capture_output=True, text=True, check=True).stdout
    return sorted(line.split()[0] for line in out.splitlines() if "=>" in line)


@unittest.skipIf(sanitized(), "a sanitizer build links the sanitizers' runtime libraries")
class LinkingTest(unittest.TestCase):
    maxDiff = None

    def test_no_program_links_a_library_it_does_not_call(self):
        for name, path in PROGRAMS.items():
            with self.subTest(name):
                result = subprocess.run(["ldd", "-u", path], capture_output=True, text=True)
                self.assertEqual(result.stdout, "")
                self.assertEqual(result.returncode, 0)

    def test_rssnotify_starts_without_the_desktop_or_network_libraries(self):
        self.assertEqual(loaded(PROGRAMS["rssnotify"]), ["libc.so.6", "libm.so.6"])

    def test_only_the_message_box_module_and_the_popup_load_the_desktop_libraries(self):
        for name in ("FeedPull.exe", "qVMRSS.exe"):
            with self.subTest(name):
                self.assertEqual([lib for lib in loaded(PROGRAMS[name])
                                  if lib.startswith(DESKTOP)], [])
        for name in ("message box module", "flarebox-display"):
            with self.subTest(name):
                self.assertEqual(len([lib for lib in loaded(PROGRAMS[name])
                                      if lib.startswith(DESKTOP)]), 3)

    def test_feedpull_links_only_the_c_library(self):
        out = subprocess.run(["readelf", "-d", PROGRAMS["FeedPull.exe"]], capture_output=True,
                             text=True, check=True).stdout
        needed = sorted(line.split("[")[1].rstrip("]") for line in out.splitlines()
                        if "(NEEDED)" in line)
        # libcurl is loaded at run time, for http(s) URLs only.
        self.assertEqual(needed, ["ld-linux-x86-64.so.2", "libc.so.6", "libm.so.6"])


if __name__ == "__main__":
    unittest.main()
