"""The feed update of the built program, with a scripted converter.

The converter stand-in takes the feed "URL" as the name of a file holding the
converted document and puts that file where the program looks for it.
"""

import configparser
import os
import unittest

import sandbox
from sandbox import FeedTestCase, STARS, append, sleep


def item(n, **fields):
    base = {"title": "Title %s" % n, "description": "Text %s" % n,
            "link": "http://feed.example/%s" % n, "pubdate": "Mon, 0%s Dec 2026 10:00:00 GMT" % n,
            "author": "Author %s" % n, "guid": "guid-%s" % n}
    base.update(fields)
    return base


def stored(entry, status="Unread"):
    return ("item", [("title", entry["title"]), ("description", entry["description"]),
                     ("link", entry["link"]), ("pubDate", entry["pubdate"]),
                     ("author", entry["author"]), ("GUID", entry["guid"]), ("Status", status)])


SENTENCE = ("You have total new RSS feeds from your service provider for your reference. "
            "Click for view all messages.")
NO_POPUP = "ERR : CallPopup, 429:ActiveX component can't create object"
ENDED = "MSG : Application Ended"

HEADER = [("maintitle", "Feed title"), ("mainlink", "http://feed.example/"),
          ("maindescription", "Feed description")]


class FeedUpdateTest(FeedTestCase):
    def run_lines(self, box):
        """Runs the program; returns the lines after start-up and template."""
        box.run()
        return self.lines_after_template(box)

    def test_first_and_unchanged_second_run_of_a_feed(self):
        box = self.sandbox()
        a, b, c = item(1), item(2), item(3)
        url = box.feed("one.xml", [a, b, c])
        box.write_feed_template(url)
        box.run()
        lines = box.log_lines()
        self.assertEqual(
            lines,
            box.startup_lines() + box.template_lines(url) + box.driver_start_lines(url) +
            box.converter_lines(1, url) + box.parsed_lines() + box.store_lines(1, created=True) +
            box.saved_lines(1, 3, a["link"], a["pubdate"]) + box.driver_end_lines(3) +
            [NO_POPUP])
        self.assertEqual(box.store_items(1), HEADER + [stored(a), stored(b), stored(c)])
        self.assertEqual(box.state_text(), (
            "[RSSLinks]\r\nTemplateID=T\r\nTemplateVersion=1\r\nUrls=%s\r\n"
            "[TotalNewRSS]\r\nNewRSSCount=3\r\n"
            "[Link_1_T_1]\r\nLatestGUID=%s\r\nLatestPubDate=%s\r\nNewRSSCount=3\r\n"
            % (url, a["link"], a["pubdate"])))
        # The copy for the reader is gone; the converter's output stays.
        self.assertEqual(sorted(os.listdir(box.rsslinks)),
                         sorted(["Temp_RSS.xml", box.store_name(1), os.path.basename(box.state_file)]))

        with open(box.store(1), "rb") as f:
            first_store = f.read()
        lines = self.run_lines(box)
        self.assertEqual(
            lines,
            box.driver_start_lines(url, "3") + box.converter_lines(1, url) + box.parsed_lines() +
            box.store_lines(1, created=False, last=(a["link"], a["pubdate"], "3")) +
            box.saved_lines(1, 0) + box.driver_end_lines(0) + [ENDED])
        with open(box.store(1), "rb") as f:
            self.assertEqual(f.read(), first_store)
        self.assertEqual(box.state_text(), (
            "[RSSLinks]\r\nTemplateID=T\r\nTemplateVersion=1\r\nUrls=%s\r\n"
            "[TotalNewRSS]\r\nNewRSSCount=0\r\n"
            "[Link_1_T_1]\r\nLatestGUID=%s\r\nLatestPubDate=%s\r\nNewRSSCount=0\r\n"
            % (url, a["link"], a["pubdate"])))

    def test_new_items_go_to_the_top_in_reverse_order(self):
        box = self.sandbox()
        p, q, r = item(7), item(8), item(3)
        url = box.feed("f.xml", [r])
        box.write_feed_template(url)
        box.run()
        box.feed("f.xml", [p, q, r])
        lines = self.run_lines(box)
        self.assertEqual(box.store_items(1), [stored(q), stored(p)] + HEADER + [stored(r)])
        self.assertEqual(lines[-7:], box.saved_lines(1, 2, p["link"], p["pubdate"]) +
                         box.driver_end_lines(2) + [NO_POPUP])

    def test_stop_test_needs_link_and_date_and_ignores_case_and_blanks(self):
        box = self.sandbox()
        known = item(1)
        url = box.feed("f.xml", [known])
        box.write_feed_template(url)
        box.run()
        # Same item written differently: still the known one.
        same = dict(known, link="  " + known["link"].upper() + " ",
                    pubdate=known["pubdate"].lower())
        box.feed("f.xml", [same])
        lines = self.run_lines(box)
        self.assertEqual(lines[-5:], box.saved_lines(1, 0) + box.driver_end_lines(0) + [ENDED])
        self.assertEqual(box.store_items(1), HEADER + [stored(known)])
        # Same link, another date: new, stored again, and the walk goes on.
        again = dict(known, pubdate="Tue, 08 Dec 2026 10:00:00 GMT")
        box.feed("f.xml", [again, known])
        self.run_lines(box)
        self.assertEqual(box.store_items(1), [stored(again)] + HEADER + [stored(known)])

    def test_blank_link_keeps_the_remembered_link(self):
        box = self.sandbox()
        first = item(1)
        url = box.feed("f.xml", [first])
        box.write_feed_template(url)
        box.run()
        newer = item(2, link=" ")
        box.feed("f.xml", [newer, first])
        lines = self.run_lines(box)
        self.assertEqual(lines[-6:], box.saved_lines(1, 1, "", newer["pubdate"]) +
                         box.driver_end_lines(1) + [NO_POPUP])
        state = box.state_text()
        self.assertIn("LatestGUID=%s\r\nLatestPubDate=%s\r\nNewRSSCount=1\r\n"
                      % (first["link"], newer["pubdate"]), state)

    def test_items_without_link_and_date_are_never_new(self):
        box = self.sandbox()
        url = box.feed("f.xml", [item(1, link="", pubdate=""), item(2)])
        box.write_feed_template(url)
        lines = self.run_lines(box)
        self.assertEqual(box.store_items(1), HEADER)
        self.assertEqual(lines[-5:], box.saved_lines(1, 0) + box.driver_end_lines(0) + [ENDED])

    def test_store_that_does_not_load_is_left_alone(self):
        box = self.sandbox()
        url = box.feed("f.xml", [item(1)])
        box.write_feed_template(url)
        os.makedirs(box.rsslinks, exist_ok=True)
        with open(box.store(1), "wb") as f:
            f.write(b"<rootrss><item>")
        lines = self.run_lines(box)
        self.assertEqual(
            lines,
            box.driver_start_lines(url) + box.converter_lines(1, url) + box.parsed_lines() +
            ["MSG : fncParseRSSSite :  Loading the XML file " + box.store_path(1),
             "ERR :  fncParseRSSSite : Failed to load " + box.store_path(1)] +
            box.driver_end_lines(0) + [ENDED])
        with open(box.store(1), "rb") as f:
            self.assertEqual(f.read(), b"<rootrss><item>")
        self.assertNotIn("Link_1", box.state_text())

    def test_missing_converter_gives_two_lines_per_feed(self):
        box = self.sandbox(converter_delay=None)
        sites = "http://a.example/rss@#@@#@http://b.example/rss"
        box.write_feed_template(sites)
        lines = self.run_lines(box)
        missing = "MSG : fncParseRSSSite :  " + box.install_path + "qLUX\\FeedPull.exe does not exists."
        feeds = []
        for n, url in ((1, "http://a.example/rss"), (2, ""), (3, "http://b.example/rss")):
            feeds += ["MSG : fncParseRSSSite : -------------> Checking updates for [%s] --> %s"
                      % (n, url), missing]
        self.assertEqual(lines, box.driver_start_lines(sites) + feeds + box.driver_end_lines(0) +
                         ["MSG : Application Ended"])
        self.assertEqual(box.state_text(), (
            "[RSSLinks]\r\nTemplateID=T\r\nTemplateVersion=1\r\nUrls=%s\r\n"
            "[TotalNewRSS]\r\nNewRSSCount=0\r\n" % sites))

    def test_empty_url_still_runs_the_converter(self):
        box = self.sandbox()
        record = os.path.join(box.root, "args")
        box.install_converter(steps=[sleep(200), append(record, "%#:%1\n")])
        url = box.feed("f.xml", [item(1)])
        sites = "@#@" + url
        box.write_feed_template(sites)
        lines = self.run_lines(box)
        self.assertEqual(lines[7:14], box.converter_lines(1, "") + [
            "MSG : fncParseRSSSite :  Failed to find " + box.data_path +
            "qLUX\\Dovel\\RSSLinks\\TempRSS.xml" + "for URL :: "])
        with open(record) as f:
            self.assertEqual(f.read(), "0:\n1:%s\n" % url)

    def test_stale_or_blank_output_never_counts_for_another_feed(self):
        box = self.sandbox()
        a = item(1)
        first = box.feed("first.xml", [a])
        blank = box.feed("blank.xml", [], raw="    ")
        sites = first + "@#@/no/such/feed@#@" + blank
        box.write_feed_template(sites)
        lines = self.run_lines(box)
        failed = ("MSG : fncParseRSSSite :  Failed to find " + box.data_path +
                  "qLUX\\Dovel\\RSSLinks\\TempRSS.xml" + "for URL :: /no/such/feed")
        feed2 = box.converter_lines(2, "/no/such/feed") + [failed]
        start = lines.index(feed2[0])
        self.assertEqual(lines[start:start + len(feed2)], feed2)
        feed3 = box.converter_lines(3, blank) + box.store_lines(3, created=True)
        self.assertEqual(lines[start + len(feed2):], feed3 + box.driver_end_lines(1) + [NO_POPUP])
        self.assertFalse(os.path.exists(box.store(2)))
        self.assertFalse(os.path.exists(box.store(3)))
        self.assertEqual(box.store_items(1), HEADER + [stored(a)])

    def test_a_store_changed_while_the_converter_runs_is_updated_as_it_then_stands(self):
        box = self.sandbox()
        a, b = item(1), item(2)
        url = box.feed("f.xml", [a])
        box.write_feed_template(url)
        box.run()
        with open(box.store(1), encoding="utf-8") as f:
            before = f.read()
        # Another program adds to the store while the next run's converter runs.
        note = "<!--added while the converter ran-->"
        box.install_converter(steps=[sleep(200), append(box.store(1), note), sandbox.convert()])
        box.feed("f.xml", [b, a])
        self.run_lines(box)
        new = "".join("\t\t<%s>%s</%s>\n" % (k, v, k) for k, v in stored(b)[1])
        with open(box.store(1), encoding="utf-8") as f:
            after = f.read()
        self.assertEqual(after, before.replace(
            "<rootrss>\n", "<rootrss>\n\t<item>\n" + new + "\t</item>\n", 1) + note + "\n")
        # With nothing new, what was found out about the store as it was read
        # does not hold for it either.
        self.run_lines(box)
        with open(box.store(1), encoding="utf-8") as f:
            self.assertEqual(f.read(), after + note + "\n")

    def test_items_already_stored_are_not_announced_again(self):
        box = self.sandbox()
        a, b = item(1), item(2)
        url = box.feed("f.xml", [b, a])
        box.write_feed_template(url)
        box.run()
        # The remembered newest item (b) has left the feed; a is still there.
        c = item(3)
        box.feed("f.xml", [c, a])
        lines = self.run_lines(box)
        self.assertEqual(box.store_items(1), [stored(c)] + HEADER + [stored(b), stored(a)])
        self.assertEqual(lines[-7:], box.saved_lines(1, 1, c["link"], c["pubdate"]) +
                         box.driver_end_lines(1) + [NO_POPUP])
        # Item 0 already stored: not counted, but remembered as the newest.
        box.feed("f.xml", [b, a])
        self.run_lines(box)
        self.assertIn("LatestGUID=%s\r\nLatestPubDate=%s\r\nNewRSSCount=0\r\n"
                      % (b["link"], b["pubdate"]), box.state_text())
        self.assertEqual(len(box.store_items(1)), 6)
        # A stored item is known by its link and date whatever their case and
        # surrounding blanks, as the remembered newest one is.
        d = item(4)
        c_again = dict(c, link="  " + c["link"].upper() + " ", pubdate=c["pubdate"].lower())
        box.feed("f.xml", [d, c_again])
        lines = self.run_lines(box)
        self.assertEqual(box.store_items(1),
                         [stored(d), stored(c)] + HEADER + [stored(b), stored(a)])
        self.assertEqual(lines[-7:], box.saved_lines(1, 1, d["link"], d["pubdate"]) +
                         box.driver_end_lines(1) + [NO_POPUP])

    def test_a_large_store_knows_its_items_as_a_small_one_does(self):
        # A store of more than a thousand items is looked through while its
        # text is made for the save.
        box = self.sandbox()
        url = box.feed("f.xml", [item(1)])
        box.write_feed_template(url)
        box.run()
        kept = [item("s%d" % k) for k in range(1200)]
        with open(box.store(1), "w", encoding="utf-8") as f:
            f.write("<?xml version=\"1.0\"?>\n<rootrss>" + "".join(
                "<%s>%s</%s>" % (name, text, name) for name, text in HEADER) + "".join(
                "<item>" + "".join("<%s>%s</%s>" % (k, v, k) for k, v in stored(x, "Read")[1]) +
                "</item>" for x in kept) + "</rootrss>\n")
        new = item(2)
        known = dict(kept[600], link=" " + kept[600]["link"].upper(),
                     pubdate=kept[600]["pubdate"].lower())
        box.feed("f.xml", [new, known])
        lines = self.run_lines(box)
        self.assertEqual(box.store_items(1),
                         [stored(new)] + HEADER + [stored(x, "Read") for x in kept])
        self.assertEqual(lines[-7:], box.saved_lines(1, 1, new["link"], new["pubdate"]) +
                         box.driver_end_lines(1) + [NO_POPUP])
        # Every item offered stored already: nothing new, the store as it was.
        with open(box.store(1), "rb") as f:
            before = f.read()
        box.feed("f.xml", [kept[700], known])
        self.run_lines(box)
        self.assertIn("LatestGUID=%s\r\nLatestPubDate=%s\r\nNewRSSCount=0\r\n"
                      % (kept[700]["link"], kept[700]["pubdate"]), box.state_text())
        with open(box.store(1), "rb") as f:
            self.assertEqual(f.read(), before)

    def test_unsafe_template_identity_stays_in_the_feed_folder(self):
        box = self.sandbox(template_id="..\\..\\evil", template_ver="1/x")
        url = box.feed("f.xml", [item(1)])
        box.write_feed_template(url)
        lines = self.run_lines(box)
        safe = "Link_1_______evil_1_x.xml"
        path = box.data_path + "qLUX\\Dovel\\RSSLinks\\" + safe
        self.assertIn("MSG : fncParseRSSSite :  Store file name made safe : " + path, lines)
        self.assertIn("MSG :  fncParseRSSSite : Creating the XML file " + path, lines)
        self.assertTrue(os.path.isfile(os.path.join(box.rsslinks, safe)))
        self.assertIn("[Link_1_______evil_1_x]\r\n", box.state_text())
        self.assertEqual(sorted(os.listdir(box.root)), sorted(["agent", "feeds", "registry.reg"]))

    def test_a_store_that_cannot_be_saved_announces_nothing(self):
        box = self.sandbox()
        url = box.feed("f.xml", [item(1)])
        box.write_feed_template(url)
        os.makedirs(box.store(1))  # a folder where the store should go
        lines = self.run_lines(box)
        # Windows refuses to put a file in place of a folder with "access
        # denied" (70 for the program), Linux with EISDIR (75).
        failure = ("70::Permission denied" if sandbox.WINDOWS else "75::Path/File access error")
        self.assertEqual(lines[-6:], [
            "MSG :  fncParseRSSSite : Last Unread RSS Count :: ",
            "MSG :  fncParseRSSSite : Saving the XML",
            "ERR : in fncParseRSSSite. Err : " + failure] +
            box.driver_end_lines(0) + [ENDED])
        self.assertNotIn("Link_1", box.state_text())

    def test_new_template_version_starts_a_new_store_and_section(self):
        box = self.sandbox()
        a = item(1)
        url = box.feed("f.xml", [a])
        box.write_feed_template(url)
        box.run()
        old_store = box.store(1)
        box.template_ver = "2"
        box.write_feed_template(url)
        lines = self.run_lines(box)
        self.assertIn("MSG :  fncParseRSSSite : Creating the XML file " + box.store_path(1), lines)
        self.assertTrue(os.path.isfile(old_store))
        self.assertEqual(box.store_items(1), HEADER + [stored(a)])
        state = box.state_text()
        self.assertIn("[Link_1_T_1]\r\n", state)
        self.assertIn("[Link_1_T_2]\r\nLatestGUID=", state)


