"""The feed viewer qVMRSS.exe, run after real feed updates in a sandbox.

On Linux the page goes under XDG_CACHE_HOME and, without a desktop, its path
to standard output; on a desktop xdg-open (a stand-in here) opens it. On
Windows the page goes under %LOCALAPPDATA% and the shell opens it with the
program registered for .html files: the stand-in browser
tests/windows/open_recorder.exe, which records its arguments.
"""

import os
import re
import shutil
import subprocess
import time
import unittest

from sandbox import FeedSandbox, Sandbox, WINDOWS, write_script
from viewer_page import parse_page

import sandbox

VIEWER = sandbox.VIEWER
EOL = sandbox.EOL

TEMPLATE = """<vsrgetdoveltemplate>
  <templateid>T1</templateid>
  <templatever>3</templatever>
  <rss>1</rss>
  <rsssites>{sites}</rsssites>
  <rssupd>60</rssupd>
  <qvmrssmsg>You have total new RSS feeds from your service provider for your reference. Click for view all messages.</qvmrssmsg>
</vsrgetdoveltemplate>
"""

ALPHA_HEADER = """<maintitle>Alpha &amp; Co</maintitle>
<mainlink>https://alpha.example/</mainlink>
<maindescription>&lt;p&gt;Alpha &lt;i&gt;news&lt;/i&gt;&lt;/p&gt;</maindescription>
"""
ALPHA_A3 = """<item><title>A3 latest</title><description>Third</description>
<link>https://alpha.example/3</link><pubdate>Wed, 03 Jan 2024 09:00:00 GMT</pubdate>
<author>Cy</author><guid>a3</guid></item>
"""
ALPHA_ITEMS = """<item><title>A2 &lt;script&gt;alert(1)&lt;/script&gt;</title>
<description>&lt;b&gt;Bold&lt;/b&gt; &amp;amp; &lt;script&gt;alert(2)&lt;/script&gt;more</description>
<link>https://alpha.example/2?a=1&amp;b=2</link><pubdate>Tue, 02 Jan 2024 10:00:00 GMT</pubdate>
<author>Ann &lt;ann@alpha.example&gt;</author><guid>a2</guid></item>
<item><title>Fish &amp; Chips "quoted" 'single'</title><description>Plain &amp; simple: 1 &lt; 2</description>
<link>javascript:alert('x')</link><pubdate>Mon, 01 Jan 2024 08:00:00 GMT</pubdate>
<author>Bob</author><guid>a1</guid></item>
"""
BETA = """<?xml version="1.0" encoding="UTF-8"?>
<rootrss><maintitle>Beta</maintitle><mainlink>mailto:beta@beta.example</mainlink>
<maindescription>Beta's feed</maindescription>
<item><title>B1</title><description></description><link>https://beta.example/1</link>
<pubdate>Sun, 31 Dec 2023 12:00:00 GMT</pubdate><author></author><guid>b1</guid></item>
</rootrss>
"""


def alpha(newest=""):
    return ('<?xml version="1.0" encoding="UTF-8"?>\n<rootrss>\n' + ALPHA_HEADER + newest +
            ALPHA_ITEMS + "</rootrss>\n")


def item(title, href, date, author, description, unread):
    return {"new": "New" if unread else None, "unread": unread, "title": title, "href": href,
            "date": date, "author": author, "description": description}


A3 = ("A3 latest", "https://alpha.example/3", "Wed, 03 Jan 2024 09:00:00 GMT", "by Cy", "Third")
A2 = ("A2 <script>alert(1)</script>", "https://alpha.example/2?a=1&b=2",
      "Tue, 02 Jan 2024 10:00:00 GMT", "by Ann <ann@alpha.example>", "Bold & more")
A1 = ("Fish & Chips \"quoted\" 'single'", None, "Mon, 01 Jan 2024 08:00:00 GMT", "by Bob",
      "Plain & simple: 1 < 2")
B1 = ("B1", "https://beta.example/1", "Sun, 31 Dec 2023 12:00:00 GMT", None, None)


def feed(heading, href, count, description, items):
    return {"heading": heading, "href": href, "count": count, "description": description,
            "link": None, "message": None, "empty": None, "problem": False, "items": items}


