"""One run at a time per data folder.

Runs started together on one installation take turns through the data
folder's run lock; a run that cannot have it within its bound ends with one
line appended to its day's log and leaves the log of the run in progress
whole.
"""

import os
import re
import shutil
import subprocess
import tempfile
import time
import unittest

import sandbox
from sandbox import FeedSandbox, WINDOWS, convert, sleep, wait_for, write_script
from test_feed_update import HEADER, item, stored

DEFAULT_SENTENCE = ("You have total new RSS feeds from your service provider for your reference. "
                    "Click for view all messages.")
ANNOUNCED = re.compile(r"^PUT Body BSTR You have total (\d+) new RSS feeds? ")
GAVE_UP = "MSG : Another run is in progress; this run ends without changing anything"
ENDED = "MSG : Application Ended"
# Two converter time-outs.
LOCK_WAIT_SECONDS = 60


def start_run(box):
    """A run in the background; its standard error, where Wine reports a
    crash, goes to a file that `ended` shows when the run failed."""
    err = tempfile.NamedTemporaryFile(dir=box.root, prefix="run-", suffix=".err", delete=False)
    with err:
        run = subprocess.Popen(box.command(), env=box.env(), stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=err)
    run.err_path = err.name
    return run


def ended(run, timeout):
    """The run's exit status, and what it wrote to standard error when that
    is not 0."""
    status = run.wait(timeout=timeout)
    if status == 0:
        return 0, ""
    with open(run.err_path, "rb") as f:
        return status, f.read()[-4000:].decode("utf-8", "replace")


class OverlappingRunsTest(unittest.TestCase):
    """Several runs started at once, over several rounds, each round after
    both feeds gained new items: every new item lands once, in its own
    feed's store, and is announced once."""

    maxDiff = None

    def overlapping_rounds(self, runs, rounds):
        box = FeedSandbox(converter_delay="0.3")
        self.addCleanup(box.cleanup)
        box.register_popup("BSTR:EXIT")
        offered = {1: [], 2: []}
        expected = {1: [], 2: []}
        announced_before = 0
        for r in range(rounds):
            for n, prefix, count in ((1, "a", 2), (2, "b", 3)):
                new = [item("%s%d-%d" % (prefix, r, k)) for k in range(count)]
                offered[n] = new + offered[n]
                url = box.feed("feed%d.xml" % n, offered[n])
                # A new store holds the header, then the items in feed order;
                # later items go to the top, one above the other.
                if r == 0:
                    expected[n] = HEADER + [stored(e) for e in new]
                else:
                    expected[n] = [stored(e) for e in reversed(new)] + expected[n]
            if r == 0:
                box.write_feed_template(
                    box.program_path(os.path.join(box.feeds_dir, "feed1.xml")) + "@#@" +
                    box.program_path(os.path.join(box.feeds_dir, "feed2.xml")), DEFAULT_SENTENCE)
            processes = [start_run(box) for _ in range(runs)]
            for process in processes:
                self.assertEqual(ended(process, 300), (0, ""))
            for n in (1, 2):
                self.assertEqual(box.store_items(n), expected[n], "round %d, feed %d" % (r, n))
            requests = box.popup_requests()
            announced = [int(m.group(1)) for m in map(ANNOUNCED.match, requests) if m]
            # One run of the round found the five new items; the others none.
            self.assertEqual(announced[announced_before:], [5], "round %d" % r)
            announced_before = len(announced)
            self.assertEqual(sorted(os.listdir(box.rsslinks)),
                             sorted([box.store_name(1), box.store_name(2),
                                     os.path.basename(box.state_file), "Temp_RSS.xml"]))

    def test_four_runs_at_once(self):
        self.overlapping_rounds(runs=4, rounds=4)

    def test_eight_runs_at_once(self):
        self.overlapping_rounds(runs=8, rounds=3)


