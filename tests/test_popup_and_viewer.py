"""The popup's answers and the viewer launch, with a scripted popup component
and a scripted viewer."""

import os
import time
import unittest

from sandbox import FeedSandbox, write_script
from test_feed_update import item

ENDED = "MSG : Application Ended"


class PopupAnswerTest(unittest.TestCase):
    maxDiff = None

    def run_with_answer(self, answer, viewer=True, register=True):
        box = FeedSandbox()
        self.addCleanup(box.cleanup)
        if register:
            box.register_popup(answer)
        self.viewer_log = os.path.join(box.root, "viewer.log")
        if viewer:
            # Records its start at once and its end five seconds later, so a
            # run that waited for it would be seen.
            write_script(os.path.join(box.install, "qLUX", "qVMRSS.exe"),
                         'echo "started $#" >> %s\nsleep 5\necho finished >> %s\n'
                         % (self.viewer_log, self.viewer_log))
        url = box.feed("f.xml", [item(1), item(2)])
        box.write_feed_template(url, "Two items")
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
        box = self.run_with_answer("BSTR:CLICK", viewer=False)
        self.assertEqual(self.tail, ["MSG : User clicked on the popup",
                                     "ERR : " + box.install_path + "qLUX\\qVMRSS.exe is missing",
                                     ENDED])
        # Without a desktop the message box is written to standard error.
        self.assertEqual(self.result.stderr.decode(),
                         "NOVR Relay Desk - RSS Feed: QVM Components for RSS Feed is missing. "
                         "Please contact DeskAid365.\n")


if __name__ == "__main__":
    unittest.main()
