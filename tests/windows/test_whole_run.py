"""A whole run of rssnotify.exe under Wine, with a scripted converter.

The Wine prefix's registry holds the product key (imported with
`reg import FILE /reg:32`, as an installer writes it for a 32-bit program);
the installation folder holds a template and the scripted converter
(tests/windows/scripted_converter.cpp) as qLUX\\FeedPull.exe. The run must
make the folders, write the log, the store and the update-state file as the
Linux program does: the log's lines are compared whole (time stamps checked,
then cut off) with the lines the Linux sandbox tests expect, built by the
same helpers (tests/sandbox.py) for the Windows paths; the store and the
update-state file byte for byte. When the Linux build's rssnotify is given
(--linux-rssnotify), it runs in a Linux sandbox with the same template and
feed, and its store and update-state file must have the same bytes.

    python3 test_whole_run.py --wine scripts/wine.sh --prefix PREFIX \\
        --rssnotify build-windows/rssnotify.exe \\
        --converter build-windows/scripted_converter.exe [--linux-rssnotify build/rssnotify]

The prefix is shared with the other tests: the test owns the product key
HKLM\\SOFTWARE\\KESTRA (32-bit view), C:\\rssnotify-whole-run and
C:\\ProgramData\\KESTRA in it, and removes them before and after.
"""

import argparse
import datetime
import os
import shutil
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import sandbox  # noqa: E402
from sandbox import FeedSandbox  # noqa: E402

ARGS = None

NO_POPUP = "ERR : CallPopup, 429:ActiveX component can't create object"
ENDED = "MSG : Application Ended"

ROOT = "C:\\rssnotify-whole-run"
INSTALL = ROOT + "\\KESTRA Agent"  # a blank in the path, as installations often have
FEED_URL = ROOT + "\\feeds\\one.xml"
PROGRAM_DATA = "C:\\ProgramData"   # Wine's ALLUSERSPROFILE, as on Windows since Vista

ITEMS = [
    {"title": "Title 1", "description": "Text 1 é €", "link": "http://feed.example/1",
     "pubdate": "Mon, 01 Dec 2026 10:00:00 GMT", "author": "Author 1", "guid": "guid-1"},
    {"title": "Title 2", "description": "Text <2> & more", "link": "http://feed.example/2",
     "pubdate": "Tue, 02 Dec 2026 10:00:00 GMT", "author": "Author 2", "guid": "guid-2"},
]


class Wine:
    def __init__(self, script, prefix):
        self.script = os.path.abspath(script)
        self.prefix = os.path.abspath(prefix)
        env = dict(os.environ)
        env["WINEPREFIX"] = self.prefix
        self.env = env

    def run(self, *args, timeout=120, check=True):
        result = subprocess.run(["bash", self.script, "--prefix", self.prefix, "run"] + list(args),
                                stdin=subprocess.DEVNULL, capture_output=True, timeout=timeout,
                                env=self.env)
        if check and result.returncode != 0:
            raise AssertionError("%s failed (%d): %s %s" % (
                args, result.returncode, result.stdout, result.stderr))
        return result

    def unix(self, windows_path):
        """The Unix path of a path on drive C: of the prefix."""
        assert windows_path[:3].upper() == "C:\\", windows_path
        return os.path.join(self.prefix, "drive_c", *windows_path[3:].split("\\"))


