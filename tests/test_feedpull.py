"""FeedPull.exe, the feed converter, run as rssnotify runs it: one URL on the
command line, the installation found through the registry, the converted
feed written to <data>/qLUX/Dovel/RSSLinks/Temp_RSS.xml.

Feeds come from an HTTP server on 127.0.0.1 that the test starts (Wine's
programs reach it there too), and from file:// URLs: file:///C:/... for the
Windows program, whose sandbox lies on drive C: of the Wine prefix.
"""

import email.utils
import gzip
import http.server
import os
import re
import resource
import shutil
import socket
import subprocess
import tempfile
import threading
import time
import unittest
import urllib.parse
import xml.etree.ElementTree as ET
import sandbox

CONVERTER = (os.path.join(sandbox.BUILD_DIR, "qLUX", "FeedPull.exe") if sandbox.WINDOWS else
             os.path.join(sandbox.BUILD_DIR, "companions", "feedpull", "FeedPull.exe"))
# The converter gives up after 20 seconds; rssnotify waits 30. Under Wine the
# start of the program itself takes seconds more on a busy machine.
RUN_BOUND_SECONDS = 80 if sandbox.WINDOWS else 40
# The end of the converter's line on standard error: a Windows program writes
# text lines with CR LF.
EOL = "\r\n" if sandbox.WINDOWS else "\n"
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


# An Atom feed inside an XHTML page, as some sites publish theirs.
WRAPPED_ATOM = b"""<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE html PUBLIC "-//W3C//DTD XHTML 1.0 Strict//EN"
  "http://www.w3.org/TR/xhtml1/DTD/xhtml1-strict.dtd">
<html xmlns="http://www.w3.org/1999/xhtml" xml:lang="en">
<head><title>Kestra&nbsp;news</title></head>
<body>
<h1>Our news</h1>
<feed xmlns="http://www.w3.org/2005/Atom">
  <title>Wrapped news</title>
  <link rel="alternate" href="/news/"/>
  <author><name>Kestra</name></author>
  <entry>
    <title>Maintenance on Saturday</title>
    <link href="/news/maintenance.html"/>
    <id>tag:kestra.example,2026:2</id>
    <updated>2026-12-05T08:00:00Z</updated>
    <summary>Short outage&nbsp;expected.</summary>
  </entry>
  <entry>
    <title>Welcome</title>
    <link href="/news/welcome.html"/>
    <id>tag:kestra.example,2026:1</id>
    <updated>2026-12-01T08:00:00Z</updated>
    <summary>Hello.</summary>
  </entry>
</feed>
</body>
</html>
"""


def wrapped_expected(site_root):
    return [
        ("maintitle", "Wrapped news"),
        ("mainlink", site_root + "news/"),
        ("maindescription", ""),
        ("item", [("title", "Maintenance on Saturday"),
                  ("description", "Short outage\u00a0expected."),
                  ("link", site_root + "news/maintenance.html"),
                  ("pubdate", "2026-12-05T08:00:00Z"), ("author", "Kestra"),
                  ("guid", "tag:kestra.example,2026:2")]),
        ("item", [("title", "Welcome"), ("description", "Hello."),
                  ("link", site_root + "news/welcome.html"),
                  ("pubdate", "2026-12-01T08:00:00Z"), ("author", "Kestra"),
                  ("guid", "tag:kestra.example,2026:1")]),
    ]


# The converter's byte limit for one fetched document.
FETCH_LIMIT = 10 * 1024 * 1024


def sized_feed(size):
    """RSS_FEED padded with blanks to exactly `size` bytes."""
    return RSS_FEED.replace(b"<channel>", b"<channel>" + b" " * (size - len(RSS_FEED)))


# Undeclared 8-bit bytes: windows-1252, the usual cause.
CP1252_FEED = (b"<rss version='2.0'><channel><title>Prices in \x80</title>"
               b"<item><title>\x93Quoted\x94 \x80 5</title></item></channel></rss>")

# A feed that tries to plant lines into rssnotify's update-state file and log.
FORGED_FEED = (b"<rss version='2.0'><channel><title>Forged</title><item>"
               b"<title>Line\r\n[Link_2_T_1]\x1e</title>"
               b"<link>http://forged.example/1</link>"
               b"<pubDate>Mon, 07 Dec 2026 09:00:00 GMT\n[Link_2_T_1]\nLatestGUID=x&#30;</pubDate>"
               b"<author>A&#13;&#10;ERR : forged</author>"
               b"<guid>g&#x1e;1</guid>"
               b"<description>two\nlines&#x1e;</description>"
               b"</item></channel></rss>")

