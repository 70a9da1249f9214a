"""Hostile feeds, hung companions and damaged state, through the built programs.

Each test plays what an attacker with a feed of their own, a broken popup
component or a damaged disk would do, and checks what a user then finds: the
whole log, the update-state file's bytes and the stores.
"""

import os
import resource
import shutil
import signal
import socket
import subprocess
import time
import unittest

import sandbox
from sandbox import (BUILD_DIR, FeedTestCase, convert, exit_with, hang, linux_only,
                     output_of_size, process_gone_within, sleep, spawn, stderr)
from test_feed_update import ENDED, HEADER, NO_POPUP, item, stored
from viewer_page import parse_page

VIEWER = sandbox.VIEWER

# The bounds the program documents for what it reads.
CONVERTED_BOUND = 32 << 20
STORE_BOUND = 128 << 20

TIMED_OUT = ("ERR : CallPopup, -2147023436:This operation returned because the timeout "
             "period expired.")
WRITE_FAILED = "ERR : Failed to write to the INI"


def converted(items, title="Feed title"):
    """A converted document whose item fields are given as XML text."""
    parts = ['<?xml version="1.0" encoding="UTF-8"?>', "<rootrss>",
             "<maintitle>%s</maintitle>" % title,
             "<mainlink>http://feed.example/</mainlink>",
             "<maindescription>Feed description</maindescription>"]
    for fields in items:
        parts.append("<item>" + "".join("<%s>%s</%s>" % (k, v, k) for k, v in fields) +
                     "</item>")
    parts.append("</rootrss>")
    return "\n".join(parts)