class LockHeldTest(unittest.TestCase):
    maxDiff = None

    def test_a_run_that_finds_the_lock_held_ends_within_the_bound(self):
        box = FeedSandbox(converter_delay=None)
        self.addCleanup(box.cleanup)
        # Every conversion hangs until the converter time-out, so the first
        # run holds the lock for three of them, longer than a run waits.
        box.install_converter(steps=[sleep(100000)])
        urls = [box.feed("f%d.xml" % n, [item(n)]) for n in (1, 2, 3)]
        sites = "@#@".join(urls)
        box.write_feed_template(sites)
        log = os.path.join(box.data, "ApplicationLog", "qLUXLog")

        box.started = datetime_now()
        first = start_run(box)
        for _ in range(600):
            if "FeedPull.exe" in log_text(log):
                break
            time.sleep(0.05)
        else:
            self.fail("the first run never started its converter")
        # While its converters hang, the first run writes nothing but its
        # log: whatever else changes in the data folder, the second run did.
        before = snapshot(box.data, log)
        second_start = time.monotonic()
        second = start_run(box)
        self.assertEqual(ended(second, LOCK_WAIT_SECONDS + 60), (0, ""))
        waited = time.monotonic() - second_start
        self.assertEqual(snapshot(box.data, log), before)
        self.assertIsNone(first.poll(), "the first run ended before the second gave up")
        self.assertGreaterEqual(waited, LOCK_WAIT_SECONDS - 1)
        self.assertLess(waited, LOCK_WAIT_SECONDS + 20)
        self.assertEqual(ended(first, 200), (0, ""))
        box.finished = datetime_now()

        lines = box.log_lines()
        self.assertEqual(lines.count(GAVE_UP), 1)
        at = lines.index(GAVE_UP)
        # Appended while the first run was still writing its log.
        self.assertLess(at, len(lines) - 1)
        expected = box.startup_lines() + box.template_lines(sites, "You have news") + \
            box.driver_start_lines(sites)
        for n, url in enumerate(urls, 1):
            expected += box.converter_lines(n, url, ran_to_end=False) + [
                "MSG : fncParseRSSSite :  Failed to find " + box.data_path +
                "qLUX\\Dovel\\RSSLinks\\TempRSS.xml" + "for URL :: " + url]
        expected += box.driver_end_lines(0) + [ENDED]
        self.assertEqual(lines[:at] + lines[at + 1:], expected)


def snapshot(folder, skip):
    """Every entry below `folder` but those below `skip`, with what tells a
    change: inode, size, mode and modification time."""
    entries = {}
    for parent, dirs, files in os.walk(folder):
        for name in dirs + files:
            path = os.path.join(parent, name)
            if path.startswith(skip + os.sep):
                continue
            st = os.lstat(path)
            entries[path] = (st.st_ino, st.st_size, st.st_mode, st.st_mtime_ns)
    return entries


def log_text(folder):
    """The text of the one log in `folder`, "" while there is none. The run
    makes its log under a temporary name first, renamed at once."""
    names = [n for n in (os.listdir(folder) if os.path.isdir(folder) else [])
             if not n.startswith(".")]
    if not names:
        return ""
    with open(os.path.join(folder, names[0]), encoding="utf-8") as f:
        return f.read()


def datetime_now():
    import datetime
    return datetime.datetime.now()


if __name__ == "__main__":
    unittest.main()


VIEWER = sandbox.VIEWER


def browser_signal(test, box):
    """Has the viewer's page opened by a stand-in browser (xdg-open on a
    Linux desktop, the program for .html files on Windows) that leaves a
    file behind; returns the file's path and the environment to view with."""
    env = box.env()
    if WINDOWS:
        sandbox.viewer_page(box, test.addCleanup)
        return sandbox.StandInBrowser(box, test.addCleanup).record, env
    signal = os.path.join(box.root, "page-opened")
    bin_dir = os.path.join(box.root, "bin")
    write_script(os.path.join(bin_dir, "xdg-open"), 'touch "%s"\n' % signal)
    env.update({"DISPLAY": ":99", "PATH": bin_dir + ":" + env["PATH"]})
    return signal, env