CACHE_NAME = "FeedPull_Cache.dat"
NO_POPUP = "ERR : CallPopup, 429:ActiveX component can't create object"


def parse_cache(data):
    """The cache file's entries as (url, etag, last_modified, document), or
    None when the file is not a whole cache file."""
    magic = b"FeedPull validator cache 1\n"
    if not data.startswith(magic):
        return None
    pos, entries = len(magic), []
    while data.startswith(b"E ", pos):
        end = data.index(b"\n", pos)
        fields = data[pos + 2:end].split(b" ")
        sizes = [int(f) for f in fields[:4]]
        pos = end + 1
        texts = []
        for size in sizes:
            texts.append(data[pos:pos + size])
            pos += size
        if data[pos:pos + 1] != b"\n":
            return None
        pos += 1
        entries.append(tuple(texts))
    if data[pos:] != b"end %d\n" % len(entries):
        return None
    return entries


class Handler(http.server.BaseHTTPRequestHandler):
    # Filled in by the test class.
    requests = []
    arrivals = []  # (path, time.monotonic())
    statuses = []  # of the versioned feeds
    versioned = {}  # path: {"body", "etag", "last_modified", "headers"}

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

    def versioned_feed(self, version):
        """A feed with validators that answers conditional requests as a
        careful server does; `version` says what it holds now."""
        etag = version.get("etag")
        modified = version.get("last_modified")
        validators = []
        if etag:
            validators.append(("ETag", etag))
        if modified:
            validators.append(("Last-Modified", modified))
        extra = validators + list(version.get("headers", ()))
        match = self.headers.get("If-None-Match")
        since = self.headers.get("If-Modified-Since")
        if (match is not None and match == etag) or (match is None and since is not None
                                                     and since == modified):
            self.send_response(304)
            for name, value in extra:
                self.send_header(name, value)
            self.end_headers()
            Handler.statuses.append(304)
            return
        Handler.statuses.append(200)
        self.send_body(200, version["body"], "application/rss+xml", extra)

    def do_GET(self):
        Handler.requests.append((self.path, dict(self.headers)))
        Handler.arrivals.append((self.path, time.monotonic()))
        path = self.path
        if path.startswith("/hang/"):
            time.sleep(25)  # past the converter's bound, never answered
            return
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
        elif path in Handler.versioned:
            self.versioned_feed(Handler.versioned[path])
        elif path == "/too-many":
            self.send_body(429, b"slow down", "text/plain", [("Retry-After", "120")])
        elif path == "/unavailable":
            when = email.utils.formatdate(time.time() + 600, usegmt=True)
            self.send_body(503, b"maintenance", "text/plain", [("Retry-After", when)])
        elif path == "/wrapped.html":
            self.send_body(200, WRAPPED_ATOM, "application/xhtml+xml")
        elif path.startswith("/sized/"):
            self.send_body(200, sized_feed(int(path[len("/sized/"):])), "application/rss+xml")
        elif path == "/unknown-encoding.xml":
            self.send_body(200, b'<?xml version="1.0" encoding="x-no-such-code"?><rss/>',
                           "text/xml")
        elif path == "/cp1252.xml":
            self.send_body(200, CP1252_FEED, "text/xml")
        elif path == "/forged.xml":
            self.send_body(200, FORGED_FEED, "application/rss+xml")
        else:
            self.send_body(404, b"<html><body>Not found</body></html>", "text/html")


