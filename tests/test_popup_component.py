"""The popup component flarebox-display, driven over its line protocol.

Each test starts a private session bus and, where it needs one, the scripted
notification service (fake_notifications), which records the calls it gets
and answers each Notify the way its mode says. Every wait is bounded.
"""
import json
import os
import select
import shutil
import subprocess
import tempfile
import time
import unittest

import sandbox

setUpModule = sandbox.linux_only_module(
    "the Linux popup component's freedesktop back-end; the Windows component is a COM "
    "server with tests of its own")

BUILD_DIR = os.environ.get(
    "RSSNOTIFY_BUILD_DIR",
    os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "build"))
DISPLAY = os.path.join(BUILD_DIR, "companions", "popup", "flarebox-display")
FAKE = os.path.join(BUILD_DIR, "tests", "fake_notifications")
STEP = 15  # seconds any single step may take at most

BUS_CONFIG = """<!DOCTYPE busconfig PUBLIC
 "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path={socket}</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
"""

BODY = "Two lines:\nsecond one \u00e9 \u4e2d \U0001F600 back\\slash\ttab"
BODY_ESCAPED = "Two lines:\\nsecond one \u00e9 \u4e2d \U0001F600 back\\\\slash\\ttab"


class LineReader:
    """Reads whole lines from a pipe, never waiting longer than asked."""

    def __init__(self, pipe):
        self.fd = pipe.fileno()
        self.buffer = b""

    def read_line(self, timeout=STEP):
        deadline = time.monotonic() + timeout
        while b"\n" not in self.buffer:
            left = deadline - time.monotonic()
            if left <= 0:
                raise AssertionError("no line within %s s" % timeout)
            ready, _, _ = select.select([self.fd], [], [], left)
            if ready:
                chunk = os.read(self.fd, 4096)
                if not chunk:
                    raise AssertionError("output ended; got %r" % self.buffer)
                self.buffer += chunk
        line, self.buffer = self.buffer.split(b"\n", 1)
        return line.decode("utf-8")


def stop(process):
    if process.poll() is None:
        process.kill()
    process.wait(timeout=STEP)
    for pipe in (process.stdin, process.stdout):
        if pipe is not None:
            pipe.close()


