"""The popup's answers and the viewer launch, with a scripted popup component
and a scripted viewer."""

import os
import subprocess
import time
import unittest

import sandbox
from sandbox import FeedSandbox, append, sleep
from test_feed_update import item

ENDED = "MSG : Application Ended"
CAPTION = "NOVR Relay Desk - RSS Feed"
MISSING = "QVM Components for RSS Feed is missing. Please contact DeskAid365."


class PopupAnswerTest(unittest.TestCase):
    maxDiff = None

    def run_with_answer(self, answer, viewer=True, register=True, answer_box=False):
        box = FeedSandbox()
        self.addCleanup(box.cleanup)
        if register:
            box.register_popup(answer)
        self.viewer_log = os.path.join(box.root, "viewer.log")
        if viewer:
            # Records its start at once and its end five seconds later, so a
            # run that waited for it would be seen.
            box.install_scripted(os.path.join(box.install, "qLUX", "qVMRSS.exe"),
                                 [append(self.viewer_log, "started %#\n"), sleep(5000),
                                  append(self.viewer_log, "finished\n")])
        url = box.feed("f.xml", [item(1), item(2)])
        box.write_feed_template(url, "Two items")
        if answer_box:
            # Windows shows the message box on the desktop: answered as a
            # user would, its text kept.
            self.box_text = os.path.join(box.root, "box.txt")
            answerer = subprocess.Popen(
                box.command(os.path.join(sandbox.TEST_PROGRAMS, "answer_message_box.exe")) +
                [CAPTION, box.program_path(self.box_text), "120"],
                env=box.env(), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                stderr=subprocess.DEVNULL)
            self.addCleanup(answerer.wait)
            self.addCleanup(answerer.kill)
        self.result = box.run()
        self.lines = box.log_lines()
        self.tail = self.lines[self.lines.index("MSG : Total New RSS after updates :: 2") + 1:]
        return box

    def viewer_record(self):
        if not os.path.exists(self.viewer_log):
            return ""
        with open(self.viewer_log) as f:
            return f.read()

    def test_click_starts_the_viewer_without_waiting(self):
        box = self.run_with_answer("BSTR:CLICK")
        viewer = box.install_path + "qLUX\\qVMRSS.exe"
        self.assertEqual(self.tail, ["MSG : User clicked on the popup",
                                     "MSG : fncExecuteShell :: " + viewer,
                                     "ERR : Successfully Executed, " + viewer, ENDED])
        self.assertNotIn("finished", self.viewer_record())
        for _ in range(200):
            if "finished" in self.viewer_record():
                break
            time.sleep(0.05)
        self.assertEqual(self.viewer_record(), "started 0\nfinished\n")

    def test_exit_and_timeout_end_the_run(self):
        for answer, line in (("BSTR:EXIT", "MSG : User clicked on the EXIT button of the popup"),
                             ("BSTR:AUTOCLOSE", "MSG : Popup timeout.")):
            with self.subTest(answer):
                self.run_with_answer(answer)
                self.assertEqual(self.tail, [line, ENDED])
                self.assertEqual(self.viewer_record(), "")

    def test_unknown_answers_end_without_end_line_or_viewer(self):
        for answer in ("BSTR:click", "I4:3", "BSTR:"):
            with self.subTest(answer):
                self.run_with_answer(answer)
                self.assertEqual(self.tail, [])
                self.assertEqual(self.viewer_record(), "")

    def test_popup_failures_are_logged_and_end_the_run(self):
        self.run_with_answer("FAIL:5:The popup could not be shown")
        self.assertEqual(self.tail, ["ERR : CallPopup, 5:The popup could not be shown"])
        self.run_with_answer("BSTR:CLICK", register=False)
        self.assertEqual(self.tail, ["ERR : CallPopup, 429:ActiveX component can't create object"])
        self.assertEqual(self.viewer_record(), "")

    def test_missing_viewer_is_reported(self):
        box = self.run_with_answer("BSTR:CLICK", viewer=False, answer_box=sandbox.WINDOWS)
        self.assertEqual(self.tail, ["MSG : User clicked on the popup",
                                     "ERR : " + box.install_path + "qLUX\\qVMRSS.exe is missing",
                                     ENDED])
        if sandbox.WINDOWS:
            # The Windows tests run on a desktop (Xvfb): the box is shown.
            with open(self.box_text, encoding="utf-8") as f:
                self.assertEqual(f.read(), MISSING)
            self.assertEqual(self.result.stderr.decode(), "")
        else:
            # Without a desktop the message box is written to standard error.
            self.assertEqual(self.result.stderr.decode(), CAPTION + ": " + MISSING + "\n")


if __name__ == "__main__":
    unittest.main()
