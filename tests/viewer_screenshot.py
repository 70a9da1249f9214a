#!/usr/bin/python3
"""Renders a demo page of the feed viewer and takes its screenshot.

Runs the built rssnotify twice in a sandbox installation (a scripted converter
serves three demo feeds, one of which never delivers anything), with the
built viewer in between, so that the final page shows read and new items and
a feed without a store. Then headless Chromium (Debian's "chromium" package)
takes the screenshot.

Usage: viewer_screenshot.py [output.png]    (default: docs/viewer.png)
The build folder is RSSNOTIFY_BUILD_DIR, by default ./build.
"""

import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from sandbox import BUILD_DIR, FeedSandbox, write_script  # noqa: E402

VIEWER = os.path.join(BUILD_DIR, "companions", "viewer", "qVMRSS.exe")
TOP = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")

CONVERTER = """#!/usr/bin/python3
import os, sys, urllib.parse
source = os.path.join({feeds!r}, urllib.parse.urlsplit(sys.argv[1]).hostname + ".xml")
if not os.path.exists(source):
    sys.exit(3)
out = os.path.join({rsslinks!r}, "Temp_RSS.xml")
call = os.environ.get("RSSNOTIFY_CONVERTER_CALL")
with open(source, "rb") as f, open(out + ".part", "wb") as g:
    g.write(f.read())
    if call:  # the mark of the run's call, as the real converter writes it
        g.write(('<?FeedPull call="%s" url="%s"?>\n' % (call, sys.argv[1].encode().hex())).encode())
os.replace(out + ".part", out)
"""

NEWS_HEADER = """<maintitle>Kestra Service News</maintitle>
<mainlink>https://news.kestra.example/</mainlink>
<maindescription>&lt;p&gt;Announcements from your service provider&lt;/p&gt;</maindescription>
"""
NEWS_NEW = """<item><title>Scheduled maintenance on Saturday, 22:00-23:00</title>
<description>&lt;p&gt;The remote backup service will be &lt;b&gt;unavailable&lt;/b&gt; for one hour
while we upgrade the storage cluster. No action is needed.&lt;/p&gt;</description>
<link>https://news.kestra.example/maintenance-saturday</link>
<pubdate>Fri, 14 Jun 2024 09:30:00 GMT</pubdate><author>Service Desk</author><guid>n3</guid></item>
<item><title>New: self-service password reset &amp; unlock</title>
<description>You can now reset your password from the sign-in screen &amp;mdash; see the
&lt;a href="https://news.kestra.example/reset"&gt;guide&lt;/a&gt;.</description>
<link>https://news.kestra.example/password-reset</link>
<pubdate>Thu, 13 Jun 2024 15:00:00 GMT</pubdate><author>Identity Team</author><guid>n2</guid></item>
"""
NEWS_OLD = """<item><title>Phishing warning: "Invoice overdue" e-mails</title>
<description>Do not open attachments from unknown senders &lt;script&gt;alert(1)&lt;/script&gt;.
Report suspicious mail to the service desk.</description>
<link>https://news.kestra.example/phishing-invoices</link>
<pubdate>Mon, 10 Jun 2024 08:15:00 GMT</pubdate><author>Security Office</author><guid>n1</guid></item>
"""
STATUS = """<rootrss><maintitle>Platform status</maintitle>
<mainlink>https://status.kestra.example/</mainlink>
<maindescription>Incidents and planned work</maindescription>
<item><title>Resolved: e-mail delivery delays</title>
<description>Delivery is back to normal since 11:40.</description>
<link>https://status.kestra.example/incidents/1042</link>
<pubdate>Wed, 12 Jun 2024 11:45:00 GMT</pubdate><author>Operations</author><guid>s1</guid></item>
</rootrss>
"""


def news(items):
    return "<rootrss>" + NEWS_HEADER + items + "</rootrss>"


def main():
    output = os.path.abspath(sys.argv[1] if len(sys.argv) > 1
                             else os.path.join(TOP, "docs", "viewer.png"))
    chromium = shutil.which("chromium")
    if chromium is None:
        sys.exit("viewer_screenshot: Chromium is missing (apt-get install chromium)")
    box = FeedSandbox(converter_delay=None)
    profile = tempfile.mkdtemp(prefix="viewer-chromium-")
    try:
        write_script(box.converter, CONVERTER.format(feeds=box.feeds_dir, rsslinks=box.rsslinks))
        box.template_id, box.template_ver = "DEMO", "1"
        box.write_feed_template("https://news.kestra.example/rss@#@https://offline.kestra.example/"
                                "rss@#@https://status.kestra.example/rss")

        def serve(host, document):
            with open(os.path.join(box.feeds_dir, host + ".xml"), "w", encoding="utf-8") as f:
                f.write(document)

        def view():
            result = subprocess.run([VIEWER], env=box.env(), capture_output=True, timeout=60,
                                    check=True)
            return result.stdout.decode().strip()

        serve("news.kestra.example", news(NEWS_OLD))
        serve("status.kestra.example", STATUS)
        box.run()
        view()  # the user has seen these
        serve("news.kestra.example", news(NEWS_NEW + NEWS_OLD))
        box.run()
        page = view()

        subprocess.run([chromium, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                        "--no-first-run", "--disable-background-networking",
                        "--disable-component-update", "--disable-sync",
                        "--user-data-dir=" + profile, "--screenshot=" + output,
                        "--window-size=1000,800", "file://" + page],
                       check=True, timeout=120, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        print(output)
    finally:
        shutil.rmtree(profile, ignore_errors=True)
        box.cleanup()


if __name__ == "__main__":
    main()