class PopupComponentTest(unittest.TestCase):

    def setUp(self):
        self.assertTrue(os.path.exists(DISPLAY), DISPLAY + " is not built")
        self.assertTrue(os.path.exists(FAKE), FAKE + " is not built")
        self.folder = tempfile.mkdtemp(prefix="popup-")
        self.addCleanup(shutil.rmtree, self.folder, True)
        self.record = os.path.join(self.folder, "record.jsonl")
        self.address = self.start_bus()

    def start_bus(self):
        config = os.path.join(self.folder, "bus.conf")
        with open(config, "w") as out:
            out.write(BUS_CONFIG.format(socket=os.path.join(self.folder, "bus")))
        daemon = subprocess.Popen(
            ["/usr/bin/dbus-daemon", "--config-file=" + config, "--nofork",
             "--print-address"],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.addCleanup(stop, daemon)
        return LineReader(daemon.stdout).read_line()

    def start_service(self, modes):
        service = subprocess.Popen(
            [FAKE, "--address", self.address, "--record", self.record,
             "--modes", modes],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.addCleanup(stop, service)
        self.assertEqual(LineReader(service.stdout).read_line(), "READY")
        return service

    def start_display(self, address="bus"):
        environment = dict(os.environ)
        environment.pop("DBUS_SESSION_BUS_ADDRESS", None)
        if address == "bus":
            environment["DBUS_SESSION_BUS_ADDRESS"] = self.address
        elif address is not None:
            environment["DBUS_SESSION_BUS_ADDRESS"] = address
        display = subprocess.Popen(
            [DISPLAY], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
            stderr=subprocess.DEVNULL, env=environment)
        self.addCleanup(stop, display)
        display.reader = LineReader(display.stdout)
        return display

    @staticmethod
    def ask(display, line, timeout=STEP):
        display.stdin.write(line.encode("utf-8") + b"\n")
        display.stdin.flush()
        return display.reader.read_line(timeout)

    def set_up_popup(self, display, display_time=10, modal=1, icon=7):
        """The properties in the order and with the types the program uses."""
        for line in ["PUT Icon I4 %d" % icon,
                     "PUT Header BSTR New RSS Feed",
                     "PUT Body BSTR " + BODY_ESCAPED,
                     "PUT DisplayTimeSeconds I4 %d" % display_time,
                     "PUT PopupHeight I4 1300",
                     "PUT PopupWidth I4 6000",
                     "PUT TransparencyLevel I2 100",
                     "PUT ModalForm I4 %d" % modal]:
            self.assertEqual(self.ask(display, line), "OK", line)

    def recorded(self):
        with open(self.record, encoding="utf-8") as records:
            return [json.loads(line) for line in records]

    @staticmethod
    def notify(icon="dialog-information", expire_timeout=10000):
        return {"method": "Notify", "app_name": "Flarebox", "replaces_id": 0,
                "app_icon": icon, "summary": "New RSS Feed", "body": BODY,
                "actions": ["default", "Open"], "hints": {},
                "expire_timeout": expire_timeout}

    def test_click_on_the_popup(self):
        self.start_service("click")
        display = self.start_display()
        self.set_up_popup(display)
        self.assertEqual(self.ask(display, "CALL Popup"), "OK")
        self.assertEqual(self.ask(display, "GET ClosedBy"), "OK BSTR CLICK")
        self.assertEqual(self.recorded(), [
            self.notify(), {"method": "CloseNotification", "id": 1}])

    def test_popup_closed_by_the_user(self):
        self.start_service("dismiss")
        display = self.start_display()
        self.set_up_popup(display)
        self.assertEqual(self.ask(display, "CALL Popup"), "OK")
        self.assertEqual(self.ask(display, "GET ClosedBy"), "OK BSTR EXIT")
        self.assertEqual(self.recorded(), [self.notify()])

    def test_popup_expired_by_the_service(self):
        self.start_service("expire")
        display = self.start_display()
        self.set_up_popup(display)
        self.assertEqual(self.ask(display, "CALL Popup"), "OK")
        self.assertEqual(self.ask(display, "GET ClosedBy"), "OK BSTR AUTOCLOSE")
        self.assertEqual(self.recorded(), [self.notify()])

    def test_silent_service_the_popup_closes_itself_after_its_time(self):
        self.start_service("silent")
        display = self.start_display()
        self.set_up_popup(display, display_time=1)
        started = time.monotonic()
        self.assertEqual(self.ask(display, "CALL Popup"), "OK")
        self.assertGreaterEqual(time.monotonic() - started, 1.0)
        self.assertEqual(self.ask(display, "GET ClosedBy"), "OK BSTR AUTOCLOSE")
        self.assertEqual(self.recorded(), [
            self.notify(expire_timeout=1000),
            {"method": "CloseNotification", "id": 1}])

    def test_service_leaving_while_the_popup_is_up(self):
        self.start_service("vanish")
        display = self.start_display()
        self.set_up_popup(display)
        self.assertEqual(
            self.ask(display, "CALL Popup"),
            "ERR 440 The notification service went away while the popup was shown")
        self.assertEqual(self.ask(display, "GET ClosedBy"), "OK BSTR ")

    def test_popup_that_is_not_waited_for(self):
        self.start_service("silent,dismiss")
        display = self.start_display()
        self.set_up_popup(display, modal=0)
        self.assertEqual(self.ask(display, "CALL Popup"), "OK")
        # The service says nothing, and the display time is far off.
        self.assertEqual(self.ask(display, "GET ClosedBy"), "OK BSTR ")
        # The next popup is closed by the user; ClosedBy tells once it is known.
        self.assertEqual(self.ask(display, "CALL Popup"), "OK")
        deadline = time.monotonic() + STEP
        answer = self.ask(display, "GET ClosedBy")
        while answer == "OK BSTR " and time.monotonic() < deadline:
            time.sleep(0.05)
            answer = self.ask(display, "GET ClosedBy")
        self.assertEqual(answer, "OK BSTR EXIT")
        self.assertEqual(self.recorded(), [self.notify(), self.notify()])

    def test_icons_and_display_times(self):
        self.start_service("expire")
        display = self.start_display()
        cases = [(7, "dialog-information"), (64, "dialog-information"),
                 (16, "dialog-error"), (48, "dialog-warning"),
                 (32, "dialog-question"), (0, ""), (5, "")]
        for icon, _ in cases:
            self.set_up_popup(display, icon=icon)
            self.assertEqual(self.ask(display, "CALL Popup"), "OK")
            self.assertEqual(self.ask(display, "GET ClosedBy"), "OK BSTR AUTOCLOSE")
        # No display time: the popup stays until it is closed.
        self.set_up_popup(display, display_time=0)
        self.assertEqual(self.ask(display, "CALL Popup"), "OK")
        self.assertEqual(self.recorded(),
                         [self.notify(icon=name) for _, name in cases]
                         + [self.notify(expire_timeout=0)])

    def test_properties_members_and_types(self):
        display = self.start_display()
        self.assertEqual(self.ask(display, "GET ClosedBy"), "OK BSTR ")
        self.set_up_popup(display)
        expected = {
            "GET Icon": "OK I4 7",
            "GET header": "OK BSTR New RSS Feed",
            "GET Body": "OK BSTR " + BODY_ESCAPED,
            "GET DisplayTimeSeconds": "OK I4 10",
            "GET POPUPHEIGHT": "OK I4 1300",
            "GET PopupWidth": "OK I4 6000",
            "GET TransparencyLevel": "OK I2 100",
            "GET ModalForm": "OK I4 1",
        }
        for line, answer in expected.items():
            self.assertEqual(self.ask(display, line), answer, line)
        no_member = "ERR 438 Object doesn't support this property or method"
        conversions = {
            # Values of another type are converted, as Automation does.
            "PUT Icon BSTR  48 ": "OK",
            "GET Icon": "OK I4 48",
            "PUT Header I4 12": "OK",
            "GET Header": "OK BSTR 12",
            "PUT TransparencyLevel I4 32767": "OK",
            "PUT TransparencyLevel I4 32768": "ERR 6 Overflow",
            "GET TransparencyLevel": "OK I2 32767",
            "PUT Icon BSTR seven": "ERR 13 Type mismatch",
            # Members the component does not have, or not in that way.
            "PUT Colour I4 1": no_member,
            "GET Colour": no_member,
            "CALL Hide": no_member,
            "CALL Icon": no_member,
            "GET Popup": no_member,
            "PUT ClosedBy BSTR CLICK": no_member,
            "PUT Popup I4 1": no_member,
            # Lines that are not requests.
            "HELLO": "ERR 5 Invalid procedure call or argument",
            "PUT Icon I4": "ERR 5 Invalid procedure call or argument",
        }
        for line, answer in conversions.items():
            self.assertEqual(self.ask(display, line), answer, line)

    def test_without_notification_service_popup_fails_at_once(self):
        display = self.start_display()
        self.set_up_popup(display)
        answer = self.ask(display, "CALL Popup")
        self.assertTrue(answer.startswith("ERR 440 No notification service: "), answer)
        self.assertEqual(self.ask(display, "GET ClosedBy"), "OK BSTR ")

    def test_without_session_bus_popup_fails_at_once(self):
        cases = {
            None: "ERR 440 No session bus: DBUS_SESSION_BUS_ADDRESS is not set",
            "unix:path=" + os.path.join(self.folder, "no-bus"):
                "ERR 440 Cannot connect to the session bus: "
                "Could not connect: No such file or directory",
        }
        for address, expected in cases.items():
            display = self.start_display(address)
            self.set_up_popup(display)
            self.assertEqual(self.ask(display, "CALL Popup"), expected)

    def test_end_of_input_ends_the_component(self):
        display = self.start_display()
        self.assertEqual(self.ask(display, "PUT Icon I4 7"), "OK")
        display.stdin.close()
        self.assertEqual(display.wait(timeout=STEP), 0)


if __name__ == "__main__":
    unittest.main()
