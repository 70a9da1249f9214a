"""FeedPull.exe, the feed converter, run as rssnotify runs it: one URL on the
command line, the installation found through the registry file, the converted
feed written to <data>/qLUX/Dovel/RSSLinks/Temp_RSS.xml.

Feeds come from an HTTP server on 127.0.0.1 that the test starts, and from
file:// URLs.
"""

import gzip
import http.server
import os
import shutil
import socket
import subprocess
import tempfile
import threading
import unittest
import xml.etree.ElementTree as ET

BUILD_DIR = os.environ.get("RSSNOTIFY_BUILD_DIR", "")
CONVERTER = os.path.join(BUILD_DIR, "companions", "feedpull", "FeedPull.exe")
# The converter gives up after 20 seconds; rssnotify waits 30.
RUN_BOUND_SECONDS = 40
DECLARATION = b'<?xml version="1.0" encoding="UTF-8"?>'

RSS_FEED = """<?xml version="1.0" encoding="UTF-8"?>
<rss version="2.0" xmlns:dc="http://purl.org/dc/elements/1.1/">
  <channel>
    <title>Test &amp; News</title>
    <link>http://news.example/</link>
    <description>Caf&eacute; items</description>
    <item>
      <title>Older</title>
      <description><![CDATA[<p>First</p>]]></description>
      <link> /items/1 </link>
      <pubDate>Mon, 02 Jun 2003 09:00:00 GMT</pubDate>
      <dc:creator>Ann</dc:creator>
      <guid isPermaLink="false">item-1</guid>
    </item>
    <item>
      <title>Newer</title>
      <description>&lt;b&gt;Second&lt;/b&gt;</description>
      <pubDate>Tue, 03 Jun 2003 09:00:00 GMT</pubDate>
      <author>bob@news.example (Bob)</author>
      <guid>http://news.example/items/2</guid>
    </item>
  </channel>
</rss>
""".encode("utf-8")


def rss_expected(site_root):
    """The converted RSS_FEED fetched from a URL whose root is `site_root`
    (the site-relative link resolves against it); items newest first."""
    return [
        ("maintitle", "Test & News"),
        ("mainlink", "http://news.example/"),
        ("maindescription", "Caf\u00e9 items"),
        ("item", [("title", "Newer"), ("description", "<b>Second</b>"),
                  ("link", "http://news.example/items/2"),
                  ("pubdate", "Tue, 03 Jun 2003 09:00:00 GMT"),
                  ("author", "bob@news.example (Bob)"),
                  ("guid", "http://news.example/items/2")]),
        ("item", [("title", "Older"), ("description", "<p>First</p>"),
                  ("link", site_root + "items/1"),
                  ("pubdate", "Mon, 02 Jun 2003 09:00:00 GMT"),
                  ("author", "Ann"), ("guid", "item-1")]),
    ]


# Atom with relative links: they resolve against the URL the feed came from.
ATOM_FEED = """<?xml version="1.0" encoding="utf-8"?>
<feed xmlns="http://www.w3.org/2005/Atom">
  <title>Atom test</title>
  <subtitle>Relative links</subtitle>
  <link rel="self" href="atom.xml"/>
  <link rel="alternate" href="./"/>
  <entry>
    <title>Entry</title>
    <link href="entries/1.html"/>
    <id>tag:example,2024:1</id>
    <updated>2024-01-01T00:00:00Z</updated>
    <author><name>Eve</name></author>
    <summary>Sum</summary>
  </entry>
</feed>
""".encode("utf-8")


def atom_expected(folder_url):
    return [
        ("maintitle", "Atom test"),
        ("mainlink", folder_url),
        ("maindescription", "Relative links"),
        ("item", [("title", "Entry"), ("description", "Sum"),
                  ("link", folder_url + "entries/1.html"),
                  ("pubdate", "2024-01-01T00:00:00Z"), ("author", "Eve"),
                  ("guid", "tag:example,2024:1")]),
    ]


HTML_PAGE = b"""<!DOCTYPE HTML PUBLIC "-//W3C//DTD HTML 4.01//EN">
<html><head><title>We're Sorry</title></head><body><p>Not here</p></body></html>
"""


