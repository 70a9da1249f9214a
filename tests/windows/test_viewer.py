"""qVMRSS.exe, the viewer, under Wine: its page and the default browser.

The viewer's scenarios after real feed updates run against this program in
tests/test_viewer.py with the sandbox's Windows back-end; this test keeps
what only it checks: the same page and store bytes as the Linux program for
the same files (non-ASCII text, an installation folder with a blank), and
the message when no program opens .html files.

The Wine prefix's registry holds the product key (imported as
test_whole_run.py imports it), and its classes root names open_recorder.exe
(tests/windows/open_recorder.cpp) as the program that opens .html files: a
stand-in browser that records the arguments it was started with. The data
folder holds an update-state file and two feed stores. The viewer must write
its page to %LOCALAPPDATA%\\rssnotify\\feeds.html, have the shell open it
(the stand-in then holds the page's path as its one argument), print
nothing and mark the items it showed read. The page is read back into plain
data and compared with what it must show; with --linux-viewer, the Linux
build's viewer runs on the same files in a Linux sandbox and its page and
stores must have the same bytes.

    python3 test_viewer.py --wine scripts/wine.sh --prefix PREFIX \\
        --viewer build-windows/qLUX/qVMRSS.exe --recorder build-windows/tests/windows/open_recorder.exe \\
        [--linux-viewer build/companions/viewer/qVMRSS.exe]

The test owns the product key HKLM\\SOFTWARE\\KESTRA (32-bit view),
C:\\rssnotify-viewer, C:\\ProgramData\\KESTRA, the user's
%LOCALAPPDATA%\\rssnotify and the classes root's .html key in the prefix; it
puts back the .html key as it found it and removes the rest.
"""

import argparse
import os
import shutil
import subprocess
import sys
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, ".."))
import sandbox  # noqa: E402
from test_whole_run import PROGRAM_DATA, Wine  # noqa: E402
from viewer_page import parse_page  # noqa: E402

ARGS = None

ROOT = "C:\\rssnotify-viewer"
INSTALL = ROOT + "\\KESTRA Agent"
RECORDER = ROOT + "\\stand-in browser\\open_recorder.exe"
PAGE_CLASS = "RssnotifyTestPage"
# How long the shell may take to start the stand-in browser; it is waited
# for, never timed.
RECORD_WAIT_SECONDS = 60

STATE = ("[RSSLinks]\r\nTemplateID=T1\r\nTemplateVersion=3\r\n"
         "Urls=https://alpha.example/feed@#@https://beta.example/feed\r\n"
         "[TotalNewRSS]\r\nNewRSSCount=2\r\n")


def element(name, text):
    return "<%s>%s</%s>" % (name, text, name) if text else "<%s />" % name


def store(header, items):
    """A store as rssnotify writes it: tabs, LF line ends, empty elements
    closed at once."""
    parts = ['<?xml version="1.0" encoding="UTF-8"?>\n<rootrss>\n']
    parts += ["\t%s\n" % element(k, v) for k, v in header]
    for fields, status in items:
        parts.append("\t<item>\n")
        parts += ["\t\t%s\n" % element(k, v) for k, v in fields]
        parts.append("\t\t<Status>%s</Status>\n\t</item>\n" % status)
    parts.append("</rootrss>\n")
    return "".join(parts).encode("utf-8")


ALPHA_HEADER = [("maintitle", "Alpha &amp; Co \u00e9"), ("mainlink", "https://alpha.example/"),
                ("maindescription", "&lt;p&gt;Alpha &lt;i&gt;news&lt;/i&gt;&lt;/p&gt;")]
A2 = [("title", "A2 \u20ac"), ("description", "&lt;b&gt;Bold&lt;/b&gt; &amp;amp; more"),
      ("link", "https://alpha.example/2?a=1&amp;b=2"),
      ("pubDate", "Tue, 02 Jan 2024 10:00:00 GMT"), ("author", "Ann"), ("GUID", "a2")]
A1 = [("title", "A1"), ("description", "First"), ("link", "javascript:alert(1)"),
      ("pubDate", "Mon, 01 Jan 2024 08:00:00 GMT"), ("author", ""), ("GUID", "a1")]
BETA_HEADER = [("maintitle", "Beta"), ("mainlink", "mailto:beta@beta.example"),
               ("maindescription", "Beta's feed")]
B1 = [("title", "B1"), ("description", ""), ("link", "https://beta.example/1"),
      ("pubDate", "Sun, 31 Dec 2023 12:00:00 GMT"), ("author", "Bob"), ("GUID", "b1")]