class WineSandbox(FeedSandbox):
    """A FeedSandbox whose installation is in the Wine prefix: the expected-line
    helpers of the Linux tests work on its Windows paths."""

    def __init__(self, wine):
        # Not FeedSandbox's own set-up: nothing of it is made on Linux.
        self.wine = wine
        self.install_value = INSTALL
        self.all_users_profile = PROGRAM_DATA
        self.identity = dict(sandbox.DEFAULT_IDENTITY)
        self.template_id = "T"
        self.template_ver = "1"
        self.extra_registry = ""

    # Unix paths of the prefix's files.
    @property
    def install(self):
        return self.wine.unix(INSTALL)

    @property
    def data(self):
        return self.wine.unix(PROGRAM_DATA + "\\KESTRA")

    @property
    def rsslinks(self):
        return os.path.join(self.data, "qLUX", "Dovel", "RSSLinks")

    def remove_all(self):
        shutil.rmtree(self.wine.unix(ROOT), ignore_errors=True)
        shutil.rmtree(self.data, ignore_errors=True)
        self.wine.run("reg", "delete", "HKLM\\SOFTWARE\\KESTRA", "/reg:32", "/f", check=False)

    def set_up(self, converter):
        self.remove_all()
        os.makedirs(os.path.join(self.install, "qLUX", "Dovel"))
        # The installer makes the data folder; the program never does.
        os.makedirs(self.data)
        shutil.copyfile(converter, os.path.join(self.install, "qLUX", "FeedPull.exe"))
        reg = os.path.join(self.wine.unix(ROOT), "product.reg")
        lines = ["Windows Registry Editor Version 5.00", "",
                 r"[HKEY_LOCAL_MACHINE\SOFTWARE\KESTRA]",
                 '"InstallationPath"=' + sandbox.reg_string(INSTALL)]
        lines += ['"%s"=%s' % (k, sandbox.reg_string(v)) for k, v in self.identity.items()]
        with open(reg, "w", encoding="utf-8", newline="") as f:
            f.write("\r\n".join(lines) + "\r\n")
        sandbox.wine_tool(self.wine.run, "reg", "import", ROOT + "\\product.reg", "/reg:32")

    def write_feed(self, items):
        path = self.wine.unix(FEED_URL)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w", encoding="utf-8", newline="") as f:
            f.write(feed_document(items))

    def run(self, timeout=120, extra_env=None, program=None):
        self.started = datetime.datetime.now()
        result = self.wine.run(ARGS.rssnotify, timeout=timeout, check=False)
        self.finished = datetime.datetime.now()
        return result


def feed_document(items):
    from xml.sax.saxutils import escape
    parts = ["<?xml version=\"1.0\" encoding=\"UTF-8\"?>", "<rootrss>",
             "<maintitle>Feed title</maintitle>", "<mainlink>http://feed.example/</mainlink>",
             "<maindescription>Feed description</maindescription>"]
    for item in items:
        parts.append("<item>" + "".join(
            "<%s>%s</%s>" % (k, escape(v), k) for k, v in item.items()) + "</item>")
    parts.append("</rootrss>")
    return "\n".join(parts)


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