class Handler(http.server.BaseHTTPRequestHandler):
    # Filled in by the test class.
    requests = []

    def log_message(self, *args):
        pass

    def send_body(self, status, body, content_type, extra=()):
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        for name, value in extra:
            self.send_header(name, value)
        self.end_headers()
        try:
            self.wfile.write(body)
        except (BrokenPipeError, ConnectionResetError):
            pass  # the client gave up on purpose (size limit)

    def redirect(self, location):
        self.send_response(302)
        self.send_header("Location", location)
        self.send_header("Content-Length", "0")
        self.end_headers()

    def do_GET(self):
        Handler.requests.append((self.path, dict(self.headers)))
        path = self.path
        if path == "/feed.xml":
            self.send_body(200, RSS_FEED, "application/rss+xml")
        elif path == "/moved":
            self.redirect("/sub/atom.xml")
        elif path == "/sub/atom.xml":
            self.send_body(200, ATOM_FEED, "application/atom+xml")
        elif path == "/gzip.xml":
            if "gzip" not in self.headers.get("Accept-Encoding", ""):
                self.send_body(406, b"gzip expected", "text/plain")
                return
            self.send_body(200, gzip.compress(RSS_FEED), "application/rss+xml",
                           [("Content-Encoding", "gzip")])
        elif path == "/loop":
            self.redirect("/loop")
        elif path == "/to-file":
            self.redirect("file:///etc/hostname")
        elif path == "/page.html":
            self.send_body(200, HTML_PAGE, "text/html")
        elif path == "/huge.xml":
            # A well-formed feed, but over the converter's size limit.
            padded = RSS_FEED.replace(b"<channel>", b"<channel>" + b" " * (11 * 1024 * 1024))
            self.send_body(200, padded, "text/xml")
        elif path == "/empty.xml":
            self.send_body(200, b"", "text/xml")
        else:
            self.send_body(404, b"<html><body>Not found</body></html>", "text/html")


def tree(document_bytes):
    """The converted document as (name, text) pairs, items as nested lists."""
    root = ET.fromstring(document_bytes)
    assert root.tag == "rootrss", root.tag
    result = []
    for child in root:
        if child.tag == "item":
            result.append(("item", [(f.tag, f.text or "") for f in child]))
        else:
            result.append((child.tag, child.text or ""))
    return result