def shown_read(items):
    """The stored `items` after a viewing: the page shows, and marks read, the
    newest 100 unread ones; the rest stay unread."""
    return [stored(e, "Read") for e in items[:100]] + [stored(e) for e in items[100:]]


class ViewerOverlapTest(unittest.TestCase):
    """The viewer marks a large store read while a run saves new items into
    it. The run's converter waits until the viewer hands its page to the
    browser, that is between the viewer's reading of the stores for the page
    and its marking of them, so the two saves meet every time."""

    maxDiff = None
    ITEMS = 2000

    def overlap_once(self):
        box = FeedSandbox(converter_delay=None)
        self.addCleanup(box.cleanup)
        signal, env = browser_signal(self, box)
        box.install_converter(steps=[wait_for(signal, 30000), convert()])

        old = [item("old-%d" % k, description="x" * 500) for k in range(self.ITEMS)]
        url = box.feed("f.xml", old)
        box.write_feed_template(url)
        open(signal, "w").close()  # the first run's converter need not wait
        box.run()
        os.unlink(signal)
        self.assertEqual(len(box.store_items(1)), 3 + self.ITEMS)

        new = [item("new-1"), item("new-2")]
        box.feed("f.xml", new + old[:1])
        run = start_run(box)
        time.sleep(0.3)  # the run holds the lock and waits in its converter
        viewer = subprocess.run(box.command(VIEWER), env=env, stdin=subprocess.DEVNULL,
                                capture_output=True, timeout=120)
        self.assertEqual(ended(run, 120), (0, ""))
        self.assertEqual((viewer.returncode, viewer.stdout, viewer.stderr), (0, b"", b""))
        self.assertEqual(box.store_items(1),
                         [stored(new[1]), stored(new[0])] + HEADER + shown_read(old))

    def test_viewer_marking_while_a_run_saves_loses_nothing(self):
        for attempt in range(3):
            with self.subTest(attempt=attempt):
                self.overlap_once()


