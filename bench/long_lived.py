"""A long-lived installation, compressed in time, and stores grown for a year.

(1) A year of 20 feeds: every simulated day each feed gains 15 items (the
    converter stand-in serves each feed's newest 50, as a real feed does),
    rssnotify runs and the viewer is opened once. The day's hourly runs are
    folded into the one run that brings the day's news; the runs without news
    find nothing and change no store. At week 1, month 3 and month 12 it
    reports the stores' sizes, the time of a run (median, one new item per
    feed) and the page's size, next to week 1's.
(2) The bounds of grown stores: 20 stores of 5,000 items with 10 unread each,
    and 20 of 3,000 unread items each, written directly: the page's size,
    what each store keeps after one viewing, and a run over the viewed stores
    against a run over stores of 50 items (median, one new item per feed).
    With chromium installed, also the time headless Chromium takes to show
    the page of 5,000-item stores against that of 50-item stores.

    python3 bench/long_lived.py [BUILD_DIR [bounds|year]]    (bench/run.sh runs both)
"""

import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, "..", "build"))
os.environ["RSSNOTIFY_BUILD_DIR"] = build
sys.path.insert(0, os.path.join(HERE, "..", "tests"))
import sandbox  # noqa: E402

FEEDS = 20
PER_DAY = 15
CARRIED = 50
SITES = ["https://f%d.example/rss" % n for n in range(1, FEEDS + 1)]


def item_xml(feed, n, status=None):
    text = ("<item><title>Feed %d item %d: a headline of ordinary length</title>"
            "<description>&lt;p&gt;Item %d of feed %d, with a paragraph of text such as a "
            "real feed gives, neither long nor short, and a &lt;a href=\"https://f%d.example/"
            "%d\"&gt;link&lt;/a&gt; in it.&lt;/p&gt;</description>"
            "<link>https://f%d.example/%d</link><%s>Mon, 07 Dec 2026 09:00:00 +0000</%s>"
            "<author>Author %d</author><%s>f%d-%d</%s>"
            % (feed, n, n, feed, feed, n, feed, n, "pubDate" if status else "pubdate",
               "pubDate" if status else "pubdate", feed, "GUID" if status else "guid", feed, n,
               "GUID" if status else "guid"))
    return text + ("<Status>%s</Status></item>" % status if status else "</item>")


def header(feed):
    return ("<maintitle>Feed %d</maintitle><mainlink>https://f%d.example/</mainlink>"
            "<maindescription>News of feed %d</maindescription>" % (feed, feed, feed))


def serve(box, feed, newest):
    """The converted document of `feed` carrying items newest..newest-49."""
    items = "".join(item_xml(feed, n) for n in range(newest, max(newest - CARRIED, 0), -1))
    with open(os.path.join(box.feeds_dir, "f%d.example.xml" % feed), "w") as f:
        f.write('<?xml version="1.0" encoding="UTF-8"?>\n<rootrss>' + header(feed) + items +
                "</rootrss>\n")


def new_box():
    box = sandbox.FeedSandbox(converter_delay=None, template_id="B", template_ver="1")
    box.install_converter(steps=[sandbox.convert_host(box.feeds_dir)])
    box.write_feed_template("@#@".join(SITES), message="")
    return box


def run(box):
    started = time.perf_counter()
    result = box.run()
    assert result.returncode == 0, result.stderr
    return time.perf_counter() - started


def view(box):
    result = subprocess.run(box.command(sandbox.VIEWER), env=box.env(), capture_output=True,
                            stdin=subprocess.DEVNULL, timeout=600)
    assert result.returncode == 0, result.stderr
    return result.stdout.decode().strip()


def timed_runs(box, newest, rounds=5):
    """Median time of `rounds` runs, each with one new item per feed."""
    times = []
    for _ in range(rounds):
        newest += 1
        for feed in range(1, FEEDS + 1):
            serve(box, feed, newest)
        times.append(run(box))
    return statistics.median(times), newest