@unittest.skipUnless(os.path.exists(CONVERTER), "FeedPull.exe not built (RSSNOTIFY_BUILD_DIR)")
class FeedPullTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        cls.server.daemon_threads = True
        cls.thread = threading.Thread(target=cls.server.serve_forever, daemon=True)
        cls.thread.start()
        cls.base = "http://127.0.0.1:%d/" % cls.server.server_address[1]
        # A server that takes connections but never answers: the listening
        # socket's backlog completes the connection, nobody reads from it.
        cls.silent = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        cls.silent.bind(("127.0.0.1", 0))
        cls.silent.listen(8)
        cls.silent_url = "http://127.0.0.1:%d/feed.xml" % cls.silent.getsockname()[1]

    @classmethod
    def tearDownClass(cls):
        cls.server.shutdown()
        cls.server.server_close()
        cls.silent.close()

    def setUp(self):
        Handler.requests = []
        self.root = tempfile.mkdtemp(prefix="feedpull-")
        self.addCleanup(shutil.rmtree, self.root, True)
        self.install = os.path.join(self.root, "install")
        self.folder = os.path.join(self.install, "qLUX", "Dovel", "RSSLinks")
        os.makedirs(self.folder)
        self.output = os.path.join(self.folder, "Temp_RSS.xml")
        self.registry = os.path.join(self.root, "registry.reg")
        self.write_registry(self.install)
        self.env = dict(os.environ)
        self.env.pop("ALLUSERSPROFILE", None)
        self.env["RSSNOTIFY_REGISTRY"] = self.registry
        # The test's own server is reached directly, whatever proxy is set.
        self.env["no_proxy"] = self.env["NO_PROXY"] = "127.0.0.1"

    def write_registry(self, install_path):
        with open(self.registry, "w", encoding="utf-8") as out:
            out.write("Windows Registry Editor Version 5.00\r\n\r\n"
                      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\KESTRA]\r\n"
                      '"InstallationPath"="%s"\r\n' % install_path.replace("\\", "\\\\"))

    def run_converter(self, *args):
        return subprocess.run([CONVERTER, *args], env=self.env, capture_output=True,
                              timeout=RUN_BOUND_SECONDS)

    def read_output(self):
        with open(self.output, "rb") as f:
            return f.read()

    def assert_converted(self, result, expected, output=None):
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stderr, b"")
        with open(output or self.output, "rb") as f:
            document = f.read()
        self.assertTrue(document.startswith(DECLARATION + b"\n"), document[:80])
        self.assertEqual(tree(document), expected)
        # The atomic replacement leaves no temporary file behind.
        self.assertEqual(os.listdir(os.path.dirname(output or self.output)), ["Temp_RSS.xml"])

    def assert_failed_untouched(self, result, previous=b"previous feed\r\n"):
        self.assertNotEqual(result.returncode, 0)
        lines = result.stderr.decode("utf-8").splitlines()
        self.assertEqual(len(lines), 1, result.stderr)
        self.assertTrue(lines[0].startswith("FeedPull: "), lines[0])
        self.assertEqual(self.read_output(), previous)
        self.assertEqual(os.listdir(self.folder), ["Temp_RSS.xml"])

    def seed_previous(self):
        with open(self.output, "wb") as f:
            f.write(b"previous feed\r\n")

    # --- conversions ---------------------------------------------------

    def test_http_feed(self):
        self.seed_previous()
        result = self.run_converter(self.base + "feed.xml")
        self.assert_converted(result, rss_expected(self.base))
        path, headers = Handler.requests[-1]
        self.assertEqual(path, "/feed.xml")
        self.assertTrue(headers.get("User-Agent", "").startswith("FeedPull/"), headers)

    def test_redirect_is_followed_and_links_resolve_against_its_target(self):
        result = self.run_converter(self.base + "moved")
        self.assert_converted(result, atom_expected(self.base + "sub/"))
        self.assertEqual([path for path, _ in Handler.requests], ["/moved", "/sub/atom.xml"])

    def test_gzip_encoded_answer(self):
        result = self.run_converter(self.base + "gzip.xml")
        self.assert_converted(result, rss_expected(self.base))

    def test_file_url(self):
        feed = os.path.join(self.root, "feeds", "news.xml")
        os.makedirs(os.path.dirname(feed))
        with open(feed, "wb") as f:
            f.write(RSS_FEED)
        result = self.run_converter("file://" + feed)
        self.assert_converted(result, rss_expected("file:///"))
        with open(feed, "wb") as f:
            f.write(ATOM_FEED)
        result = self.run_converter("file://" + feed)
        self.assert_converted(result, atom_expected("file://" + os.path.dirname(feed) + "/"))

    def test_data_folder_under_all_users_profile(self):
        profile = os.path.join(self.root, "ProgramData")
        folder = os.path.join(profile, "KESTRA", "qLUX", "Dovel", "RSSLinks")
        os.makedirs(folder)
        self.env["ALLUSERSPROFILE"] = profile
        result = self.run_converter(self.base + "feed.xml")
        self.assert_converted(result, rss_expected(self.base),
                              output=os.path.join(folder, "Temp_RSS.xml"))
        self.assertEqual(os.listdir(self.folder), [])

    # --- failures: nothing written --------------------------------------

    def test_http_404_fails(self):
        self.seed_previous()
        self.assert_failed_untouched(self.run_converter(self.base + "missing.xml"))

    def test_not_a_feed_fails(self):
        self.seed_previous()
        self.assert_failed_untouched(self.run_converter(self.base + "page.html"))
        self.assert_failed_untouched(self.run_converter(self.base + "empty.xml"))

    def test_too_many_redirects_fail(self):
        self.seed_previous()
        self.assert_failed_untouched(self.run_converter(self.base + "loop"))
        self.assertLessEqual(len(Handler.requests), 6)

    def test_redirect_to_a_local_file_fails(self):
        self.seed_previous()
        self.assert_failed_untouched(self.run_converter(self.base + "to-file"))

    def test_oversized_document_fails(self):
        self.seed_previous()
        result = self.run_converter(self.base + "huge.xml")
        self.assert_failed_untouched(result)
        self.assertIn(b"larger than", result.stderr)

    def test_unsupported_scheme_fails(self):
        self.seed_previous()
        self.assert_failed_untouched(self.run_converter("ftp://127.0.0.1/feed.xml"))

    def test_missing_file_url_fails(self):
        self.seed_previous()
        self.assert_failed_untouched(
            self.run_converter("file://" + os.path.join(self.root, "absent.xml")))

    def test_server_that_never_answers(self):
        self.seed_previous()
        # Bounded by RUN_BOUND_SECONDS: a hang fails the test with TimeoutExpired.
        self.assert_failed_untouched(self.run_converter(self.silent_url))

    def test_missing_or_empty_url_fails(self):
        self.seed_previous()
        self.assert_failed_untouched(self.run_converter())
        self.assert_failed_untouched(self.run_converter(""))
        self.assertEqual(Handler.requests, [])

    def test_unusable_installation_fails_before_fetching(self):
        self.seed_previous()
        self.write_registry(os.path.join(self.root, "no-such-folder"))
        self.assert_failed_untouched(self.run_converter(self.base + "feed.xml"))
        self.assertEqual(Handler.requests, [])

    def test_missing_output_folder_fails(self):
        shutil.rmtree(self.folder)
        result = self.run_converter(self.base + "feed.xml")
        self.assertNotEqual(result.returncode, 0)
        self.assertEqual(len(result.stderr.decode("utf-8").splitlines()), 1, result.stderr)
        self.assertFalse(os.path.exists(self.folder))


if __name__ == "__main__":
    unittest.main()