def file_url(path, host=""):
    """The file:// URL of a native path as the program sees it, its
    characters percent-encoded as a browser writes them."""
    if sandbox.WINDOWS:
        path = "/" + sandbox.windows_path(path).replace("\\", "/")
    return "file://" + host + urllib.parse.quote(path, safe="/:")


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
        Handler.arrivals = []
        Handler.statuses = []
        Handler.versioned = {}
        # The installation and its product key; the data folder is the
        # installation folder on Linux (no ALLUSERSPROFILE), C:\ProgramData\KESTRA
        # under Wine.
        self.box = sandbox.Sandbox(identity={})
        self.addCleanup(self.box.cleanup)
        self.root = self.box.root
        self.install = self.box.install
        self.folder = self.box.rsslinks
        os.makedirs(self.folder)
        self.output = os.path.join(self.folder, "Temp_RSS.xml")
        self.env = self.box.env()
        if sandbox.WINDOWS:
            # Wine hands a URL in any script over whole in a UTF-8 locale.
            self.env["LC_ALL"] = "C.UTF-8"
        # The test's own server is reached directly, whatever proxy is set.
        self.env["no_proxy"] = self.env["NO_PROXY"] = "127.0.0.1"

    def write_registry(self, install_path):
        self.box.install_value = self.box.program_path(install_path)
        self.box.write_registry()

    def start_converter(self, *args, **kwargs):
        return subprocess.Popen(self.box.command(CONVERTER) + list(args), env=self.env,
                                stdin=subprocess.DEVNULL, **kwargs)

    def run_converter(self, *args):
        return subprocess.run(self.box.command(CONVERTER) + list(args), env=self.env,
                              stdin=subprocess.DEVNULL, capture_output=True,
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
        self.assertEqual(sorted(set(os.listdir(os.path.dirname(output or self.output)))
                                - {CACHE_NAME}), ["Temp_RSS.xml"])

    def assert_failed_untouched(self, result, previous=b"previous feed\r\n"):
        self.assertNotEqual(result.returncode, 0)
        lines = result.stderr.decode("utf-8").splitlines()
        self.assertEqual(len(lines), 1, result.stderr)
        self.assertTrue(lines[0].startswith("FeedPull: "), lines[0])
        self.assertEqual(self.read_output(), previous)
        self.assertEqual(sorted(set(os.listdir(self.folder)) - {CACHE_NAME}), ["Temp_RSS.xml"])

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
        result = self.run_converter(file_url(feed))
        self.assert_converted(result, rss_expected("file:///"))
        with open(feed, "wb") as f:
            f.write(ATOM_FEED)
        result = self.run_converter(file_url(feed))
        self.assert_converted(result, atom_expected(file_url(os.path.dirname(feed)) + "/"))

    @sandbox.linux_only("Wine sets ALLUSERSPROFILE itself, whatever the environment says; "
                        "every Windows case writes under it")
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

    def test_decompression_bomb_fails_within_bounded_memory(self):
        # 15 KB on the wire, just under 10 MiB of empty items after decoding.
        head, tail = b"<rss version='2.0'><channel><title>B</title>", b"</channel></rss>"
        items = (10 * 1024 * 1024 - len(head) - len(tail)) // len(b"<item/>")
        self.serve("/bomb.xml", gzip.compress(head + b"<item/>" * items + tail),
                   headers=[("Content-Encoding", "gzip")])
        self.seed_previous()
        converter = self.start_converter(self.base + "bomb.xml", stdout=subprocess.PIPE,
                                         stderr=subprocess.PIPE)
        try:
            _, stderr = converter.communicate(timeout=RUN_BOUND_SECONDS)
        finally:
            converter.kill()
        self.assertEqual(stderr.decode(), "FeedPull: cannot convert %sbomb.xml: the document "
                         "needs more than 33554432 bytes of memory to be read%s" % (self.base, EOL))
        self.assertEqual(converter.returncode, 4)
        self.assert_failed_untouched(
            subprocess.CompletedProcess([], converter.returncode, b"", stderr))
        if not sandbox.WINDOWS:
            # The child's own peak, which was 1.48 GB.
            peak_kib = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
            self.assertLess(peak_kib, 128 * 1024)

    def test_unsupported_scheme_fails(self):
        self.seed_previous()
        self.assert_failed_untouched(self.run_converter("ftp://127.0.0.1/feed.xml"))

    def test_missing_file_url_fails(self):
        self.seed_previous()
        self.assert_failed_untouched(
            self.run_converter(file_url(os.path.join(self.root, "absent.xml"))))

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

    # --- conditional requests and the validator cache --------------------

    def cache_path(self):
        return os.path.join(self.folder, CACHE_NAME)

    def read_cache(self):
        with open(self.cache_path(), "rb") as f:
            return parse_cache(f.read())

    def serve(self, path, body, etag=None, last_modified=None, headers=()):
        Handler.versioned[path] = {"body": body, "etag": etag, "last_modified": last_modified,
                                   "headers": headers}

    def conditional_headers(self, index=-1):
        _, headers = Handler.requests[index]
        return {name: headers[name] for name in ("If-None-Match", "If-Modified-Since")
                if name in headers}

    def test_unchanged_feed_is_not_fetched_again(self):
        modified = "Mon, 07 Dec 2026 09:00:00 GMT"
        self.serve("/v.xml", RSS_FEED, etag='"v1"', last_modified=modified)
        url = self.base + "v.xml"
        result = self.run_converter(url)
        self.assert_converted(result, rss_expected(self.base))
        first = self.read_output()
        self.assertEqual(self.conditional_headers(), {})
        # rssnotify's next feed overwrites the output in between.
        self.seed_previous()
        result = self.run_converter(url)
        self.assertEqual((result.returncode, result.stderr), (0, b""))
        self.assertEqual(self.conditional_headers(),
                         {"If-None-Match": '"v1"', "If-Modified-Since": modified})
        self.assertEqual(Handler.statuses, [200, 304])
        self.assertEqual(self.read_output(), first)
        self.assertEqual(sorted(os.listdir(self.folder)), [CACHE_NAME, "Temp_RSS.xml"])

    def test_changed_feed_is_fetched_in_full(self):
        self.serve("/v.xml", RSS_FEED, etag='"v1"')
        url = self.base + "v.xml"
        self.assert_converted(self.run_converter(url), rss_expected(self.base))
        self.serve("/v.xml", ATOM_FEED, etag='W/"v2"')
        self.assert_converted(self.run_converter(url), atom_expected(self.base))
        self.assertEqual(self.conditional_headers(), {"If-None-Match": '"v1"'})
        second = self.read_output()
        self.seed_previous()
        result = self.run_converter(url)
        self.assertEqual((result.returncode, result.stderr), (0, b""))
        self.assertEqual(self.conditional_headers(), {"If-None-Match": 'W/"v2"'})
        self.assertEqual(Handler.statuses, [200, 200, 304])
        self.assertEqual(self.read_output(), second)

    def test_last_modified_alone_is_a_validator(self):
        modified = "Sun, 06 Dec 2026 18:30:00 GMT"
        self.serve("/v.xml", RSS_FEED, last_modified=modified)
        url = self.base + "v.xml"
        self.assert_converted(self.run_converter(url), rss_expected(self.base))
        first = self.read_output()
        self.seed_previous()
        self.assertEqual(self.run_converter(url).returncode, 0)
        self.assertEqual(self.conditional_headers(), {"If-Modified-Since": modified})
        self.assertEqual(Handler.statuses, [200, 304])
        self.assertEqual(self.read_output(), first)

    def test_what_may_not_or_cannot_be_validated_is_not_cached(self):
        url = self.base + "v.xml"
        # Cache-Control: no-store, among other directives.
        self.serve("/v.xml", RSS_FEED, etag='"v1"',
                   headers=[("Cache-Control", "max-age=60, No-Store")])
        for _ in range(2):
            self.assert_converted(self.run_converter(url), rss_expected(self.base))
            self.assertEqual(self.conditional_headers(), {})
        self.assertEqual(Handler.statuses, [200, 200])
        self.assertFalse(os.path.exists(self.cache_path()))
        # Without validators.
        self.serve("/v.xml", RSS_FEED)
        for _ in range(2):
            self.assert_converted(self.run_converter(url), rss_expected(self.base))
            self.assertEqual(self.conditional_headers(), {})
        self.assertFalse(os.path.exists(self.cache_path()))
        # A cached feed that turns no-store loses its entry.
        self.serve("/v.xml", RSS_FEED, etag='"v1"')
        self.assert_converted(self.run_converter(url), rss_expected(self.base))
        self.assertEqual(len(self.read_cache()), 1)
        self.serve("/v.xml", ATOM_FEED, etag='"v2"', headers=[("Cache-Control", "no-store")])
        self.assert_converted(self.run_converter(url), atom_expected(self.base))
        self.assertEqual(self.read_cache(), [])
        self.assert_converted(self.run_converter(url), atom_expected(self.base))
        self.assertEqual(self.conditional_headers(), {})

    def test_damaged_cache_is_ignored_and_rewritten(self):
        self.serve("/v.xml", RSS_FEED, etag='"v1"')
        url = self.base + "v.xml"
        self.assert_converted(self.run_converter(url), rss_expected(self.base))
        with open(self.cache_path(), "rb") as f:
            good = f.read()
        # A byte of the stored document changed, then a cut file, then junk.
        at = good.index(b"<rootrss>") + 3
        for damaged in (good[:at] + b"X" + good[at + 1:], good[:-9], b"\x00garbage\r\n"):
            with open(self.cache_path(), "wb") as f:
                f.write(damaged)
            self.seed_previous()
            self.assert_converted(self.run_converter(url), rss_expected(self.base))
            self.assertEqual(self.conditional_headers(), {})
            with open(self.cache_path(), "rb") as f:
                self.assertEqual(f.read(), good)
        self.assertEqual(Handler.statuses, [200] * 4)
        # The rewritten cache works.
        self.seed_previous()
        self.assertEqual(self.run_converter(url).returncode, 0)
        self.assertEqual(Handler.statuses[-1], 304)
        self.assert_converted(self.run_converter(url), rss_expected(self.base))
        # A damaged file is rewritten also by a fetch that adds nothing to it.
        with open(self.cache_path(), "wb") as f:
            f.write(good[:-1])
        self.assert_converted(self.run_converter(self.base + "feed.xml"),
                              rss_expected(self.base))
        with open(self.cache_path(), "rb") as f:
            self.assertEqual(f.read(), b"FeedPull validator cache 1\nend 0\n")

    @sandbox.linux_only("what reaches the disk is recorded through LD_PRELOAD")
    def test_the_output_is_handed_over_unflushed_and_the_cache_whole(self):
        # The run reads the output at once, and a crash ends the run too; a
        # cache a crash takes back only costs a full fetch.
        self.serve("/v.xml", RSS_FEED, etag='"v1"')
        record = os.path.join(self.root, "flushes")
        self.env.update({"LD_PRELOAD": os.path.join(sandbox.BUILD_DIR, "tests", "hold_rename.so"),
                         "FLUSH_RECORD": record})
        self.assert_converted(self.run_converter(self.base + "v.xml"), rss_expected(self.base))
        with open(record) as f:
            events = [re.sub(r" \.(.*)\.tmp-\w+$", r" \1 (new)", line.rstrip("\n")) for line in f]
        self.assertEqual(events, ["rename Temp_RSS.xml", "fsync %s (new)" % CACHE_NAME,
                                  "rename " + CACHE_NAME])

    def test_cache_holds_every_feed_of_a_template(self):
        # Several feeds of one run, and converters of several sessions at
        # once: the file stays whole, one entry per URL.
        urls = []
        for n in range(6):
            self.serve("/f%d.xml" % n, RSS_FEED, etag='"f%d"' % n)
            urls.append(self.base + "f%d.xml" % n)
        for url in urls:
            self.assert_converted(self.run_converter(url), rss_expected(self.base))
        entries = self.read_cache()
        self.assertEqual(sorted(e[0].decode() for e in entries), sorted(urls))
        for _ in range(3):
            runs = [self.start_converter(url, stdout=subprocess.DEVNULL,
                                         stderr=subprocess.PIPE) for url in urls]
            for run in runs:
                _, said = run.communicate(timeout=RUN_BOUND_SECONDS)
                # They meet at the one output file (rssnotify's run lock
                # otherwise keeps them apart): on Windows a rename over it is
                # refused while another converter's rename holds it, and is
                # tried again a moment later.
                self.assertEqual((run.returncode, said), (0, b""))
            self.assertIsNotNone(self.read_cache())

    def test_retry_after_fails_fast_and_holds_back_later_runs(self):
        url = self.base + "too-many"
        result = self.run_converter(url)
        self.assertEqual(result.returncode, 3)
        self.assertEqual(result.stderr.decode(),
                         "FeedPull: cannot fetch %s: the server answered with HTTP status 429 "
                         "and asks to be asked again in 120 seconds (Retry-After); "
                         "not retrying%s" % (url, EOL))
        self.assertEqual(len(Handler.requests), 1)
        result = self.run_converter(url)
        self.assertEqual(result.returncode, 3)
        self.assertRegex(result.stderr.decode(),
                         r"\AFeedPull: not fetching %s: the server asked to be left alone for "
                         r"(1[01]\d|120) more seconds \(Retry-After\)%s\Z" % (re.escape(url), EOL))
        self.assertEqual(len(Handler.requests), 1)
        # An HTTP-date on a 503.
        url = self.base + "unavailable"
        result = self.run_converter(url)
        self.assertEqual(result.returncode, 3)
        self.assertRegex(result.stderr.decode(),
                         r"\AFeedPull: cannot fetch %s: the server answered with HTTP status "
                         r"503 and asks to be asked again in (59\d|600) seconds \(Retry-After\); "
                         r"not retrying%s\Z" % (re.escape(url), EOL))
        self.assertEqual(len(Handler.requests), 2)

    # --- lenient reading ----------------------------------------------------

    def test_atom_feed_wrapped_in_an_xhtml_page(self):
        result = self.run_converter(self.base + "wrapped.html")
        self.assert_converted(result, wrapped_expected(self.base))

    def test_undeclared_eight_bit_bytes_are_windows_1252(self):
        result = self.run_converter(self.base + "cp1252.xml")
        self.assert_converted(result, [
            ("maintitle", "Prices in \u20ac"), ("mainlink", ""), ("maindescription", ""),
            ("item", [("title", "\u201cQuoted\u201d \u20ac 5"), ("description", ""),
                      ("link", ""), ("pubdate", ""), ("author", ""), ("guid", "")])])

    def test_single_line_fields_and_xml_characters_only(self):
        result = self.run_converter(self.base + "forged.xml")
        self.assertEqual((result.returncode, result.stderr), (0, b""))
        self.assertEqual(self.read_output(), DECLARATION + b"""
<rootrss>
  <maintitle>Forged</maintitle>
  <mainlink />
  <maindescription />
  <item>
    <title>Line [Link_2_T_1] </title>
    <description>two
lines</description>
    <link>http://forged.example/1</link>
    <pubdate>Mon, 07 Dec 2026 09:00:00 GMT [Link_2_T_1] LatestGUID=x </pubdate>
    <author>A ERR : forged</author>
    <guid>g 1</guid>
  </item>
</rootrss>
""")

    # --- the byte limit -------------------------------------------------------

    def test_byte_limit_is_exact(self):
        result = self.run_converter(self.base + "sized/%d" % FETCH_LIMIT)
        self.assert_converted(result, rss_expected(self.base))
        self.seed_previous()
        url = self.base + "sized/%d" % (FETCH_LIMIT + 1)
        result = self.run_converter(url)
        self.assert_failed_untouched(result)
        self.assertEqual(result.stderr.decode(), "FeedPull: cannot fetch %s: the document is "
                         "larger than %d bytes%s" % (url, FETCH_LIMIT, EOL))

    def test_byte_limit_is_exact_for_a_file_url(self):
        # Percent-encoded, with this machine named: read as libcurl reads it.
        folder = os.path.join(self.root, "feed files")
        os.makedirs(folder)
        with open(os.path.join(folder, "exact.xml"), "wb") as f:
            f.write(sized_feed(FETCH_LIMIT))
        with open(os.path.join(folder, "over.xml"), "wb") as f:
            f.write(sized_feed(FETCH_LIMIT + 1))
        base = file_url(folder, host="localhost") + "/"
        result = self.run_converter(base + "exact.xml")
        self.assert_converted(result, rss_expected("file:///"))
        self.seed_previous()
        url = base + "over.xml"
        result = self.run_converter(url)
        self.assert_failed_untouched(result)
        self.assertEqual((result.returncode, result.stderr.decode()),
                         (3, "FeedPull: cannot fetch %s: the document is larger than %d bytes%s"
                          % (url, FETCH_LIMIT, EOL)))

    @sandbox.linux_only("the Windows program has libcurl linked in: there is no library "
                        "that could fail to load")
    def test_libcurl_is_needed_for_http_only(self):
        # A libcurl that cannot be loaded: found first, but not a library.
        broken = os.path.join(self.root, "broken-libs")
        os.makedirs(broken)
        open(os.path.join(broken, "libcurl.so.4"), "wb").close()
        self.env["LD_LIBRARY_PATH"] = broken
        self.seed_previous()
        url = self.base + "feed.xml"
        result = self.run_converter(url)
        self.assert_failed_untouched(result)
        self.assertEqual((result.returncode, result.stderr.decode()),
                         (3, "FeedPull: cannot fetch %s: cannot load libcurl.so.4: "
                             "%s/libcurl.so.4: file too short\n" % (url, broken)))
        self.assertEqual(Handler.requests, [])
        feed = os.path.join(self.root, "news.xml")
        with open(feed, "wb") as f:
            f.write(RSS_FEED)
        self.assert_converted(self.run_converter("file://" + feed), rss_expected("file:///"))

    # --- the reason of a failure ---------------------------------------------

    def test_each_failure_says_why_in_one_line(self):
        self.seed_previous()
        cases = [
            ("missing.xml", 3, "cannot fetch {url}: the server answered with HTTP status 404"),
            ("huge.xml", 3, "cannot fetch {url}: the document is larger than 10485760 bytes"),
            ("page.html", 4, "cannot convert {url}: the document is not a feed (its root "
                             "element is <html>)"),
            ("empty.xml", 4, "cannot convert {url}: the document is empty"),
            ("unknown-encoding.xml", 4, "cannot convert {url}: the document cannot be "
                                        "decoded: unknown encoding X-NO-SUCH-CODE"),
        ]
        for path, status, message in cases:
            url = self.base + path
            result = self.run_converter(url)
            self.assert_failed_untouched(result)
            self.assertEqual((result.returncode, result.stderr.decode()),
                             (status, "FeedPull: " + message.format(url=url) + EOL))
        # A URL with a line break in it still gives one line.
        result = self.run_converter(self.base + "missing\n.xml")
        self.assert_failed_untouched(result)


    # --- the feeds of a whole run, fetched side by side ------------------

    @staticmethod
    def seen_through(lines):
        """`lines` with each converter call logged as one the run waited for.
        A converter that has already ended when the run first looks at it
        is neither waited for nor ended, and its call logs no lines of that
        (the built converter, answering from what the run's first call
        fetched, now and then ends that soon)."""
        out = []
        for i, line in enumerate(lines):
            out.append(line)
            if line.startswith("ERR : Successfully Executed, ") and lines[i + 1:i + 2] != [
                    "MSG : Executing fncTerminateProcess"]:
                out += ["MSG : Executing fncTerminateProcess",
                        "MSG : Successfully Executed the script"]
        return out

    def whole_run(self, urls, runs=1):
        """A sandbox run `runs` times over `urls` with the built converter;
        returns the sandbox and each run's lines after the template."""
        box = sandbox.FeedSandbox(converter_delay=None)
        self.addCleanup(box.cleanup)
        shutil.copy(CONVERTER, box.converter)
        box.write_feed_template("@#@".join(urls))
        logs = []
        for _ in range(runs):
            result = box.run(timeout=RUN_BOUND_SECONDS * 2,
                             extra_env={"no_proxy": "127.0.0.1", "NO_PROXY": "127.0.0.1"})
            self.assertEqual((result.returncode, result.stderr), (0, b""))
            logs.append(self.seen_through(sandbox.FeedTestCase.lines_after_template(box)))
        # The run's last call has cleared away what the first fetched for it.
        self.assertEqual([f for f in os.listdir(box.rsslinks) if f.startswith("FeedPull_Run_")], [])
        return box, logs

    NEWEST = ("http://news.example/items/2", "Tue, 03 Jun 2003 09:00:00 GMT")

    def stored_feed(self, site_root=None):
        """A store of RSS_FEED fetched from the test's server, or from a
        site whose root is `site_root`."""
        converted = rss_expected(site_root or self.base)
        renamed = {"pubdate": "pubDate", "guid": "GUID"}
        return converted[:3] + [("item", [(renamed.get(k, k), v) for k, v in fields] +
                                 [("Status", "Unread")]) for _, fields in converted[3:]]

    def first_run_lines(self, box, urls, failures):
        """The lines of a first run over `urls`, each feed RSS_FEED but those
        `failures` maps to the converter's message."""
        expected = box.driver_start_lines("@#@".join(urls))
        for n, url in enumerate(urls, start=1):
            expected += box.converter_lines(n, url)
            if url in failures:
                expected += [
                    "MSG : fncParseRSSSite :  Failed to find " + box.data_path +
                    "qLUX\\Dovel\\RSSLinks\\TempRSS.xmlfor URL :: " + url,
                    "MSG : fncParseRSSSite :  Converter said :: FeedPull: " + failures[url]]
            else:
                expected += (box.parsed_lines() + box.store_lines(n, created=True) +
                             box.saved_lines(n, 2, *self.NEWEST))
        return expected + box.driver_end_lines(2 * sum(url not in failures for url in urls))

    def test_a_run_asks_for_each_feed_once_and_the_next_run_only_conditionally(self):
        paths = ["/r%d.xml" % n for n in range(6)]
        for path in paths:
            self.serve(path, RSS_FEED, etag='"%s"' % path)
        urls = [self.base + path[1:] for path in paths]
        box, (first, second) = self.whole_run(urls, runs=2)

        self.assertEqual(sorted(p for p, _ in Handler.requests[:6]), sorted(paths))
        self.assertEqual(sorted((p, h.get("If-None-Match")) for p, h in Handler.requests[6:]),
                         sorted((p, '"%s"' % p) for p in paths))
        self.assertEqual(Handler.statuses, [200] * 6 + [304] * 6)
        sites = "@#@".join(urls)
        expected = [box.driver_start_lines(sites), box.driver_start_lines(sites, "12")]
        for n, url in enumerate(urls, start=1):
            feed = box.converter_lines(n, url) + box.parsed_lines()
            expected[0] += (feed + box.store_lines(n, created=True) +
                            box.saved_lines(n, 2, *self.NEWEST))
            expected[1] += (feed + box.store_lines(n, created=False, last=self.NEWEST + ("2",)) +
                            box.saved_lines(n, 0))
        expected[0] += box.driver_end_lines(12) + [NO_POPUP]
        expected[1] += box.driver_end_lines(0) + ["MSG : Application Ended"]
        self.assertEqual([first, second], expected)
        for n in range(1, 7):
            self.assertEqual(box.store_items(n), self.stored_feed())

    def test_servers_that_never_answer_cost_a_run_one_bound(self):
        # A feed listed twice is fetched once too.
        self.serve("/ok.xml", RSS_FEED, etag='"ok"')
        urls = [self.base + "ok.xml", self.base + "hang/1", self.base + "ok.xml",
                self.base + "hang/2"]
        box, (lines,) = self.whole_run(urls)
        self.assertEqual(sorted(p for p, _ in Handler.requests), ["/hang/1", "/hang/2", "/ok.xml"])
        # Side by side: one after the other they would be the converter's
        # bound of 20 seconds apart.
        hangs = [t for p, t in Handler.arrivals if p.startswith("/hang/")]
        self.assertLess(abs(hangs[0] - hangs[1]), 5)
        expected = self.first_run_lines(box, urls, {
            url: "cannot fetch " + url + ": Operation timed out after (the bound) milliseconds "
            "with 0 bytes received" for url in urls if "hang" in url})
        # libcurl says how long it waited: the bound, or on a busy machine
        # up to a second more (it looks at the clock between its waits).
        lines = [re.sub(r"after 20\d{3} milliseconds", "after (the bound) milliseconds", line)
                 for line in lines]
        self.assertEqual(lines, expected + [NO_POPUP])
        self.assertEqual(box.store_items(3), self.stored_feed())

    def test_a_runs_file_feeds_are_read_by_its_first_call_alike(self):
        # Read and converted on two threads by the first call, each answers
        # as its own call would: a feed listed three times, one that is not
        # a feed and one more, beside an http feed.
        self.serve("/r.xml", RSS_FEED, etag='"r"')
        folder = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, folder)
        for name, body in (("a.xml", RSS_FEED), ("b.xml", RSS_FEED), ("page.xml", b"<html/>")):
            with open(os.path.join(folder, name), "wb") as f:
                f.write(body)
        urls = [file_url(os.path.join(folder, name)) for name in ("a.xml", "page.xml", "b.xml")]
        urls = urls[:1] + [self.base + "r.xml"] + urls + urls[:1]
        box, (lines,) = self.whole_run(urls)
        page = urls[3]
        self.assertEqual(lines, self.first_run_lines(box, urls, {
            page: "cannot convert " + page + ": the document is not a feed (its root element "
            "is <html>)"}) + [NO_POPUP])
        self.assertEqual(box.store_items(2), self.stored_feed())
        for n in (1, 3, 5, 6):
            self.assertEqual(box.store_items(n), self.stored_feed("file:///"))


if __name__ == "__main__":
    unittest.main()