class WholeRunTest(unittest.TestCase):
    maxDiff = None

    def setUp(self):
        self.wine = Wine(ARGS.wine, ARGS.prefix)
        self.box = WineSandbox(self.wine)
        self.box.set_up(ARGS.converter)
        if not os.environ.get("RSSNOTIFY_KEEP"):
            self.addCleanup(self.box.remove_all)

    def expected_state(self, total, latest):
        text = ("[RSSLinks]\r\nTemplateID=T\r\nTemplateVersion=1\r\nUrls=%s\r\n"
                "[TotalNewRSS]\r\nNewRSSCount=%d\r\n"
                "[Link_1_T_1]\r\nLatestGUID=%s\r\nLatestPubDate=%s\r\nNewRSSCount=%d\r\n"
                % (FEED_URL, total, latest["link"], latest["pubdate"], total))
        return text.encode("utf-8")

    def test_first_and_second_run_of_a_feed(self):
        box = self.box
        a, b = ITEMS
        box.write_feed([a, b])
        box.write_feed_template(FEED_URL)

        result = box.run()
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(box.log_files(), [box.expected_log_name()])
        self.assertEqual(
            box.log_lines(),
            box.startup_lines() + box.template_lines(FEED_URL) +
            box.driver_start_lines(FEED_URL) + box.converter_lines(1, FEED_URL) +
            box.parsed_lines() + box.store_lines(1, created=True) +
            box.saved_lines(1, 2, a["link"], a["pubdate"]) + box.driver_end_lines(2) +
            [NO_POPUP])
        # Folders made: the data folder's own and the feed folder.
        for folder in (("LUXPostLogs",), ("ApplicationLog", "qLUXLog"), ("qLUX", "Dovel", "RSSLinks")):
            self.assertTrue(os.path.isdir(os.path.join(box.data, *folder)), folder)
        self.assertEqual(sorted(os.listdir(box.rsslinks)),
                         sorted(["Temp_RSS.xml", box.store_name(1),
                                 os.path.basename(box.state_file)]))
        self.assertEqual(read_bytes(box.state_file), self.expected_state(2, a))
        first_store = read_bytes(box.store(1))
        self.assertEqual(first_store, EXPECTED_STORE)

        # Nothing new: the store stays as it was, the counters drop to 0.
        os.remove(os.path.join(box.data, "ApplicationLog", "qLUXLog", box.expected_log_name()))
        box.run()
        lines = box.log_lines()
        self.assertEqual(
            lines[lines.index("MSG : In fncPopulateRSSLinks"):],
            box.driver_start_lines(FEED_URL, "2") + box.converter_lines(1, FEED_URL) +
            box.parsed_lines() + box.store_lines(1, created=False, last=(a["link"], a["pubdate"], "2")) +
            box.saved_lines(1, 0) + box.driver_end_lines(0) + [ENDED])
        self.assertEqual(read_bytes(box.store(1)), first_store)
        self.assertEqual(read_bytes(box.state_file), self.expected_state(0, a))

    def test_same_files_as_the_linux_program(self):
        """The Linux program's store and update-state file for the same
        template and feed have the same bytes as the Windows program's."""
        if not ARGS.linux_rssnotify or not os.path.isfile(ARGS.linux_rssnotify):
            self.skipTest("no Linux build of rssnotify given (--linux-rssnotify %r)"
                          % ARGS.linux_rssnotify)
        items = ITEMS
        self.box.write_feed(items)
        self.box.write_feed_template(FEED_URL)
        self.assertEqual(self.box.run().returncode, 0)
        windows_store = read_bytes(self.box.store(1))

        linux = FeedSandbox(converter_delay=None)
        self.addCleanup(linux.cleanup)
        canned = linux.feed("one.xml", [], raw=feed_document(items))
        # The feed "URL" is the Windows one, so that the update-state files
        # agree; the Linux converter copies the canned feed whatever it is.
        out = os.path.join(linux.rsslinks, "Temp_RSS.xml")
        linux.install_converter(body='sleep 0.2\ncp "%s" "%s.part" && %s >> "%s.part" && '
                                'mv "%s.part" "%s"\n'
                                % (canned, out, sandbox.CALL_MARK_SHELL, out, out, out))
        linux.write_feed_template(FEED_URL)
        self.assertEqual(linux.run(program=os.path.abspath(ARGS.linux_rssnotify)).returncode, 0)
        self.assertEqual(read_bytes(linux.store(1)), windows_store)
        self.assertEqual(read_bytes(linux.state_file), read_bytes(self.box.state_file))


# The store document of the first run, as the Linux program writes it (the
# feed's items in its order, each marked unread; tabs, LF line ends).
EXPECTED_STORE = (
    b'<?xml version="1.0" encoding="UTF-8"?>\n<rootrss>\n'
    b'\t<maintitle>Feed title</maintitle>\n\t<mainlink>http://feed.example/</mainlink>\n'
    b'\t<maindescription>Feed description</maindescription>\n'
    b'\t<item>\n\t\t<title>Title 1</title>\n'
    b'\t\t<description>Text 1 \xc3\xa9 \xe2\x82\xac</description>\n'
    b'\t\t<link>http://feed.example/1</link>\n'
    b'\t\t<pubDate>Mon, 01 Dec 2026 10:00:00 GMT</pubDate>\n'
    b'\t\t<author>Author 1</author>\n\t\t<GUID>guid-1</GUID>\n'
    b'\t\t<Status>Unread</Status>\n\t</item>\n'
    b'\t<item>\n\t\t<title>Title 2</title>\n'
    b'\t\t<description>Text &lt;2&gt; &amp; more</description>\n'
    b'\t\t<link>http://feed.example/2</link>\n'
    b'\t\t<pubDate>Tue, 02 Dec 2026 10:00:00 GMT</pubDate>\n'
    b'\t\t<author>Author 2</author>\n\t\t<GUID>guid-2</GUID>\n'
    b'\t\t<Status>Unread</Status>\n\t</item>\n</rootrss>\n')


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--wine", required=True, help="scripts/wine.sh")
    parser.add_argument("--prefix", required=True, help="the Wine prefix")
    parser.add_argument("--rssnotify", required=True)
    parser.add_argument("--converter", required=True)
    parser.add_argument("--linux-rssnotify", default="")
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest)


if __name__ == "__main__":
    main()