@sandbox.linux_only("the viewer's save is held through LD_PRELOAD")
class ViewerHoldsTheLockTest(unittest.TestCase):
    """A run that starts while the viewer saves its marks into a large store
    waits until the viewer lets go of the lock. The viewer is held at the
    rename that puts its save in place; a run is let go on only once it
    waits for the lock that the viewer holds, or has ended."""

    maxDiff = None

    def test_a_run_started_while_the_viewer_saves_waits_for_it(self):
        box = FeedSandbox()
        self.addCleanup(box.cleanup)
        old = [item("old-%d" % k, description="x" * 500)
               for k in range(ViewerOverlapTest.ITEMS)]
        box.write_feed_template(box.feed("f.xml", old))
        box.run()
        new = [item("new-1"), item("new-2")]
        box.feed("f.xml", new + old[:1])

        hold = os.path.join(box.root, "hold")
        os.mkdir(hold)
        env = box.env()
        env.update({"LD_PRELOAD": os.path.join(sandbox.BUILD_DIR, "tests", "hold_rename.so"),
                    "HOLD_RENAME_NAME": box.store_name(1), "HOLD_RENAME_DIR": hold})
        viewer = subprocess.Popen([VIEWER], env=env, stdin=subprocess.DEVNULL,
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.addCleanup(viewer.kill)
        held = os.path.join(hold, "held")
        until(lambda: os.path.exists(held) or viewer.poll() is not None)
        self.assertTrue(os.path.exists(held), "the viewer saved no store")

        run = start_run(box)
        self.addCleanup(run.kill)
        lock = os.path.join(box.data, "rssnotify.lock")
        until(lambda: run.poll() is not None or
              (has_open(run.pid, lock) and lock_holder(lock) == viewer.pid))
        waited = run.poll() is None
        open(os.path.join(hold, "go"), "w").close()
        _, viewer_errors = viewer.communicate(timeout=60)
        self.assertEqual(ended(run, 120), (0, ""))
        self.assertTrue(waited, "the run went on while the viewer saved")
        self.assertEqual((viewer.returncode, viewer_errors), (0, b""))
        self.assertEqual(box.store_items(1), [stored(new[1]), stored(new[0])] + HEADER +
                         shown_read(old))


def until(done, seconds=60):
    deadline = time.monotonic() + seconds
    while not done() and time.monotonic() < deadline:
        time.sleep(0.01)


def has_open(pid, path):
    """Whether process `pid` has the file `path` open."""
    fds = "/proc/%d/fd" % pid
    try:
        names = os.listdir(fds)
    except OSError:
        return False
    for name in names:
        try:
            if os.readlink(os.path.join(fds, name)) == os.path.realpath(path):
                return True
        except OSError:
            pass
    return False


def lock_holder(path):
    """The process id that holds the flock() lock of the file `path`, or None."""
    st = os.stat(path)
    with open("/proc/locks") as f:
        for line in f:
            fields = line.split()
            if len(fields) < 6 or fields[1] != "FLOCK":  # "->" marks a waiter
                continue
            major, minor, inode = fields[5].split(":")
            if (int(inode), int(major, 16), int(minor, 16)) == (
                    st.st_ino, os.major(st.st_dev), os.minor(st.st_dev)):
                return int(fields[4])
    return None

class ViewerLockHeldTest(unittest.TestCase):
    def test_viewer_shows_the_page_and_leaves_the_statuses(self):
        box = FeedSandbox()
        self.addCleanup(box.cleanup)
        a = item(1)
        box.write_feed_template(box.feed("f.xml", [a]))
        box.run()
        with open(box.store(1), "rb") as f:
            before = f.read()
        page, page_path = sandbox.viewer_page(box, self.addCleanup)
        if WINDOWS:
            browser = sandbox.StandInBrowser(box, self.addCleanup)
            # Held by a run whose converter hangs until the run's time-out
            # ends it: a lock of a Windows program is Wine's, out of the
            # reach of flock().
            box.install_converter(steps=[sleep(100000)])
            log = os.path.join(box.data, "ApplicationLog", "qLUXLog")
            shutil.rmtree(log)  # the first run's
            run = start_run(box)
            for _ in range(1200):
                if "FeedPull.exe" in log_text(log):
                    break
                time.sleep(0.05)
            else:
                self.fail("the run never started its converter")
            started = time.monotonic()
            # Output to files (see Sandbox.run): through a pipe the viewer
            # would look as long as the hung run, whose programs Wine hands
            # its standard error on to.
            viewer = box.run(program=VIEWER, timeout=60)
            waited = time.monotonic() - started
            self.assertIsNone(run.poll(), "the run ended before the viewer gave up")
            self.assertEqual(ended(run, 200), (0, ""))
            # The shell has the page opened.
            self.assertEqual(browser.wait(), "[%s]\n" % page)
            self.assertEqual(viewer.stdout, b"")
        else:
            import fcntl
            # Held as a run holds it: the lock file open, flock() taken.
            with open(os.path.join(box.data, "rssnotify.lock"), "rb") as lock:
                fcntl.flock(lock, fcntl.LOCK_EX)
                started = time.monotonic()
                viewer = subprocess.run([VIEWER], env=box.env(), stdin=subprocess.DEVNULL,
                                        capture_output=True, timeout=60)
                waited = time.monotonic() - started
            # No desktop: the viewer names the page.
            self.assertEqual(viewer.stdout.decode(), page + "\n")
        self.assertEqual(viewer.stderr.decode(),
                         "qVMRSS: a feed update is in progress; the items shown stay marked new "
                         "until the next time" + sandbox.EOL)
        self.assertEqual(viewer.returncode, 1)
        self.assertGreaterEqual(waited, 5)
        # Wine's start of the viewer adds seconds on a busy machine.
        self.assertLess(waited, 60 if WINDOWS else 30)
        with open(page_path, encoding="utf-8") as f:
            self.assertIn(a["title"], f.read())
        with open(box.store(1), "rb") as f:
            self.assertEqual(f.read(), before)