STORES = {
    "Link_1_T1_3.xml": (store(ALPHA_HEADER, [(A2, "Unread"), (A1, "Read")]),
                        store(ALPHA_HEADER, [(A2, "Read"), (A1, "Read")])),
    "Link_2_T1_3.xml": (store(BETA_HEADER, [(B1, "Unread")]),
                        store(BETA_HEADER, [(B1, "Read")])),
}


def item(title, href, date, author, description, unread):
    return {"new": "New" if unread else None, "unread": unread, "title": title, "href": href,
            "date": date, "author": author, "description": description}


EXPECTED_FEEDS = [
    {"heading": "Alpha & Co \u00e9", "href": "https://alpha.example/", "count": "1 new",
     "description": "Alpha news", "link": None, "message": None, "empty": None,
     "problem": False,
     "items": [item("A2 \u20ac", "https://alpha.example/2?a=1&b=2",
                    "Tue, 02 Jan 2024 10:00:00 GMT", "by Ann", "Bold & more", True),
               item("A1", None, "Mon, 01 Jan 2024 08:00:00 GMT", None, "First", False)]},
    {"heading": "Beta", "href": "mailto:beta@beta.example", "count": "1 new",
     "description": "Beta's feed", "link": None, "message": None, "empty": None,
     "problem": False,
     "items": [item("B1", "https://beta.example/1", "Sun, 31 Dec 2023 12:00:00 GMT", "by Bob",
                    None, True)]},
]


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