class HostileTest(FeedTestCase):

    def assert_single_lines(self, box):
        """Every CR and LF of the log belongs to a line end."""
        raw = box.log_bytes()
        self.assertEqual(raw.count(b"\n"), raw.count(b"\r\n"))
        self.assertEqual(raw.count(b"\r"), raw.count(b"\r\n"))

    def read(self, path):
        with open(path, "rb") as f:
            return f.read()

    # --- single-line fields --------------------------------------------
    def test_line_breaks_in_a_feed_plant_nothing_in_the_state_file_or_the_log(self):
        box = self.sandbox()
        forged_date = ("Mon, 01 Dec 2026&#13;&#10;[Link_2_T_1]&#13;&#10;"
                       "LatestGUID=http://feed.example/b1&#10;LatestPubDate=x")
        forged_link = "http://feed.example/a1&#13;MSG : Application Ended"
        first = box.feed("one.xml", None, raw=converted([
            [("title", "A1"), ("link", forged_link), ("pubdate", forged_date)]]))
        b1, b2 = item("b1"), item("b2")
        second = box.feed("two.xml", [b1, b2])
        sites = first + "@#@" + second
        # The template's text, too, may hold what looks like a line of the log.
        box.write_template(
            "<vsrgetdoveltemplate><templateid>T</templateid><templatever>1</templatever>"
            "<rss>1</rss><rsssites>%s</rsssites><rssupd>5</rssupd>"
            "<qvmrssmsg>You have news&#13;&#10;12/07/2026 08:00:00\tMSG : Application Ended"
            "</qvmrssmsg></vsrgetdoveltemplate>" % sites)
        message = "You have news  12/07/2026 08:00:00\tMSG : Application Ended"
        box.run()
        self.assert_single_lines(box)
        link = "http://feed.example/a1 MSG : Application Ended"
        date = ("Mon, 01 Dec 2026  [Link_2_T_1]  LatestGUID=http://feed.example/b1 "
                "LatestPubDate=x")
        self.assertEqual(
            box.log_lines(),
            box.startup_lines() + box.template_lines(sites, message) +
            box.driver_start_lines(sites) +
            box.converter_lines(1, first) + box.parsed_lines() + box.store_lines(1, True) +
            box.saved_lines(1, 1, link, date) +
            box.converter_lines(2, second) + box.parsed_lines() + box.store_lines(2, True) +
            box.saved_lines(2, 2, b1["link"], b1["pubdate"]) + box.driver_end_lines(3) +
            [NO_POPUP])
        state = ("[RSSLinks]\r\nTemplateID=T\r\nTemplateVersion=1\r\nUrls=%s\r\n"
                 "[TotalNewRSS]\r\nNewRSSCount=3\r\n"
                 "[Link_1_T_1]\r\nLatestGUID=%s\r\nLatestPubDate=%s\r\nNewRSSCount=1\r\n"
                 "[Link_2_T_1]\r\nLatestGUID=%s\r\nLatestPubDate=%s\r\nNewRSSCount=2\r\n"
                 % (sites, link, date, b1["link"], b1["pubdate"]))
        self.assertEqual(box.state_text(), state)
        self.assertEqual(box.store_items(2), HEADER + [stored(b1), stored(b2)])

        # The next run knows both feeds' newest items at once: the folded
        # date in the state file still names the item.
        box.run()
        self.assert_single_lines(box)
        self.assertEqual(
            self.lines_after_template(box)[7:],
            box.converter_lines(1, first) + box.parsed_lines() +
            box.store_lines(1, False, (link, date, "1")) + box.saved_lines(1, 0) +
            box.converter_lines(2, second) + box.parsed_lines() +
            box.store_lines(2, False, (b1["link"], b1["pubdate"], "2")) + box.saved_lines(2, 0) +
            box.driver_end_lines(0) + [ENDED])
        self.assertEqual(box.state_text(), state.replace("NewRSSCount=3", "NewRSSCount=0")
                         .replace("NewRSSCount=1", "NewRSSCount=0")
                         .replace("NewRSSCount=2", "NewRSSCount=0"))

    # --- damaged state -------------------------------------------------
    def test_a_stored_total_that_is_no_count_counts_as_0_and_is_rewritten(self):
        for bad in ("9e999", "1e308", "-3", "1.5", "12abc", "2147483648", "99999999999999999999"):
            with self.subTest(value=bad):
                box = self.sandbox()
                a = item(1)
                url = box.feed("f.xml", [a])
                box.write_feed_template(url)
                os.makedirs(box.rsslinks)
                with open(box.state_file, "wb") as f:
                    f.write(b"[TotalNewRSS]\r\nNewRSSCount=" + bad.encode() + b"\r\n")
                box.run()
                lines = self.lines_after_template(box)
                start = box.driver_start_lines(url, "0")
                start.insert(4, "ERR : in fncPopulateRSSLinks. Stored NewRSSCount is not a "
                                "count, taken as 0 : " + bad)
                self.assertEqual(
                    lines,
                    start + box.converter_lines(1, url) + box.parsed_lines() +
                    box.store_lines(1, True) + box.saved_lines(1, 1, a["link"], a["pubdate"]) +
                    box.driver_end_lines(1) + [NO_POPUP])
                self.assertEqual(box.state_text(), (
                    "[TotalNewRSS]\r\nNewRSSCount=1\r\n"
                    "[RSSLinks]\r\nTemplateID=T\r\nTemplateVersion=1\r\nUrls=%s\r\n"
                    "[Link_1_T_1]\r\nLatestGUID=%s\r\nLatestPubDate=%s\r\nNewRSSCount=1\r\n"
                    % (url, a["link"], a["pubdate"])))
        # The biggest count is a count.
        box = self.sandbox()
        url = box.feed("f.xml", [])
        box.write_feed_template(url)
        os.makedirs(box.rsslinks)
        with open(box.state_file, "wb") as f:
            f.write(b"[TotalNewRSS]\r\nNewRSSCount=2147483647\r\n")
        box.run()
        self.assertEqual(self.lines_after_template(box)[:7],
                         box.driver_start_lines(url, "2147483647"))

    def test_a_rewrite_keeps_the_state_file_code_page_text(self):
        # A blank and the bytes FF FE as its first line: trimmed on a rewrite,
        # the file must not start with FF FE, or the next read takes it for
        # UTF-16 and loses what the feed's last run remembered.
        box = self.sandbox()
        a = item(1)
        url = box.feed("f.xml", [a])
        box.write_feed_template(url)
        os.makedirs(box.rsslinks)
        with open(box.state_file, "wb") as f:
            f.write((" \xFF\xFE\r\n[Link_1_T_1]\r\nLatestGUID=%s\r\nLatestPubDate=%s\r\n"
                     % (a["link"], a["pubdate"])).encode("latin-1"))
        for created in (True, False):
            box.run()
            self.assertEqual(
                self.lines_after_template(box)[7:],
                box.converter_lines(1, url) + box.parsed_lines() +
                box.store_lines(1, created, (a["link"], a["pubdate"], "" if created else "0")) +
                box.saved_lines(1, 0) + box.driver_end_lines(0) + [ENDED])
            self.assertEqual(self.read(box.state_file), (
                "\r\n\xFF\xFE\r\n"
                "[Link_1_T_1]\r\nLatestGUID=%s\r\nLatestPubDate=%s\r\nNewRSSCount=0\r\n"
                "[RSSLinks]\r\nTemplateID=T\r\nTemplateVersion=1\r\nUrls=%s\r\n"
                "[TotalNewRSS]\r\nNewRSSCount=0\r\n"
                % (a["link"], a["pubdate"], url)).encode("latin-1"))

    @linux_only("the registry file's format; Windows reads the registry itself")
    def test_a_malformed_registry_value_is_only_that_value_unreadable(self):
        box = self.sandbox()
        a = item(1)
        url = box.feed("f.xml", [a])
        box.write_feed_template(url)
        box.register_popup("BSTR:EXIT")
        box.extra_registry = (
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\KESTRA]\r\n\"X\"=hex(zz):00\r\n\r\n" +
            box.extra_registry.replace("\r\n@=", "\r\n\"X\"=hex(zz):00\r\n@=", 1))
        box.write_registry()
        box.run()
        self.assertEqual(
            box.log_lines(),
            box.startup_lines() + box.template_lines(url) + box.driver_start_lines(url) +
            box.converter_lines(1, url) + box.parsed_lines() + box.store_lines(1, True) +
            box.saved_lines(1, 1, a["link"], a["pubdate"]) + box.driver_end_lines(1) +
            ["MSG : User clicked on the EXIT button of the popup", ENDED])

        # The malformed value itself reads as a missing one: the usual line.
        box = self.sandbox(identity={"siteid": "2", "MemberID": "3", "Type": "W"},
                           extra_registry="[HKEY_LOCAL_MACHINE\\SOFTWARE\\KESTRA]\r\n"
                                          "\"RegID\"=hex(zz):00\r\n")
        box.run()
        lines = box.startup_lines()
        self.assertEqual(box.log_lines(), lines[:lines.index("MSG : RegId : ") + 1] +
                         ["MSG : Invalid RegId", ENDED])

    # --- the converter -------------------------------------------------
    def test_the_converter_says_why_it_failed(self):
        box = self.sandbox()
        url = "http://feed.example/missing"
        box.write_feed_template(url)
        for first_line, logged in (
                ("fetch failed: HTTP 404 Not Found", "fetch failed: HTTP 404 Not Found"),
                ("x" * 3000, "x" * 1024),
                ("forged\r12/07/2026 08:00:00\tMSG : x\x01", "forged")):
            with self.subTest(first_line=first_line[:40]):
                box.install_converter(steps=[sleep(200), stderr("\n%s\nsecond line\n" % first_line),
                                             exit_with(2)])
                box.run()
                self.assertEqual(
                    self.lines_after_template(box)[7:],
                    box.converter_lines(1, url) +
                    ["MSG : fncParseRSSSite :  Failed to find " + box.data_path +
                     "qLUX\\Dovel\\RSSLinks\\TempRSS.xml" + "for URL :: " + url,
                     "MSG : fncParseRSSSite :  Converter said :: " + logged] +
                    box.driver_end_lines(0) + [ENDED])
        # Without error output, the line stays away.
        box.install_converter(steps=[sleep(200), exit_with(2)])
        box.run()
        self.assertEqual(self.lines_after_template(box)[-4:],
                         ["MSG : fncParseRSSSite :  Failed to find " + box.data_path +
                          "qLUX\\Dovel\\RSSLinks\\TempRSS.xml" + "for URL :: " + url] +
                         box.driver_end_lines(0) + [ENDED])

    def test_the_real_converter_says_why_it_failed(self):
        converter = (os.path.join(BUILD_DIR, "qLUX", "FeedPull.exe") if sandbox.WINDOWS else
                     os.path.join(BUILD_DIR, "companions", "feedpull", "FeedPull.exe"))
        box = self.sandbox(converter_delay=None)
        shutil.copy(converter, box.converter)
        page = os.path.join(box.feeds_dir, "page.html")
        with open(page, "w", encoding="utf-8") as f:
            f.write("<html><body>not a feed</body></html>")
        url = ("file:///" + sandbox.windows_path(page).replace("\\", "/") if sandbox.WINDOWS
               else "file://" + page)
        box.write_feed_template(url)
        os.makedirs(box.rsslinks)
        # What the converter says when run by itself...
        alone = subprocess.run(box.command(box.converter) + [url], env=box.env(),
                               stdin=subprocess.DEVNULL, capture_output=True, timeout=120)
        said = alone.stderr.decode()
        self.assertTrue(said.startswith("FeedPull: cannot convert " + url), said)
        self.assertEqual(said.count(sandbox.EOL), 1, said)
        said = said[:-len(sandbox.EOL)]
        # ... is what the run logs after its "Failed to find" line.
        box.run()
        lines = box.log_lines()
        self.assertEqual(lines[lines.index("MSG : fncParseRSSSite :  sXMLFiletemp" +
                                           box.temp_path) + 1:],
                         ["MSG : fncParseRSSSite :  Failed to find " + box.data_path +
                          "qLUX\\Dovel\\RSSLinks\\TempRSS.xml" + "for URL :: " + url,
                          "MSG : fncParseRSSSite :  Converter said :: " + said] +
                         box.driver_end_lines(0) + [ENDED])

    def test_converted_output_over_the_bound_is_refused_unread(self):
        box = self.sandbox()
        url = box.feed("f.xml", [item(1)])
        box.write_feed_template(url)
        out = os.path.join(box.rsslinks, "Temp_RSS.xml")
        box.install_converter(steps=[sleep(200), output_of_size(CONVERTED_BOUND + 1)])
        box.run()
        self.assertEqual(
            self.lines_after_template(box)[7:],
            box.converter_lines(1, url) +
            ["ERR : fncParseRSSSite : Output of %d bytes refused, over the bound of %d bytes, "
             "for URL :: %s" % (CONVERTED_BOUND + 1, CONVERTED_BOUND, url)] +
            box.driver_end_lines(0) + [ENDED])
        self.assertFalse(os.path.exists(box.store(1)))
        self.assertNotIn("[Link_1_T_1]", box.state_text())

        # Output of exactly the bound is read as any other.
        a = item(1)
        box.feed("f.xml", [a])
        document = self.read(os.path.join(box.feeds_dir, "f.xml"))
        with open(os.path.join(box.feeds_dir, "f.xml"), "wb") as f:
            f.write(document + b" " *
                    (CONVERTED_BOUND - len(document) - sandbox.call_mark_size(url)))
        box.install_converter()
        box.run()
        self.assertEqual(os.path.getsize(out), CONVERTED_BOUND)
        self.assertEqual(self.lines_after_template(box)[-7:],
                         box.saved_lines(1, 1, a["link"], a["pubdate"]) +
                         box.driver_end_lines(1) + [NO_POPUP])
        self.assertEqual(box.store_items(1), HEADER + [stored(a)])

    def test_a_store_over_the_bound_is_refused_unloaded(self):
        box = self.sandbox()
        url = box.feed("f.xml", [item(1)])
        box.write_feed_template(url)
        os.makedirs(box.rsslinks)
        with open(box.store(1), "wb") as f:
            f.truncate(STORE_BOUND + 1)
        before = os.stat(box.store(1))
        box.run()
        self.assertEqual(
            self.lines_after_template(box)[7:],
            box.converter_lines(1, url) + box.parsed_lines() +
            ["MSG : fncParseRSSSite :  Loading the XML file " + box.store_path(1),
             "ERR :  fncParseRSSSite : Store of %d bytes refused, over the bound of %d bytes"
             % (STORE_BOUND + 1, STORE_BOUND),
             "ERR :  fncParseRSSSite : Failed to load " + box.store_path(1)] +
            box.driver_end_lines(0) + [ENDED])
        after = os.stat(box.store(1))
        self.assertEqual((after.st_size, after.st_mtime_ns), (before.st_size, before.st_mtime_ns))
        self.assertNotIn("[Link_1_T_1]", box.state_text())

    def test_a_converter_killed_at_its_time_out_is_not_read_and_leaves_nothing_running(self):
        # It writes a complete document, says why it is stuck, starts a
        # helper in a session of its own and hangs: at the 30 s time-out all
        # of it ends, and nothing of what it wrote is used.
        box = self.sandbox()
        url = box.feed("f.xml", [item(1)])
        box.write_feed_template(url)
        out = os.path.join(box.rsslinks, "Temp_RSS.xml")
        escapee = os.path.join(box.root, "escapee.pid")
        box.install_converter(steps=[convert(), stderr("still waiting for the server\n"),
                                     spawn(escapee), hang()])
        box.run(timeout=120)
        self.assertEqual(
            self.lines_after_template(box)[7:],
            box.converter_lines(1, url, ran_to_end=False) +
            ["MSG : fncParseRSSSite :  Output not used, the converter was stopped at its "
             "time-out, for URL :: " + url,
             "MSG : fncParseRSSSite :  Converter said :: still waiting for the server"] +
            box.driver_end_lines(0) + [ENDED])
        self.assertFalse(os.path.exists(box.store(1)))
        self.assertNotIn("[Link_1_T_1]", box.state_text())
        with open(escapee) as f:
            pid = int(f.read())
        self.assertTrue(process_gone_within(pid, 10, escapee),
                        "the converter's helper %d still runs" % pid)

    @linux_only("a shell converter that outlives its run; on Windows the run's job ends it")
    def test_output_of_a_killed_runs_converter_is_not_taken_for_another_feed(self):
        # Run 1 is killed while its converter is at feed 2; that converter
        # lives on and writes feed 2's document while run 2's converter for
        # feed 1 fails. Run 2 must not read it as feed 1's.
        box = self.sandbox(converter_delay=None)
        a, b, c = item(1), item(2), item(3)
        url1, url2 = box.feed("one.xml", [a]), box.feed("two.xml", [b, c])
        box.write_feed_template(url1 + "@#@" + url2)
        out = os.path.join(box.rsslinks, "Temp_RSS.xml")
        flag = lambda name: os.path.join(box.root, name)
        wait = 'i=0; while [ ! -e "%s" ] && [ $i -lt 3000 ]; do sleep 0.01; i=$((i+1)); done\n'
        sandbox.write_script(box.converter, (
            'put() { cp "$1" "%(out)s.part" && %(mark)s >> "%(out)s.part" && '
            'mv "%(out)s.part" "%(out)s"; }\n'
            'case "$1" in\n*one.xml)\n'
            '  if [ -e "%(killed)s" ]; then touch "%(go)s"; ' + wait % flag("done") + ' exit 1; fi\n'
            '  put "$1";;\n*two.xml)\n'
            '  if [ -e "%(killed)s" ]; then put "$1"; exit 0; fi\n'
            '  echo $$ > "%(at)s"\n  ' + wait % flag("go") +
            '  put "$1"; touch "%(done)s";;\nesac\n') % {
                "out": out, "mark": sandbox.CALL_MARK_SHELL, "killed": flag("killed"),
                "go": flag("go"), "done": flag("done"), "at": flag("at-two")})
        first = subprocess.Popen(box.command(), env=box.env(), stdin=subprocess.DEVNULL,
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(first.kill)
        deadline = time.monotonic() + 60
        while not os.path.exists(flag("at-two")) and time.monotonic() < deadline:
            time.sleep(0.01)
        first.kill()
        first.wait()
        open(flag("killed"), "w").close()
        box.run()
        lines = box.log_lines()
        lines = lines[len(lines) - lines[::-1].index("MSG : In fncPopulateRSSLinks") - 1:]
        self.assertEqual(
            lines[7:],
            box.converter_lines(1, url1) +
            ["MSG : fncParseRSSSite :  Output not used, it was not written by this converter "
             "call, for URL :: " + url1] +
            box.converter_lines(2, url2) + box.parsed_lines() + box.store_lines(2, True) +
            box.saved_lines(2, 2, b["link"], b["pubdate"]) + box.driver_end_lines(2) + [NO_POPUP])
        self.assertEqual(box.store_items(1), HEADER + [stored(a)])
        self.assertEqual(box.store_items(2), HEADER + [stored(b), stored(c)])

    @linux_only("on Windows the run's job ends the converter with the run")
    def test_the_real_converter_ends_with_a_killed_run(self):
        converter = os.path.join(BUILD_DIR, "companions", "feedpull", "FeedPull.exe")
        box = self.sandbox(converter_delay=None)
        shutil.copy(converter, box.converter)
        # A server that takes the connection and never answers: the converter
        # would wait its 20 s.
        silent = socket.socket()
        silent.bind(("127.0.0.1", 0))
        silent.listen(8)
        self.addCleanup(silent.close)
        box.write_feed_template("http://127.0.0.1:%d/feed.xml" % silent.getsockname()[1])
        run = subprocess.Popen(box.command(), env=box.env(), stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(run.kill)
        converters = []
        deadline = time.monotonic() + 30
        while not converters and time.monotonic() < deadline:
            converters = sandbox.processes_with(box.converter)
            time.sleep(0.01)
        self.assertTrue(converters)
        run.kill()
        run.wait()
        self.assertTrue(process_gone_within(converters[0], 5),
                        "the converter %d outlived its run" % converters[0])

    # --- the popup component -------------------------------------------
    def test_a_popup_component_that_never_answers_cannot_hold_the_run(self):
        for hang, least in (("HANG:PUT", 5), ("HANG:POPUP", 25)):
            with self.subTest(hang=hang):
                box = self.sandbox()
                a = item(1)
                url = box.feed("f.xml", [a])
                box.write_feed_template(url)
                box.register_popup(hang)
                started = time.monotonic()
                result = box.run(timeout=120)
                took = time.monotonic() - started
                self.assertEqual(result.returncode, 0)
                # Short bound for a property, display time and margin for
                # the popup itself.
                self.assertGreaterEqual(took, least)
                self.assertEqual(self.lines_after_template(box)[-3:],
                                 box.driver_end_lines(1) + [TIMED_OUT])
                requests = box.popup_requests()
                self.assertEqual(requests[-1].split(" ")[:2],
                                 ["PUT", "Icon"] if hang == "HANG:PUT" else ["CALL", "Popup"])
                with open(box.popup_record + ".child") as f:
                    helper = int(f.read())
                # What the component started ends with it (on Windows, where
                # COM starts it, the run puts it in a job of its own first);
                # on Windows no process with the record on its command line,
                # the component's or the helper's, is left.
                self.addCleanup(sandbox.kill_processes_with, box.popup_record)
                self.assertTrue(process_gone_within(helper, 10, box.popup_record),
                                "the popup component or its helper %d still runs" % helper)

    # --- a save that fails half-way ------------------------------------
    def test_a_save_that_fails_half_way_leaves_store_and_state_file_as_they_were(self):
        box = self.sandbox()
        a = item(1, description="a" * 200000)
        url = box.feed("f.xml", [a])
        box.write_feed_template(url)
        box.run()
        box.run()  # unchanged: the stored total is 0 now
        # Sections of templates long gone stay in the file for good.
        with open(box.state_file, "ab") as f:
            f.write(b"[Link_1_Old_1]\r\nLatestGUID=" + b"o" * 150000 + b"\r\n")
        # A stored total that this run must change: a write that would leave
        # the file as it is need not touch it, so only this one has to fail.
        with open(box.state_file, "rb") as f:
            state = f.read()
        changed = state.replace(b"[TotalNewRSS]\r\nNewRSSCount=0\r\n",
                                b"[TotalNewRSS]\r\nNewRSSCount=1\r\n")
        self.assertNotEqual(changed, state)
        with open(box.state_file, "wb") as f:
            f.write(changed)
        store_before = self.read(box.store(1))
        state_before = self.read(box.state_file)
        names_before = sorted(os.listdir(box.rsslinks))

        # The feed now offers a new item; every file the program writes may
        # grow to 100,000 bytes only, so neither the store nor the state file
        # can be written whole.
        b = item(2)
        box.feed("f.xml", [b])

        def limit():
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (100000, 100000))

        box.started = __import__("datetime").datetime.now()
        result = subprocess.run(box.command(), env=box.env(), stdin=subprocess.DEVNULL,
                                capture_output=True, timeout=90, preexec_fn=limit,
                                restore_signals=False)
        box.finished = __import__("datetime").datetime.now()
        self.assertEqual(result.returncode, 0)
        lines = self.lines_after_template(box)
        start = box.driver_start_lines(url, "1")
        self.assertEqual(
            lines,
            start + box.converter_lines(1, url) + box.parsed_lines() +
            box.store_lines(1, False, (a["link"], a["pubdate"], "0")) +
            ["MSG :  fncParseRSSSite : Saving the XML",
             "ERR : in fncParseRSSSite. Err : 75::Path/File access error"] +
            box.driver_end_lines(0)[:1] + [WRITE_FAILED] + box.driver_end_lines(0)[1:] + [ENDED])
        self.assertEqual(self.read(box.store(1)), store_before)
        self.assertEqual(self.read(box.state_file), state_before)
        self.assertEqual(sorted(os.listdir(box.rsslinks)), names_before)

    # --- the viewer ----------------------------------------------------
    def test_the_viewer_shows_every_feed_of_a_long_list(self):
        box = self.sandbox(converter_delay="0")
        page_name, page_path = sandbox.viewer_page(box, self.addCleanup)
        if sandbox.WINDOWS:
            browser = sandbox.StandInBrowser(box, self.addCleanup)
        count = 80
        urls = [box.feed("feed-number-%02d-with-a-long-name-for-its-url.xml" % n,
                         [item(n, title="Item of feed %d" % n)]) for n in range(1, count + 1)]
        sites = "@#@".join(urls)
        self.assertGreater(len(sites), 5000)
        box.write_feed_template(sites)
        box.run(timeout=300)
        self.assertEqual(box.log_lines()[-2:], ["MSG : Total New RSS after updates :: %d" % count,
                                                NO_POPUP])
        result = subprocess.run(box.command(VIEWER), env=box.env(), stdin=subprocess.DEVNULL,
                                capture_output=True, timeout=120)
        if sandbox.WINDOWS:
            # The shell has the page opened; the viewer says nothing.
            self.assertEqual((result.returncode, result.stdout, result.stderr), (0, b"", b""))
            self.assertEqual(browser.wait(), "[%s]\n" % page_name)
        else:
            # No desktop: the viewer names the page.
            self.assertEqual((result.returncode, result.stderr), (0, b""))
            self.assertEqual(result.stdout.decode(), page_name + "\n")
        with open(page_path, encoding="utf-8") as f:
            page = parse_page(f.read())
        self.assertEqual(page["summary"], "%d unread items" % count)
        self.assertEqual([feed["items"][0]["title"] for feed in page["feeds"]],
                         ["Item of feed %d" % n for n in range(1, count + 1)])
        for n in range(1, count + 1):
            self.assertEqual(self.read(box.store(n)).count(b"<Status>Read</Status>"), 1, n)


if __name__ == "__main__":
    unittest.main()
