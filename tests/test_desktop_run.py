"""Whole runs on a desktop: rssnotify with the real popup component
(flarebox-display) registered, and a scripted notification service on a
private session bus that clicks, dismisses or lets the popup expire."""

import json
import os
import subprocess
import time
import unittest

from sandbox import BUILD_DIR, FeedSandbox, reg_string, write_script
from test_feed_update import item
from test_popup_component import LineReader, BUS_CONFIG, FAKE, DISPLAY, stop
import sandbox

setUpModule = sandbox.linux_only_module(
    "the freedesktop notification service on a session bus shows the popup; on Windows the "
    "popup is a COM component, whose whole path test_popup_and_viewer covers on both "
    "back-ends")

ENDED = "MSG : Application Ended"


class DesktopRunTest(unittest.TestCase):
    maxDiff = None

    def setUp(self):
        self.box = FeedSandbox()
        self.addCleanup(self.box.cleanup)
        self.box.extra_registry = (
            "[HKEY_CLASSES_ROOT\\Flarebox.Display\\LocalServer32]\r\n@=%s\r\n"
            % reg_string(DISPLAY))
        self.box.write_registry()
        self.viewer_log = os.path.join(self.box.root, "viewer.log")
        write_script(os.path.join(self.box.install, "qLUX", "qVMRSS.exe"),
                     'echo started >> %s\n' % self.viewer_log)
        url = self.box.feed("f.xml", [item(1), item(2), item(3)])
        self.box.write_feed_template(
            url, "You have total new RSS feeds from your service provider for your reference. "
                 "Click for view all messages.")
        self.address = self.start_bus()

    def start_bus(self):
        config = os.path.join(self.box.root, "bus.conf")
        with open(config, "w") as out:
            out.write(BUS_CONFIG.format(socket=os.path.join(self.box.root, "bus")))
        daemon = subprocess.Popen(
            ["/usr/bin/dbus-daemon", "--config-file=" + config, "--nofork", "--print-address"],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.addCleanup(stop, daemon)
        return LineReader(daemon.stdout).read_line()

    def run_with(self, mode):
        record = os.path.join(self.box.root, "notify.jsonl")
        service = subprocess.Popen(
            [FAKE, "--address", self.address, "--record", record, "--modes", mode],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.addCleanup(stop, service)
        self.assertEqual(LineReader(service.stdout).read_line(), "READY")
        self.box.run(extra_env={"DBUS_SESSION_BUS_ADDRESS": self.address})
        stop(service)  # the service's name is free again for the next run
        lines = self.box.log_lines()
        with open(record, encoding="utf-8") as f:
            calls = [json.loads(line) for line in f]
        notify = [call for call in calls if call["method"] == "Notify"]
        return lines[lines.index("MSG : Total New RSS after updates :: 3") + 1:], notify

    def viewer_started(self):
        for _ in range(100):
            if os.path.exists(self.viewer_log):
                return True
            time.sleep(0.05)
        return False

    def check_notification(self, notify):
        self.assertEqual(len(notify), 1, notify)
        call = notify[0]
        self.assertEqual(call["summary"], "New RSS Feed")
        self.assertEqual(call["body"], "You have total 3 new RSS feeds from your service provider "
                                       "for your reference. Click for view all messages.")
        self.assertEqual(call["expire_timeout"], 10000)
        self.assertEqual(call["actions"][:1], ["default"])

    def test_click_starts_the_viewer(self):
        tail, notify = self.run_with("click")
        viewer = self.box.install_path + "qLUX\\qVMRSS.exe"
        self.assertEqual(tail, ["MSG : User clicked on the popup",
                                "MSG : fncExecuteShell :: " + viewer,
                                "ERR : Successfully Executed, " + viewer, ENDED])
        self.check_notification(notify)
        self.assertTrue(self.viewer_started())

    def test_dismissed_popup_ends_the_run(self):
        tail, notify = self.run_with("dismiss")
        self.assertEqual(tail, ["MSG : User clicked on the EXIT button of the popup", ENDED])
        self.check_notification(notify)
        self.assertFalse(os.path.exists(self.viewer_log))

    def test_expired_popup_ends_the_run(self):
        tail, notify = self.run_with("expire")
        self.assertEqual(tail, ["MSG : Popup timeout.", ENDED])
        self.check_notification(notify)
        self.assertFalse(os.path.exists(self.viewer_log))

    def test_popup_left_alone_times_out_after_its_display_time(self):
        # The service never reports a close: the component closes the
        # notification itself once the display time has passed.
        tail, notify = self.run_with("silent")
        self.assertEqual(tail, ["MSG : Popup timeout.", ENDED])
        self.check_notification(notify)


if __name__ == "__main__":
    unittest.main()
