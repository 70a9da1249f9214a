"""The update-state file and the stores cost nothing when nothing changes.

Every key a run writes is logged, but a write that would leave the file byte
for byte as it is does not replace it: a run that finds nothing new, after
one that found nothing new either, leaves the file and the store untouched
(same file, same time stamp), while one with news rewrites them as before.
"""

import os
import re
import unittest

import sandbox
from sandbox import FeedSandbox


def item(n):
    return {"title": "T%s" % n, "description": "D%s" % n, "link": "http://feed.example/%s" % n,
            "pubdate": "Mon, 0%s Dec 2026 10:00:00 GMT" % n, "author": "A", "guid": "g%s" % n}


def stamp(st):
    # A replacement may get the freed inode number back, but never the time.
    return (st.st_ino, st.st_mtime_ns, st.st_ctime_ns)


class StateWritesTest(unittest.TestCase):
    maxDiff = None

    def test_unchanged_values_leave_the_file_untouched(self):
        box = FeedSandbox()
        self.addCleanup(box.cleanup)
        url = box.feed("f.xml", [item(1)])
        box.write_feed_template(url)
        box.run()  # news: the counters go to 1
        box.run()  # nothing new: the counters go back to 0
        with open(box.state_file, "rb") as f:
            quiet = f.read()
        store = box.store(1)
        with open(store, "rb") as f:
            quiet_store = f.read()
        before, store_before = os.stat(box.state_file), os.stat(store)
        box.run()  # nothing new again: every value is written as it stands
        after = os.stat(box.state_file)
        with open(box.state_file, "rb") as f:
            self.assertEqual(f.read(), quiet)
        self.assertEqual(stamp(after), stamp(before))
        # The store too, saved as it stands, is the same file.
        with open(store, "rb") as f:
            self.assertEqual(f.read(), quiet_store)
        self.assertEqual(stamp(os.stat(store)), stamp(store_before))
        # One that holds the same items in other bytes is still saved anew.
        with open(store, "wb") as f:
            f.write(quiet_store.replace(b"\t", b"  "))
        box.run()
        with open(store, "rb") as f:
            self.assertEqual(f.read(), quiet_store)
        self.assertEqual(quiet.decode("utf-8"), (
            "[RSSLinks]\r\nTemplateID=T\r\nTemplateVersion=1\r\nUrls=%s\r\n"
            "[TotalNewRSS]\r\nNewRSSCount=0\r\n"
            "[Link_1_T_1]\r\nLatestGUID=http://feed.example/1\r\n"
            "LatestPubDate=Mon, 01 Dec 2026 10:00:00 GMT\r\nNewRSSCount=0\r\n" % url))
        # Every write is still logged, in full.
        lines = box.log_lines()
        self.assertEqual([line for line in lines if line.startswith("MSG : Writing [")], [
            box.write_line("RSSLinks", "TemplateID", "T"),
            box.write_line("RSSLinks", "TemplateVersion", "1"),
            box.write_line("RSSLinks", "Urls", url),
            box.write_line("TotalNewRSS", "NewRSSCount", "0"),
            box.write_line("Link_1_T_1", "NewRSSCount", "0"),
            box.write_line("TotalNewRSS", "NewRSSCount", "0")])

        # News: the file is replaced, with the new values.
        box.feed("f.xml", [item(2), item(1)])
        box.run()
        self.assertNotEqual(stamp(os.stat(box.state_file)), stamp(after))
        with open(box.state_file, "rb") as f:
            self.assertIn(b"LatestGUID=http://feed.example/2\r\n", f.read())


    @sandbox.linux_only("what reaches the disk is recorded through LD_PRELOAD")
    def test_the_store_is_on_disk_before_the_state_that_names_its_newest_item(self):
        # A state write that a crash undoes only makes the next run find the
        # same items again, which the store saved before keeps from being
        # added twice: it waits for its bytes, not for its rename.
        box = FeedSandbox()
        self.addCleanup(box.cleanup)
        box.write_feed_template(box.feed("f.xml", [item(1)]))
        record = os.path.join(box.root, "flushes")
        box.run(extra_env={"LD_PRELOAD": os.path.join(sandbox.BUILD_DIR, "tests", "hold_rename.so"),
                           "FLUSH_RECORD": record})
        state, store = os.path.basename(box.state_file), box.store_name(1)
        with open(record) as f:
            events = [re.sub(r" \.(.*)\.tmp-\w+$", r" \1 (new)", line.rstrip("\n")) for line in f
                      if state in line or store in line or line == "fsync RSSLinks/\n"]
        write = ["fsync %s (new)" % state, "rename " + state]
        self.assertEqual(events, write * 4 + ["fsync %s (new)" % store, "rename " + store,
                                              "fsync RSSLinks/"] + write * 4)



if __name__ == "__main__":
    unittest.main()