def store_sizes(box):
    sizes, items = [], []
    for n in range(1, FEEDS + 1):
        with open(box.store(n), "rb") as f:
            data = f.read()
        sizes.append(len(data))
        items.append(data.count(b"<item>"))
    return sum(sizes), max(items)


def year():
    print("== long-lived installation: %d feeds, %d new items a day each, viewed daily"
          % (FEEDS, PER_DAY))
    box = new_box()
    try:
        newest, first = 0, None
        checkpoints = {7: "week 1", 91: "month 3", 365: "month 12"}
        for day in range(1, 366):
            newest += PER_DAY
            for feed in range(1, FEEDS + 1):
                serve(box, feed, newest)
            run(box)
            page = view(box)
            if day in checkpoints:
                page_bytes = os.path.getsize(page)
                run_time, newest = timed_runs(box, newest, rounds=7)
                view(box)
                total, most = store_sizes(box)
                figures = (total, most, run_time, page_bytes)
                first = first or figures
                print("   %-9s stores %6.1f MB (at most %5d items each), run %4.0f ms (%.2fx), "
                      "page %5.2f MB (%.2fx)"
                      % (checkpoints[day], total / 1e6, most, run_time * 1000,
                         run_time / first[2], page_bytes / 1e6, page_bytes / first[3]))
    finally:
        box.cleanup()


def grown(box, items, unread):
    """Stores of `items` items, the newest `unread` of them unread."""
    os.makedirs(box.rsslinks, exist_ok=True)
    for feed in range(1, FEEDS + 1):
        body = "".join(item_xml(feed, n, "Unread" if items - n < unread else "Read")
                       for n in range(items, 0, -1))
        with open(box.store(feed), "w") as f:
            f.write('<?xml version="1.0"?>\n<rootrss>' + header(feed) + body + "</rootrss>\n")
        serve(box, feed, items)
    # The update-state file as a run over these stores leaves it.
    run(box)


def chromium_ms(page):
    chromium = shutil.which("chromium")
    if not chromium:
        return None
    times = []
    for _ in range(3):
        profile = tempfile.mkdtemp()
        started = time.perf_counter()
        subprocess.run([chromium, "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
                        "--disable-background-networking", "--user-data-dir=" + profile,
                        "--dump-dom", "file://" + page], capture_output=True, timeout=600)
        times.append(time.perf_counter() - started)
        shutil.rmtree(profile, ignore_errors=True)
    return statistics.median(times) * 1000


def bounds():
    print("== grown stores: %d stores" % FEEDS)
    results = {}
    for items, unread in ((50, 10), (5000, 10), (3000, 3000)):
        box = new_box()
        try:
            grown(box, items, unread)
            page = view(box)
            page_bytes = os.path.getsize(page)
            browser = chromium_ms(page)
            kept = []
            for n in range(1, FEEDS + 1):
                with open(box.store(n), "rb") as f:
                    data = f.read()
                kept.append((data.count(b"<Status>Unread</Status>"),
                             data.count(b"<Status>Read</Status>")))
            run_time, _ = timed_runs(box, items, rounds=7)
            results[(items, unread)] = (run_time, browser)
            print("   %5d items, %4d unread: page %5.2f MB%s; kept after one viewing: at most "
                  "%d unread and %d read a store; a run %4.0f ms (%.2fx the run over 50 items)"
                  % (items, unread, page_bytes / 1e6,
                     "" if browser is None else ", Chromium %.0f ms (%.2fx)"
                     % (browser, browser / results[(50, 10)][1]),
                     max(k[0] for k in kept), max(k[1] for k in kept), run_time * 1000,
                     run_time / results[(50, 10)][0]))
        finally:
            box.cleanup()


if __name__ == "__main__":
    part = sys.argv[2] if len(sys.argv) > 2 else "both"
    if part in ("both", "bounds"):
        bounds()
    if part in ("both", "year"):
        year()