class ViewerTest(unittest.TestCase):
    maxDiff = None

    def setUp(self):
        self.wine = wine = Wine(ARGS.wine, ARGS.prefix)
        local = wine.run("cmd", "/c", "echo", "%LOCALAPPDATA%").stdout.decode().strip()
        self.assertRegex(local, r"^C:\\")
        self.page = local + "\\rssnotify\\feeds.html"
        self.remove_all()
        self.save_html_key()
        self.addCleanup(self.restore_html_key)
        if not os.environ.get("RSSNOTIFY_KEEP"):
            self.addCleanup(self.remove_all)

        os.makedirs(os.path.join(wine.unix(INSTALL), "qLUX"))
        self.viewer = INSTALL + "\\qLUX\\qVMRSS.exe"
        shutil.copyfile(ARGS.viewer, wine.unix(self.viewer))
        os.makedirs(os.path.dirname(wine.unix(RECORDER)))
        shutil.copyfile(ARGS.recorder, wine.unix(RECORDER))
        self.record = os.path.join(os.path.dirname(wine.unix(RECORDER)), "open_recorder.txt")

        self.rsslinks = wine.unix(PROGRAM_DATA + "\\KESTRA\\qLUX\\Dovel\\RSSLinks")
        os.makedirs(self.rsslinks)
        self.write_feed_files(self.rsslinks)

        reg = os.path.join(wine.unix(ROOT), "test.reg")
        command = '"%s" "%%1"' % RECORDER
        lines = ["Windows Registry Editor Version 5.00", "",
                 r"[HKEY_LOCAL_MACHINE\SOFTWARE\KESTRA]",
                 '"InstallationPath"=' + sandbox.reg_string(INSTALL), "",
                 r"[HKEY_CLASSES_ROOT\.html]", "@=" + sandbox.reg_string(PAGE_CLASS), "",
                 r"[HKEY_CLASSES_ROOT\%s\shell\open\command]" % PAGE_CLASS,
                 "@=" + sandbox.reg_string(command)]
        with open(reg, "w", encoding="utf-8", newline="") as f:
            f.write("\r\n".join(lines) + "\r\n")
        # The product key where the agent writes it (32-bit view); the
        # classes root has one view under Wine.
        sandbox.wine_tool(wine.run, "reg", "import", ROOT + "\\test.reg", "/reg:32")
        sandbox.wine_tool(wine.run, "reg", "import", ROOT + "\\test.reg", "/reg:64")

    def write_feed_files(self, rsslinks):
        with open(os.path.join(rsslinks, "LastUpdates_%s.ini" % sandbox.user_name()), "wb") as f:
            f.write(STATE.encode("utf-8"))
        for name, (before, _) in STORES.items():
            with open(os.path.join(rsslinks, name), "wb") as f:
                f.write(before)

    def save_html_key(self):
        self.html_backup = os.path.join(self.wine.unix("C:\\"), "rssnotify-viewer-html.reg")
        if os.path.exists(self.html_backup):
            return  # left by an interrupted run: that one is the original
        result = self.wine.run("reg", "export", "HKCR\\.html", "C:\\rssnotify-viewer-html.reg",
                               "/y", check=False)
        if result.returncode != 0 and os.path.exists(self.html_backup):
            os.remove(self.html_backup)

    def restore_html_key(self):
        self.wine.run("reg", "delete", "HKCR\\.html", "/f", check=False)
        self.wine.run("reg", "delete", "HKCR\\" + PAGE_CLASS, "/f", check=False)
        if os.path.exists(self.html_backup):
            sandbox.wine_tool(self.wine.run, "reg", "import", "C:\\rssnotify-viewer-html.reg")
            os.remove(self.html_backup)

    def remove_all(self):
        shutil.rmtree(self.wine.unix(ROOT), ignore_errors=True)
        shutil.rmtree(self.wine.unix(PROGRAM_DATA + "\\KESTRA"), ignore_errors=True)
        shutil.rmtree(os.path.dirname(self.wine.unix(self.page)), ignore_errors=True)
        self.wine.run("reg", "delete", "HKLM\\SOFTWARE\\KESTRA", "/reg:32", "/f", check=False)

    def wait_for_record(self):
        deadline = time.monotonic() + RECORD_WAIT_SECONDS
        while not os.path.exists(self.record):
            if time.monotonic() > deadline:
                self.fail("the shell did not start the stand-in browser within %d s"
                          % RECORD_WAIT_SECONDS)
            time.sleep(0.2)
        with open(self.record, encoding="utf-8") as f:
            return f.read()

    def test_page_opened_by_the_shell_and_items_marked_read(self):
        result = self.wine.run(self.wine.unix(self.viewer), check=False)
        self.assertEqual((result.returncode, result.stdout, result.stderr), (0, b"", b""))
        # The page's path, whole, as the one argument of the browser.
        self.assertEqual(self.wait_for_record(), "[%s]\n" % self.page)
        page = read_bytes(self.wine.unix(self.page))
        parsed = parse_page(page.decode("utf-8"))
        self.assertEqual(parsed["feeds"], EXPECTED_FEEDS)
        self.assertEqual(parsed["summary"], "2 unread items")
        self.assertEqual(sorted(os.listdir(os.path.dirname(self.wine.unix(self.page)))),
                         ["feeds.html"])
        for name, (_, after) in STORES.items():
            self.assertEqual(read_bytes(os.path.join(self.rsslinks, name)), after, name)

        if not ARGS.linux_viewer or not os.path.isfile(ARGS.linux_viewer):
            self.skipTest("no Linux build of qVMRSS.exe given (--linux-viewer %r): page not "
                          "compared" % ARGS.linux_viewer)
        linux = sandbox.Sandbox()
        self.addCleanup(linux.cleanup)
        os.makedirs(linux.rsslinks)
        self.write_feed_files(linux.rsslinks)
        result = subprocess.run([ARGS.linux_viewer], env=linux.env(), stdin=subprocess.DEVNULL,
                                capture_output=True, timeout=120)
        linux_page = os.path.join(linux.root, "cache", "rssnotify", "feeds.html")
        self.assertEqual((result.returncode, result.stdout, result.stderr),
                         (0, (linux_page + "\n").encode(), b""))
        self.assertEqual(read_bytes(linux_page), page)
        for name in STORES:
            self.assertEqual(read_bytes(os.path.join(linux.rsslinks, name)),
                             read_bytes(os.path.join(self.rsslinks, name)), name)

    def test_without_a_browser_the_page_is_named(self):
        """No program for .html files: the viewer says why and prints the
        page's path, as the Linux viewer does without a desktop."""
        self.wine.run("reg", "delete", "HKCR\\" + PAGE_CLASS, "/f")
        result = self.wine.run(self.wine.unix(self.viewer), check=False)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout.decode("utf-8"), self.page + "\r\n")
        self.assertEqual(result.stderr.decode("utf-8"),
                         "qVMRSS: cannot open %s: no application is associated with the "
                         "file's type\r\n" % self.page)
        self.assertFalse(os.path.exists(self.record))


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--wine", required=True, help="scripts/wine.sh")
    parser.add_argument("--prefix", required=True, help="the Wine prefix")
    parser.add_argument("--viewer", required=True)
    parser.add_argument("--recorder", required=True)
    parser.add_argument("--linux-viewer", default="")
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest)


if __name__ == "__main__":
    main()