class DriverTest(FeedTestCase):

    def test_previous_total_is_written_back_before_the_count_restarts(self):
        box = self.sandbox()
        url = box.feed("f.xml", [])
        box.write_feed_template(url)
        os.makedirs(box.rsslinks)
        with open(box.state_file, "wb") as f:
            f.write(b"[TotalNewRSS]\r\nNewRSSCount=12\r\n")
        box.run()
        self.assertEqual(self.lines_after_template(box)[:7], box.driver_start_lines(url, "12"))

    def counted(self, total, message):
        box = self.sandbox()
        box.register_popup("BSTR:AUTOCLOSE")
        items = [item(n) for n in range(1, total + 1)]
        url = box.feed("f.xml", items)
        box.write_feed_template(url, message)
        box.run()
        return box

    def test_default_sentence_asks_for_a_counted_body(self):
        sentence = SENTENCE
        for total, message, body in (
                (1, sentence, "You have total 1 new RSS feed from"),
                (3, "  " + sentence.lower() + " ", "You have total 3 new RSS feeds from"),
                (2, "Hello", None)):
            with self.subTest(total=total, message=message):
                box = self.counted(total, message)
                expected = (body + " your service provider for your reference. Click for view "
                            "all messages.") if body else message
                self.assertEqual(box.popup_requests(), [
                    "PUT Icon I4 7", "PUT Header BSTR New RSS Feed", "PUT Body BSTR " + expected,
                    "PUT DisplayTimeSeconds I4 10", "PUT PopupHeight I4 1300",
                    "PUT PopupWidth I4 6000", "PUT TransparencyLevel I2 100",
                    "PUT ModalForm I4 1", "CALL Popup", "GET ClosedBy"])
                self.assertEqual(box.log_lines()[-2:], ["MSG : Popup timeout.",
                                                        "MSG : Application Ended"])

    def test_the_total_counts_the_new_items_of_every_feed(self):
        box = self.sandbox()
        box.register_popup("BSTR:AUTOCLOSE")
        feeds = {1: [item(1), item(2)], 2: [item(3)], 3: [item(4), item(5), item(6)]}
        urls = [box.feed("f%d.xml" % n, feeds[n]) for n in (1, 2, 3)]
        box.write_feed_template("@#@".join(urls), SENTENCE)
        # The first run finds everything; the second one item of the first
        # feed, and nothing in the last.
        for run, new, counts, body in ((1, None, ("2", "1", "3"), "6 new RSS feeds"),
                                       (2, item(7), ("1", "0", "0"), "1 new RSS feed")):
            if new:
                box.feed("f1.xml", [new] + feeds[1])
            box.run()
            total = str(sum(map(int, counts)))
            self.assertEqual(box.log_lines()[-4:-2], box.driver_end_lines(total))
            # One popup each run, ten requests each (see above).
            requests = box.popup_requests()
            self.assertEqual((len(requests), requests[-8]), (
                10 * run, "PUT Body BSTR You have total %s from your service provider for your "
                "reference. Click for view all messages." % body))
            state = configparser.ConfigParser(interpolation=None)
            state.read_string(box.state_text())
            self.assertEqual([state["TotalNewRSS"]["NewRSSCount"]] +
                             [state["Link_%d_T_1" % n]["NewRSSCount"] for n in (1, 2, 3)],
                             [total] + list(counts))

    def test_blank_popup_text_suppresses_the_popup(self):
        box = self.counted(2, "   ")
        self.assertFalse(os.path.exists(box.popup_record))
        self.assertEqual(box.log_lines()[-3:], [
            "MSG : Total New RSS after updates :: 2",
            "MSg : Popup will not be shown, as popup msg is not selected.",
            "MSG : Application Ended"])


if __name__ == "__main__":
    unittest.main()
