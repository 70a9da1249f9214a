"""The whole update over real-world feeds: the built converter fetches each
feed of the reference corpus through a file URL, and the program stores them.
Skipped when the corpus is not beside the project."""

import csv
import os
import shutil
import unittest
import xml.etree.ElementTree as ET
from urllib.parse import urljoin

import sandbox
from sandbox import BUILD_DIR, SHARED_DIR, FeedSandbox

# The Windows build writes the companions where the installation has them.
CONVERTER = (os.path.join(BUILD_DIR, "qLUX", "FeedPull.exe") if sandbox.WINDOWS else
             os.path.join(BUILD_DIR, "companions", "feedpull", "FeedPull.exe"))
CORPUS = os.path.join(SHARED_DIR, "feeds")
# How many items each feed adds to a new store, where that is not the
# manifest's count: the converter leaves out the empty items nested inside
# real ones, and a feed whose first item has neither link nor date matches the
# empty remembered state of a first run, so nothing of it is ever new.
NEW_ITEMS = {"nfp_illegally-nested.xml": 10, "rustrss_rss092.xml": 0}
# First links that the converter gives differently: an Atom id that is no
# web address does not stand in for a missing link.
FIRST_LINK = {"feedrs_atom_example_7.xml": ""}


def file_url(path):
    """A file URL of a native path, as the program's converter takes it: on
    Windows with the drive letter (Z:, Wine's drive for the whole file
    system)."""
    if sandbox.WINDOWS:
        return "file:///" + sandbox.windows_path(path).replace("\\", "/")
    return "file://" + path


def manifest():
    with open(os.path.join(CORPUS, "MANIFEST.tsv"), encoding="utf-8", newline="") as f:
        return [row for row in csv.DictReader(f, delimiter="\t") if row["format"] != "malformed"]


@unittest.skipUnless(os.path.isfile(os.path.join(CORPUS, "MANIFEST.tsv")),
                     "the reference feed corpus (shared/feeds) is not beside the project")
class RealFeedsTest(unittest.TestCase):
    maxDiff = None

    def test_every_corpus_feed_is_stored_once(self):
        rows = manifest()
        box = FeedSandbox(converter_delay=None)
        self.addCleanup(box.cleanup)
        shutil.copy(CONVERTER, box.converter)
        urls = [file_url(os.path.join(CORPUS, row["file"])) for row in rows]
        box.write_feed_template("@#@".join(urls))
        box.run(timeout=600)
        state = box.state_text()

        total = 0
        for n, row in enumerate(rows, start=1):
            with self.subTest(row["file"]):
                if row["item_count"] == "0":
                    # A feed without items leaves neither store nor state.
                    self.assertFalse(os.path.exists(box.store(n)))
                    self.assertNotIn("[Link_%d_T_1]" % n, state)
                    continue
                root = ET.parse(box.store(n)).getroot()
                items = root.findall("item")
                expected = NEW_ITEMS.get(row["file"], int(row["item_count"]))
                self.assertEqual(len(items), expected)
                self.assertEqual([c.tag for c in root][:3], ["maintitle", "mainlink",
                                                             "maindescription"])
                self.assertEqual({i.findtext("Status") for i in items}, {"Unread"} if items else set())
                section = state.split("[Link_%d_T_1]\r\n" % n, 1)[1].split("[", 1)[0]
                self.assertTrue(section.endswith("NewRSSCount=%d\r\n" % expected), section)
                if items:
                    manifest_link = row["first_item_link"]
                    link = FIRST_LINK.get(row["file"], manifest_link and urljoin(urls[n - 1],
                                                                                 manifest_link))
                    self.assertIn(link, [i.findtext("link") for i in items])
                total += expected
        self.assertIn("[TotalNewRSS]\r\nNewRSSCount=%d\r\n" % total, state)

        # Nothing is new the second time.
        box.run(timeout=600)
        lines = box.log_lines()
        self.assertIn("MSG : Total New RSS after updates :: 0", lines)
        self.assertEqual(lines[-1], "MSG : Application Ended")
        for n, row in enumerate(rows, start=1):
            if row["item_count"] != "0":
                root = ET.parse(box.store(n)).getroot()
                expected = NEW_ITEMS.get(row["file"], int(row["item_count"]))
                self.assertEqual(len(root.findall("item")), expected, row["file"])


if __name__ == "__main__":
    unittest.main()
