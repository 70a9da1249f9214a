"""Store documents the built program writes can always be read back.

A converter's output may hold characters that XML does not allow, and a store
on disk may be nested absurdly deep; neither may leave a store that a later
run cannot load, nor cost more than the store's size to save.
"""

import os
import unittest

from sandbox import FeedTestCase

ENDED = "MSG : Application Ended"
NO_POPUP = "ERR : CallPopup, 429:ActiveX component can't create object"


def converted(items):
    parts = ['<?xml version="1.0" encoding="UTF-8"?>', "<rootrss>",
             "<maintitle>Feed\x1etitle</maintitle>", "<mainlink>http://feed.example/</mainlink>",
             "<maindescription>About</maindescription>"]
    for n, title in items:
        parts.append("<item><title>%s</title><description>Text %s</description>"
                     "<link>http://feed.example/%s</link><pubdate>Mon, 0%s Dec 2026</pubdate>"
                     "<author>A</author><guid>g%s</guid></item>" % (title, n, n, n, n))
    parts.append("</rootrss>")
    return "\n".join(parts)


def store_item(n, title):
    return ("\t<item>\n\t\t<title>%s</title>\n\t\t<description>Text %s</description>\n"
            "\t\t<link>http://feed.example/%s</link>\n\t\t<pubDate>Mon, 0%s Dec 2026</pubDate>\n"
            "\t\t<author>A</author>\n\t\t<GUID>g%s</GUID>\n\t\t<Status>Unread</Status>\n"
            "\t</item>\n" % (title, n, n, n, n))


class StoreDocumentsTest(FeedTestCase):
    def run_lines(self, box):
        box.run()
        return self.lines_after_template(box)

    def read_store(self, box):
        with open(box.store(1), "rb") as f:
            return f.read().decode("utf-8")

    def test_control_characters_of_the_converter_never_poison_the_store(self):
        # A raw record separator (0x1E) and a unit separator (0x1F) in the
        # converter's output: written as "&#30;" they would make the store
        # unreadable for every later run. They are stored as U+FFFD.
        box = self.sandbox()
        url = box.feed("f.xml", [], raw=converted([(1, "One\x1eand\x1ftwo")]))
        box.write_feed_template(url)
        box.run()
        header = ('<?xml version="1.0" encoding="UTF-8"?>\n<rootrss>\n'
                  "\t<maintitle>Feed\ufffdtitle</maintitle>\n"
                  "\t<mainlink>http://feed.example/</mainlink>\n"
                  "\t<maindescription>About</maindescription>\n")
        self.assertEqual(self.read_store(box),
                         header + store_item(1, "One\ufffdand\ufffdtwo") + "</rootrss>\n")

        # The next run loads the store and adds the new item at the top.
        box.feed("f.xml", [], raw=converted([(2, "Two\x1e"), (1, "One\x1eand\x1ftwo")]))
        lines = self.run_lines(box)
        link1, date1 = "http://feed.example/1", "Mon, 01 Dec 2026"
        link2, date2 = "http://feed.example/2", "Mon, 02 Dec 2026"
        self.assertEqual(
            lines,
            box.driver_start_lines(url, "1") + box.converter_lines(1, url) + box.parsed_lines() +
            box.store_lines(1, created=False, last=(link1, date1, "1")) +
            box.saved_lines(1, 1, link2, date2) + box.driver_end_lines(1) + [NO_POPUP])
        self.assertEqual(
            self.read_store(box),
            '<?xml version="1.0" encoding="UTF-8"?>\n<rootrss>\n' + store_item(2, "Two\ufffd") +
            header[len('<?xml version="1.0" encoding="UTF-8"?>\n<rootrss>\n'):] +
            store_item(1, "One\ufffdand\ufffdtwo") + "</rootrss>\n")

    def test_a_store_nested_too_deep_is_refused_and_left_as_it_was(self):
        # 20,000 levels in 140 KB: indenting it on a save once took 400 MB.
        # Nothing a feed gives nests that deep; the store is refused.
        box = self.sandbox()
        url = box.feed("f.xml", [], raw=converted([(1, "One")]))
        box.write_feed_template(url)
        os.makedirs(box.rsslinks, exist_ok=True)
        deep = (b'<?xml version="1.0"?><rootrss>' + b"<item>" * 20000 + b"</item>" * 20000 +
                b"</rootrss>")
        with open(box.store(1), "wb") as f:
            f.write(deep)
        lines = self.run_lines(box)
        self.assertEqual(
            lines,
            box.driver_start_lines(url) + box.converter_lines(1, url) + box.parsed_lines() +
            ["MSG : fncParseRSSSite :  Loading the XML file " + box.store_path(1),
             "ERR :  fncParseRSSSite : Failed to load " + box.store_path(1)] +
            box.driver_end_lines(0) + [ENDED])
        with open(box.store(1), "rb") as f:
            self.assertEqual(f.read(), deep)
        self.assertEqual(sorted(os.listdir(box.rsslinks)),
                         sorted(["Temp_RSS.xml", box.store_name(1),
                                 os.path.basename(box.state_file)]))


if __name__ == "__main__":
    unittest.main()