def alpha_feed(items, count):
    return feed("Alpha & Co", "https://alpha.example/", count, "Alpha news", items)


def beta_feed(unread):
    return feed("Beta", "mailto:beta@beta.example", "1 new" if unread else None,
                "Beta's feed", [item(*B1, unread)])


class ViewerTest(unittest.TestCase):
    maxDiff = None

    def setUp(self):
        self.box = FeedSandbox(converter_delay=None)
        self.addCleanup(self.box.cleanup)
        self.feeds = self.box.feeds_dir
        # The converter stand-in: the document prepared for the URL's host.
        self.box.install_converter(steps=[sandbox.convert_host(self.feeds)])
        self.page, self.page_path = sandbox.viewer_page(self.box, self.addCleanup)
        if WINDOWS:
            self.browser = sandbox.StandInBrowser(self.box, self.addCleanup)
            self.record = self.browser.record

    def wait_for_record(self):
        return self.browser.wait()

    def serve(self, host, document):
        with open(os.path.join(self.feeds, host + ".xml"), "w", encoding="utf-8") as f:
            f.write(document)

    def update(self, sites):
        self.box.write_template(TEMPLATE.format(sites="@#@".join(sites)))
        result = self.box.run()
        self.assertEqual(result.returncode, 0, result.stderr)

    def store_path(self, n):
        return os.path.join(self.box.rsslinks, "Link_%d_T1_3.xml" % n)

    def store(self, n):
        with open(self.store_path(n), "rb") as f:
            return f.read()

    def view(self, extra_env=None, remove_env=(), box=None):
        box = box or self.box
        env = box.env()
        env.update(extra_env or {})
        for name in remove_env:
            env.pop(name, None)
        return subprocess.run(box.command(VIEWER), env=env, stdin=subprocess.DEVNULL,
                              capture_output=True, timeout=120 if WINDOWS else 60)

    def view_page(self):
        """Runs the viewer (on Linux without a desktop: it names the page; on
        Windows the shell opens the page with the stand-in browser); returns
        the parsed page."""
        if WINDOWS and os.path.exists(self.record):
            os.remove(self.record)
        result = self.view()
        if WINDOWS:
            self.assertEqual((result.returncode, result.stdout, result.stderr), (0, b"", b""))
            self.assertEqual(self.wait_for_record(), "[%s]\n" % self.page)
        else:
            self.assertEqual((result.returncode, result.stderr), (0, b""))
            self.assertEqual(result.stdout.decode(), self.page_path + "\n")
        with open(self.page_path, encoding="utf-8") as f:
            text = f.read()
        self.check_inert(text)
        return parse_page(text)

    def check_inert(self, text):
        """Nothing in the page runs or loads anything."""
        self.assertNotRegex(text.lower(), r"<script|<img|<link|<iframe|<object|url\(")
        page = parse_page(text)
        for tag, attrs in page["tags"]:
            for name, value in attrs:
                self.assertFalse(name.startswith("on") or name == "src", (tag, name))
                if name == "href":
                    self.assertRegex(value, r"^(https?://|mailto:)", tag)
        self.assertIn('<meta charset="utf-8">', text)

    def test_page_shows_the_stores_in_store_order_and_marks_them_read(self):
        self.serve("alpha.example", alpha())
        self.serve("beta.example", BETA)
        self.update(["https://alpha.example/rss", "https://beta.example/rss"])
        written = [self.store(1), self.store(2)]
        self.assertEqual(written[0].count(b"<Status>Unread</Status>"), 2)

        page = self.view_page()
        self.assertEqual(page["summary"], "3 unread items")
        self.assertEqual(page["feeds"], [
            alpha_feed([item(*A2, True), item(*A1, True)], "2 new"),
            beta_feed(True)])
        for n, before in ((1, written[0]), (2, written[1])):
            self.assertEqual(self.store(n), before.replace(b"<Status>Unread</Status>",
                                                           b"<Status>Read</Status>"))

        # A later update puts its new item above the header of the loaded
        # store; the page follows the store's order.
        self.serve("alpha.example", alpha(ALPHA_A3))
        self.update(["https://alpha.example/rss", "https://beta.example/rss"])
        written = [self.store(1), self.store(2)]
        self.assertLess(written[0].index(b"A3 latest"), written[0].index(b"<maintitle>"))
        page = self.view_page()
        self.assertEqual(page["summary"], "1 unread item")
        self.assertEqual(page["feeds"], [
            alpha_feed([item(*A3, True), item(*A2, False), item(*A1, False)], "1 new"),
            beta_feed(False)])
        self.assertEqual(self.store(1), written[0].replace(b"<Status>Unread</Status>",
                                                           b"<Status>Read</Status>"))

        # Nothing unread: the stores are not written again.
        stamps = [os.stat(self.store_path(n)) for n in (1, 2)]
        page = self.view_page()
        self.assertEqual(page["summary"], "No unread items")
        self.assertEqual([os.stat(self.store_path(n)) for n in (1, 2)], stamps)

    def test_items_a_feed_still_carries_past_the_kept_read_items_are_not_new_again(self):
        # A feed of 1,004 items, newest first. Its store has them all, read;
        # the viewing that marks the newest keeps 1,000 read items and drops
        # the 4 oldest, which the feed still carries. The next run finds
        # nothing new: the remembered newest item stops the comparison first.
        def document(count):
            return ('<?xml version="1.0" encoding="UTF-8"?>\n<rootrss><maintitle>Long</maintitle>'
                    '<mainlink>https://long.example/</mainlink><maindescription/>' +
                    "".join("<item><title>L%d</title><description/><link>https://long.example/%d"
                            "</link><pubdate>P%d</pubdate><author/><guid>g%d</guid></item>"
                            % (i, i, i, i) for i in range(count - 1, -1, -1)) + "</rootrss>\n")

        def stored():
            with open(self.store_path(1), encoding="utf-8") as f:
                text = f.read()
            return re.findall(r"<GUID>g(\d+)</GUID>\s*<Status>(\w+)</Status>", text)

        sites = ["https://long.example/rss"]
        self.serve("long.example", document(1003))
        self.update(sites)
        with open(self.store_path(1), "rb") as f:
            store = f.read()
        with open(self.store_path(1), "wb") as f:
            f.write(store.replace(b"<Status>Unread</Status>", b"<Status>Read</Status>"))
        self.serve("long.example", document(1004))
        self.update(sites)
        self.assertEqual(self.box.log_lines()[-3:-1], [
            self.box.write_line("TotalNewRSS", "NewRSSCount", "1"),
            "MSG : Total New RSS after updates :: 1"])
        self.assertEqual(self.view_page()["summary"], "1 unread item")
        kept = [(str(i), "Read") for i in range(1003, 3, -1)]
        self.assertEqual(stored(), kept)
        self.update(sites)
        self.assertEqual(self.box.log_lines()[-3:-1], [
            self.box.write_line("TotalNewRSS", "NewRSSCount", "0"),
            "MSG : Total New RSS after updates :: 0"])
        self.assertEqual(stored(), kept)

    def test_missing_and_broken_stores_are_listed_with_a_message(self):
        self.serve("alpha.example", alpha())
        self.serve("beta.example", BETA)
        self.serve("gamma.example", BETA)
        sites = ["https://alpha.example/rss", "https://beta.example/rss",
                 "https://gamma.example/rss"]
        self.update(sites)
        written = self.store(1)
        os.remove(self.store_path(2))
        with open(self.store_path(3), "wb") as f:
            f.write(b"this is <not XML")

        page = self.view_page()
        self.assertEqual(page["summary"], "2 unread items")
        self.assertEqual(len(page["feeds"]), 3)
        self.assertEqual(page["feeds"][0],
                         alpha_feed([item(*A2, True), item(*A1, True)], "2 new"))
        missing = dict(feed("Feed 2", None, None, sites[1], []), problem=True, link=sites[1])
        missing["message"] = ("Nothing has been stored for this feed yet: its store file " +
                              self.box.program_path(self.store_path(2)) + " does not exist.")
        self.assertEqual(page["feeds"][1], missing)
        broken = page["feeds"][2]
        prefix = ("The store file " + self.box.program_path(self.store_path(3)) +
                  " of this feed could not be read: ")
        self.assertTrue(broken["message"].startswith(prefix), broken["message"])
        self.assertNotEqual(broken["message"], prefix)
        self.assertEqual(dict(broken, message=None),
                         dict(feed("Feed 3", None, None, sites[2], []), problem=True,
                              link=sites[2]))

        self.assertEqual(self.store(1), written.replace(b"<Status>Unread</Status>",
                                                        b"<Status>Read</Status>"))
        self.assertFalse(os.path.exists(self.store_path(2)))
        self.assertEqual(self.store(3), b"this is <not XML")

    def test_nothing_to_show_before_any_feed_update(self):
        if WINDOWS:
            page = self.view_page()
        else:
            # Without XDG_CACHE_HOME the page goes under HOME.
            result = self.view(remove_env=["XDG_CACHE_HOME"])
            page_path = os.path.join(self.box.root, ".cache", "rssnotify", "feeds.html")
            self.assertEqual((result.returncode, result.stdout.decode(), result.stderr),
                             (0, page_path + "\n", b""))
            with open(page_path, encoding="utf-8") as f:
                page = parse_page(f.read())
        self.assertEqual(page["summary"], "Nothing to show yet")
        self.assertEqual(page["empty"], "There is nothing to show yet: no feed update has "
                                        "recorded any feeds for this user.")
        self.assertEqual(page["feeds"], [])

    def test_without_installation_it_fails_with_a_message(self):
        self.box.cleanup()
        box = Sandbox(install_path=Sandbox.MISSING)
        self.addCleanup(box.cleanup)
        result = self.view(box=box)
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stdout, b"")
        self.assertEqual(result.stderr.decode(),
                         "qVMRSS: the product's data folder cannot be found (is the "
                         "installation path registered?)" + EOL)
        self.assertFalse(os.path.exists(os.path.dirname(self.page_path) if WINDOWS else
                                        os.path.join(box.root, "cache")))

    @sandbox.linux_only("xdg-open and DISPLAY; on Windows every case has the shell open the "
                        "page with the stand-in browser")
    def test_on_a_desktop_the_browser_opens_the_page(self):
        self.serve("beta.example", BETA)
        self.update(["https://beta.example/rss"])
        written = self.store(1)
        opened = os.path.join(self.box.root, "opened.txt")
        bin_dir = os.path.join(self.box.root, "bin")
        write_script(os.path.join(bin_dir, "xdg-open"),
                     'printf "%%s|" "$@" > "%s.part" && mv "%s.part" "%s"\n'
                     % (opened, opened, opened))
        result = self.view(extra_env={"DISPLAY": ":99",
                                      "PATH": bin_dir + ":" + os.environ.get("PATH", "")})
        self.assertEqual((result.returncode, result.stdout, result.stderr), (0, b"", b""))
        deadline = time.monotonic() + 20
        while not os.path.exists(opened) and time.monotonic() < deadline:
            time.sleep(0.05)
        with open(opened, encoding="utf-8") as f:
            self.assertEqual(f.read(), self.page_path + "|")
        self.assertEqual(self.store(1), written.replace(b"<Status>Unread</Status>",
                                                        b"<Status>Read</Status>"))

    def test_a_click_on_the_popup_shows_the_installed_viewer(self):
        # As installed: the feed update starts it hidden, without arguments,
        # and does not wait for it.
        shutil.copy(VIEWER, os.path.join(self.box.install, "qLUX", "qVMRSS.exe"))
        self.box.register_popup("BSTR:CLICK")
        self.serve("beta.example", BETA)
        self.update(["https://beta.example/rss"])
        deadline = time.monotonic() + 30
        while b"<Status>Unread</Status>" in self.store(1) and time.monotonic() < deadline:
            time.sleep(0.05)
        viewer = self.box.install_path + "qLUX\\qVMRSS.exe"
        self.assertEqual(self.box.log_lines()[-4:], [
            "MSG : User clicked on the popup", "MSG : fncExecuteShell :: " + viewer,
            "ERR : Successfully Executed, " + viewer, "MSG : Application Ended"])
        self.assertEqual(self.store(1).count(b"<Status>Read</Status>"), 1)
        self.assertEqual(self.store(1).count(b"<Status>Unread</Status>"), 0)
        with open(self.page_path, encoding="utf-8") as f:
            page = parse_page(f.read())
        self.assertEqual(page["summary"], "1 unread item")
        self.assertEqual(page["feeds"], [beta_feed(True)])


if __name__ == "__main__":
    unittest.main()
