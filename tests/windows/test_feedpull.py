"""FeedPull.exe, the converter, under Wine: file URLs of Windows paths.

The converter's scenarios (HTTP, redirects, the validator cache, the limits,
the reasons of failures) run against this program in tests/test_feedpull.py
with the sandbox's Windows back-end; this test keeps what only Windows has:
the forms of a drive path in a file URL, a URL in UTF-16, the exact words
for a missing file, another host and a plain path, and the same bytes as
the Linux program.

The Wine prefix's registry holds the product key (imported as
test_whole_run.py imports it); the converter is copied into the
installation folder, whose name has a blank, and started there as rssnotify
starts it: the program's path and the URL as one argument. Its output
C:\\ProgramData\\KESTRA\\qLUX\\Dovel\\RSSLinks\\Temp_RSS.xml is compared
byte for byte with the document the Linux program makes of the same feed
(EXPECTED_OUTPUT below; with --linux-feedpull, the Linux build's converter
is run on the same feed too and must give the same bytes).

    python3 test_feedpull.py --wine scripts/wine.sh --prefix PREFIX \\
        --feedpull build-windows/qLUX/FeedPull.exe [--linux-feedpull build/companions/feedpull/FeedPull.exe]

The test owns the product key HKLM\\SOFTWARE\\KESTRA (32-bit view),
C:\\rssnotify-feedpull and C:\\ProgramData\\KESTRA in the prefix, and
removes them before and after.
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, ".."))
import sandbox  # noqa: E402
from test_whole_run import PROGRAM_DATA, Wine  # noqa: E402

ARGS = None

ROOT = "C:\\rssnotify-feedpull"
INSTALL = ROOT + "\\KESTRA Agent"
FEEDS = ROOT + "\\feeds"
# A name with a blank and characters outside any single-byte code page.
FEED_NAME = "one feed \u00e9\u20ac.xml"
FEED_URL_PATH = "/C:/rssnotify-feedpull/feeds/one%20feed%20%C3%A9%E2%82%AC.xml"

# Absolute links only: the converted document then does not depend on where
# the feed lies, and the Linux program, fed the same bytes from a Linux
# path, must write the same document.
FEED = """<?xml version="1.0" encoding="UTF-8"?>
<rss version="2.0"><channel>
<title>Caf\u00e9 &amp; news</title><link>http://news.example/</link>
<description>Items \u20ac</description>
<item><title>Older</title><link>http://news.example/1</link>
<description>&lt;p&gt;First&lt;/p&gt;</description>
<pubDate>Mon, 02 Jun 2003 09:00:00 GMT</pubDate><author>ann@news.example (Ann)</author>
<guid>item-1</guid></item>
<item><title>Newer \u00fc</title><link>http://news.example/2</link>
<description>Second</description>
<pubDate>Tue, 03 Jun 2003 09:00:00 GMT</pubDate><guid isPermaLink="false">item-2</guid></item>
</channel></rss>
"""

# What the Linux program writes for FEED: items newest first, two-space
# indentation, LF line ends.
EXPECTED_OUTPUT = (
    b'<?xml version="1.0" encoding="UTF-8"?>\n<rootrss>\n'
    b'  <maintitle>Caf\xc3\xa9 &amp; news</maintitle>\n'
    b'  <mainlink>http://news.example/</mainlink>\n'
    b'  <maindescription>Items \xe2\x82\xac</maindescription>\n'
    b'  <item>\n    <title>Newer \xc3\xbc</title>\n    <description>Second</description>\n'
    b'    <link>http://news.example/2</link>\n'
    b'    <pubdate>Tue, 03 Jun 2003 09:00:00 GMT</pubdate>\n    <author />\n'
    b'    <guid>item-2</guid>\n  </item>\n'
    b'  <item>\n    <title>Older</title>\n'
    b'    <description>&lt;p&gt;First&lt;/p&gt;</description>\n'
    b'    <link>http://news.example/1</link>\n'
    b'    <pubdate>Mon, 02 Jun 2003 09:00:00 GMT</pubdate>\n'
    b'    <author>ann@news.example (Ann)</author>\n    <guid>item-1</guid>\n  </item>\n'
    b'</rootrss>\n')

PREVIOUS = b"previous feed\r\n"


class FeedPullTest(unittest.TestCase):
    maxDiff = None

    def setUp(self):
        self.wine = Wine(ARGS.wine, ARGS.prefix)
        self.remove_all()
        if not os.environ.get("RSSNOTIFY_KEEP"):
            self.addCleanup(self.remove_all)
        wine = self.wine
        os.makedirs(os.path.join(wine.unix(INSTALL), "qLUX"))
        self.converter = INSTALL + "\\qLUX\\FeedPull.exe"
        shutil.copyfile(ARGS.feedpull, wine.unix(self.converter))
        os.makedirs(wine.unix(FEEDS))
        with open(os.path.join(wine.unix(FEEDS), FEED_NAME), "w", encoding="utf-8",
                  newline="") as f:
            f.write(FEED)
        # The folder the converter writes into; rssnotify makes it.
        self.rsslinks = wine.unix(PROGRAM_DATA + "\\KESTRA\\qLUX\\Dovel\\RSSLinks")
        os.makedirs(self.rsslinks)
        self.output = os.path.join(self.rsslinks, "Temp_RSS.xml")
        reg = os.path.join(wine.unix(ROOT), "product.reg")
        lines = ["Windows Registry Editor Version 5.00", "",
                 r"[HKEY_LOCAL_MACHINE\SOFTWARE\KESTRA]",
                 '"InstallationPath"=' + sandbox.reg_string(INSTALL)]
        with open(reg, "w", encoding="utf-8", newline="") as f:
            f.write("\r\n".join(lines) + "\r\n")
        sandbox.wine_tool(wine.run, "reg", "import", ROOT + "\\product.reg", "/reg:32")

    def remove_all(self):
        shutil.rmtree(self.wine.unix(ROOT), ignore_errors=True)
        shutil.rmtree(self.wine.unix(PROGRAM_DATA + "\\KESTRA"), ignore_errors=True)
        self.wine.run("reg", "delete", "HKLM\\SOFTWARE\\KESTRA", "/reg:32", "/f", check=False)

    def convert(self, url):
        # A UTF-8 locale, so that Wine hands a URL in any script over whole.
        env = dict(self.wine.env, LC_ALL="C.UTF-8")
        return subprocess.run(["bash", self.wine.script, "--prefix", self.wine.prefix, "run",
                               self.wine.unix(self.converter), url],
                              stdin=subprocess.DEVNULL, capture_output=True, timeout=120, env=env)

    def read_output(self):
        with open(self.output, "rb") as f:
            return f.read()

    def assert_converted(self, url):
        result = self.convert(url)
        self.assertEqual((result.returncode, result.stderr.decode("utf-8", "replace")), (0, ""),
                         url)
        self.assertEqual(self.read_output(), EXPECTED_OUTPUT, url)
        # Replaced through a temporary file that is gone.
        self.assertEqual(sorted(os.listdir(self.rsslinks)), ["Temp_RSS.xml"])

    def assert_refused(self, url, status, message):
        """The one line on standard error (a Windows text line, CR LF) and
        the exit status; the output left as it was."""
        with open(self.output, "wb") as f:
            f.write(PREVIOUS)
        result = self.convert(url)
        self.assertEqual((result.returncode, result.stderr.decode("utf-8", "replace")),
                         (status, "FeedPull: " + message + "\r\n"), url)
        self.assertEqual(self.read_output(), PREVIOUS)
        self.assertEqual(sorted(os.listdir(self.rsslinks)), ["Temp_RSS.xml"])

    def test_file_urls_of_a_drive_path(self):
        for url in ["file://" + FEED_URL_PATH,
                    "file://localhost" + FEED_URL_PATH,
                    "FILE:" + FEED_URL_PATH,
                    "file:///C|" + FEED_URL_PATH[3:],
                    # Not percent-encoded: the argument reaches the program
                    # in UTF-16, whatever the system's code page.
                    "file:///C:/rssnotify-feedpull/feeds/one%20feed%20\u00e9\u20ac.xml"]:
            if os.path.exists(self.output):
                os.remove(self.output)
            self.assert_converted(url)

    def test_what_it_refuses_says_why(self):
        missing = "file:///C:/rssnotify-feedpull/feeds/absent.xml"
        self.assert_refused(missing, 3, "cannot fetch %s: Couldn't open file "
                            "C:\\rssnotify-feedpull\\feeds\\absent.xml" % missing)
        # Another host is not this machine; no UNC paths.
        other = "file://server/C:/rssnotify-feedpull/feeds/absent.xml"
        self.assert_refused(other, 3, "cannot fetch %s: URL using bad/illegal format or "
                            "missing URL" % other)
        # A plain path is no URL, as for the Linux program.
        plain = FEEDS + "\\" + FEED_NAME
        self.assert_refused(plain, 3, "cannot fetch %s: URL using bad/illegal format or "
                            "missing URL" % plain)

    def test_same_output_as_the_linux_program(self):
        if not ARGS.linux_feedpull or not os.path.isfile(ARGS.linux_feedpull):
            self.skipTest("no Linux build of FeedPull.exe given (--linux-feedpull %r)"
                          % ARGS.linux_feedpull)
        self.assert_converted("file://" + FEED_URL_PATH)
        with tempfile.TemporaryDirectory() as root:
            install = os.path.join(root, "install")
            rsslinks = os.path.join(install, "qLUX", "Dovel", "RSSLinks")
            os.makedirs(rsslinks)
            registry = os.path.join(root, "registry.reg")
            with open(registry, "w", encoding="utf-8") as f:
                f.write("Windows Registry Editor Version 5.00\n\n"
                        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\KESTRA]\n"
                        '"InstallationPath"=%s\n' % sandbox.reg_string(install))
            feed = os.path.join(root, "feed.xml")
            with open(feed, "w", encoding="utf-8", newline="") as f:
                f.write(FEED)
            env = dict(os.environ, RSSNOTIFY_REGISTRY=registry)
            env.pop("ALLUSERSPROFILE", None)
            result = subprocess.run([ARGS.linux_feedpull, "file://" + feed], env=env,
                                    stdin=subprocess.DEVNULL, capture_output=True, timeout=120)
            self.assertEqual((result.returncode, result.stderr), (0, b""))
            with open(os.path.join(rsslinks, "Temp_RSS.xml"), "rb") as f:
                self.assertEqual(f.read(), self.read_output())


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--wine", required=True, help="scripts/wine.sh")
    parser.add_argument("--prefix", required=True, help="the Wine prefix")
    parser.add_argument("--feedpull", required=True)
    parser.add_argument("--linux-feedpull", default="")
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest)


if __name__ == "__main__":
    main()
