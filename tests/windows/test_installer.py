"""The setup program rssnotify-setup.exe under Wine: install, one run, uninstall.

As the agent would have it before the setup program runs: its key
HKLM\\SOFTWARE\\KESTRA (32-bit view) names the installation folder (with a
blank in its name) and the identity, and the folder holds the agent's
template qLUX\\Dovel\\qVMMenu.xml with one feed, a file:///C:/ URL; the data
folder C:\\ProgramData\\KESTRA exists. The setup program runs silently (/S)
and must install the programs of the build, byte for byte, in the agent's
layout, register the popup component and write its Add/Remove Programs entry.
Then the installed rssnotify.exe runs once: the installed FeedPull.exe
converts the feed, and the log, the store and the update-state file must be
what the Linux program makes of the same feed (the popup may be shown or
not). The uninstaller, run silently, must remove exactly what was installed
and the registrations, and leave the agent's template, the data folder and
the log.

    python3 test_installer.py --wine scripts/wine.sh --prefix PREFIX \\
        --setup build-windows/rssnotify-setup.exe --build build-windows

The test owns the product key, C:\\rssnotify-whole-run and
C:\\ProgramData\\KESTRA of the prefix (as test_whole_run.py does) and the
component's registration, and removes them before and after.
"""

import argparse
import os
import struct
import subprocess
import sys
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, ".."))
import sandbox  # noqa: E402
import test_whole_run  # noqa: E402
from test_whole_run import ENDED, INSTALL, ROOT, Wine, WineSandbox  # noqa: E402

ARGS = None

PROGID = "Flarebox.Display"
CLSID = "{BBEC94E0-A87D-4012-9CD8-82108CECC7BF}"
UNINSTALLER = "rssnotify-uninstall.exe"
UNINSTALL_KEY = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\rssnotify"
# The programs the setup program installs, as the build has them.
COMPONENT = "qLUX\\flarebox-display.exe"
PROGRAMS = ["rssnotify.exe", "qLUX\\FeedPull.exe", "qLUX\\qVMRSS.exe", COMPONENT]
# The subsystem each program is built for (its PE header's): what runs on
# the user's desktop opens no console window; the converter stays a console
# program that support staff can run in one (rssnotify starts it without).
WINDOWS_GUI, WINDOWS_CUI = 2, 3
SUBSYSTEMS = {"rssnotify.exe": WINDOWS_GUI, "qLUX\\FeedPull.exe": WINDOWS_CUI,
              "qLUX\\qVMRSS.exe": WINDOWS_GUI, COMPONENT: WINDOWS_GUI}
# The uninstaller goes on in a copy of itself after its own process ends;
# the test waits for it, never times it.
UNINSTALL_WAIT_SECONDS = 120

FEED_PATH = ROOT + "\\feeds\\one.xml"
FEED_URL = "file:///C:/rssnotify-whole-run/feeds/one.xml"
FEED = """<?xml version="1.0" encoding="UTF-8"?>
<rss version="2.0"><channel>
<title>Feed title</title><link>http://feed.example/</link><description>Feed \u00e9</description>
<item><title>Title 1</title><link>http://feed.example/1</link><description>Text 1 \u20ac</description>
<pubDate>Mon, 01 Dec 2026 10:00:00 GMT</pubDate><author>Author 1</author><guid>guid-1</guid></item>
<item><title>Title 2</title><link>http://feed.example/2</link><description>Text 2</description>
<pubDate>Tue, 02 Dec 2026 10:00:00 GMT</pubDate><author>Author 2</author><guid>guid-2</guid></item>
</channel></rss>
"""
# The store of the first run: the converter puts the newest item first.
EXPECTED_STORE = (
    b'<?xml version="1.0" encoding="UTF-8"?>\n<rootrss>\n'
    b'\t<maintitle>Feed title</maintitle>\n\t<mainlink>http://feed.example/</mainlink>\n'
    b'\t<maindescription>Feed \xc3\xa9</maindescription>\n'
    b'\t<item>\n\t\t<title>Title 2</title>\n\t\t<description>Text 2</description>\n'
    b'\t\t<link>http://feed.example/2</link>\n'
    b'\t\t<pubDate>Tue, 02 Dec 2026 10:00:00 GMT</pubDate>\n'
    b'\t\t<author>Author 2</author>\n\t\t<GUID>guid-2</GUID>\n'
    b'\t\t<Status>Unread</Status>\n\t</item>\n'
    b'\t<item>\n\t\t<title>Title 1</title>\n'
    b'\t\t<description>Text 1 \xe2\x82\xac</description>\n'
    b'\t\t<link>http://feed.example/1</link>\n'
    b'\t\t<pubDate>Mon, 01 Dec 2026 10:00:00 GMT</pubDate>\n'
    b'\t\t<author>Author 1</author>\n\t\t<GUID>guid-1</GUID>\n'
    b'\t\t<Status>Unread</Status>\n\t</item>\n</rootrss>\n')


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def pe_subsystem(path):
    """The Subsystem field of a program's optional header (at the same place
    in PE32 and PE32+), after the signature and the 20-byte file header."""
    with open(path, "rb") as f:
        head = f.read(4096)
    at = struct.unpack_from("<I", head, 0x3C)[0]
    if head[at:at + 4] != b"PE\0\0":
        raise AssertionError("%s is no PE program" % path)
    return struct.unpack_from("<H", head, at + 4 + 20 + 68)[0]


class AgentSandbox(WineSandbox):
    """The agent's installation in the Wine prefix, without the programs:
    the setup program brings those."""

    def set_up(self):
        self.remove_all()
        os.makedirs(os.path.join(self.install, "qLUX", "Dovel"))
        os.makedirs(self.data)
        reg = os.path.join(self.wine.unix(ROOT), "product.reg")
        lines = ["Windows Registry Editor Version 5.00", "",
                 r"[HKEY_LOCAL_MACHINE\SOFTWARE\KESTRA]",
                 '"InstallationPath"=' + sandbox.reg_string(INSTALL)]
        lines += ['"%s"=%s' % (k, sandbox.reg_string(v)) for k, v in self.identity.items()]
        with open(reg, "w", encoding="utf-8", newline="") as f:
            f.write("\r\n".join(lines) + "\r\n")
        sandbox.wine_tool(self.wine.run, "reg", "import", ROOT + "\\product.reg", "/reg:32")
        feed = self.wine.unix(FEED_PATH)
        os.makedirs(os.path.dirname(feed))
        with open(feed, "w", encoding="utf-8", newline="") as f:
            f.write(FEED)

    def run(self, timeout=120, extra_env=None, program=None):
        self.started = test_whole_run.datetime.datetime.now()
        result = self.wine.run(self.wine.unix(INSTALL + "\\rssnotify.exe"), timeout=timeout,
                               check=False)
        self.finished = test_whole_run.datetime.datetime.now()
        return result


class InstallerTest(unittest.TestCase):
    maxDiff = None

    def setUp(self):
        self.wine = Wine(ARGS.wine, ARGS.prefix)
        self.box = AgentSandbox(self.wine)
        self.box.set_up()
        self.remove_registration()
        if not os.environ.get("RSSNOTIFY_KEEP"):
            self.addCleanup(self.box.remove_all)
            self.addCleanup(self.remove_registration)

    def remove_registration(self):
        for key in ("HKCR\\" + PROGID, "HKCR\\CLSID\\" + CLSID, UNINSTALL_KEY):
            self.wine.run("reg", "delete", key, "/f", check=False)

    def query(self, key, value=None):
        """The data of a registry value, or None when it is not there."""
        args = ["reg", "query", key] + (["/v", value] if value else ["/ve"])
        result = self.wine.run(*args, check=False)
        if result.returncode != 0:
            return None
        for line in result.stdout.decode("utf-8", "replace").splitlines():
            parts = line.strip().split(None, 2)
            if len(parts) >= 2 and parts[1].startswith("REG_"):
                return parts[2] if len(parts) == 3 else ""
        return None

    def installed(self, name):
        return self.wine.unix(INSTALL + "\\" + name)

    def agent_files(self):
        """Every file below the installation folder, by its path there."""
        found = []
        for folder, _, names in os.walk(self.box.install):
            for name in names:
                found.append(os.path.relpath(os.path.join(folder, name), self.box.install))
        return sorted(found)

    def install(self, *args):
        result = self.wine.run(ARGS.setup, "/S", *args, check=False, timeout=300)
        self.assertEqual(result.returncode, 0, result.stderr)

    def uninstall(self, folder=INSTALL):
        uninstaller = self.wine.unix(folder + "\\" + UNINSTALLER)
        result = self.wine.run(uninstaller, "/S", check=False, timeout=300)
        self.assertEqual(result.returncode, 0, result.stderr)
        deadline = time.monotonic() + UNINSTALL_WAIT_SECONDS
        while os.path.exists(uninstaller):
            if time.monotonic() > deadline:
                self.fail("the uninstaller did not end within %d s" % UNINSTALL_WAIT_SECONDS)
            time.sleep(0.2)

    def test_install_run_once_and_uninstall(self):
        box = self.box
        box.write_feed_template(FEED_URL)
        template = read_bytes(os.path.join(box.install, "qLUX", "Dovel", "qVMMenu.xml"))

        self.install()
        programs = PROGRAMS
        for name in programs:
            self.assertEqual(read_bytes(self.installed(name)),
                             read_bytes(os.path.join(ARGS.build, *name.split("\\"))), name)
        self.assertEqual(self.agent_files(), sorted(
            [os.path.join(*n.split("\\")) for n in programs] +
            [UNINSTALLER, os.path.join("qLUX", "Dovel", "qVMMenu.xml")]))
        uninstaller = '"%s\\%s"' % (INSTALL, UNINSTALLER)
        self.assertEqual(
            [self.query(UNINSTALL_KEY, v) for v in
             ("DisplayName", "InstallLocation", "UninstallString", "QuietUninstallString")],
            ["rssnotify", INSTALL, uninstaller, uninstaller + " /S"])
        # The component's registration, with its quoted path.
        self.assertEqual(self.query("HKCR\\%s\\CLSID" % PROGID), CLSID)
        self.assertEqual(self.query("HKCR\\CLSID\\%s\\LocalServer32" % CLSID),
                         '"%s\\%s"' % (INSTALL, COMPONENT))

        # One run of the installed product, the real converter included.
        result = box.run()
        self.assertEqual(result.returncode, 0, result.stderr)
        newest = ("http://feed.example/2", "Tue, 02 Dec 2026 10:00:00 GMT")
        lines = box.log_lines()
        expected = (box.startup_lines() + box.template_lines(FEED_URL) +
                    box.driver_start_lines(FEED_URL) + box.converter_lines(1, FEED_URL) +
                    box.parsed_lines() + box.store_lines(1, created=True) +
                    box.saved_lines(1, 2, *newest) + box.driver_end_lines(2))
        self.assertEqual(lines[:len(expected)], expected)
        # Shown and closed at its time-out (under xvfb-run, as the build's
        # script runs the tests), or, without a desktop, its failure logged
        # in one line: either way the popup ends the run.
        popup = lines[len(expected):]
        if len(popup) == 1 and popup[0].startswith("ERR : CallPopup, "):
            sys.stderr.write("\nthe popup was not shown: %s\n" % popup[0])
        else:
            self.assertEqual(popup, ["MSG : Popup timeout.", ENDED])
        self.assertEqual(read_bytes(box.store(1)), EXPECTED_STORE)
        self.assertEqual(read_bytes(box.state_file), (
            "[RSSLinks]\r\nTemplateID=T\r\nTemplateVersion=1\r\nUrls=%s\r\n"
            "[TotalNewRSS]\r\nNewRSSCount=2\r\n"
            "[Link_1_T_1]\r\nLatestGUID=%s\r\nLatestPubDate=%s\r\nNewRSSCount=2\r\n"
            % (FEED_URL, newest[0], newest[1])).encode("utf-8"))
        log = os.path.join(box.data, "ApplicationLog", "qLUXLog", box.expected_log_name())

        self.uninstall()
        self.assertEqual(self.agent_files(), [os.path.join("qLUX", "Dovel", "qVMMenu.xml")])
        self.assertEqual(read_bytes(os.path.join(box.install, "qLUX", "Dovel", "qVMMenu.xml")),
                         template)
        self.assertTrue(os.path.isfile(log))
        self.assertEqual(read_bytes(box.store(1)), EXPECTED_STORE)
        self.assertIsNone(self.query(UNINSTALL_KEY, "DisplayName"))
        self.assertIsNone(self.query("HKCR\\%s\\CLSID" % PROGID))
        self.assertIsNone(self.query("HKCR\\CLSID\\%s\\LocalServer32" % CLSID))


    def test_folder_given_on_the_command_line(self):
        """/D= names the folder, whatever the agent registered."""
        other = ROOT + "\\Elsewhere"  # no blank: /D= is taken to the end of the line, unquoted
        self.install("/D=" + other)
        for name in PROGRAMS + [UNINSTALLER]:
            self.assertTrue(os.path.isfile(self.wine.unix(other + "\\" + name)), name)
        self.assertEqual(self.agent_files(), [])
        self.assertEqual(self.query(UNINSTALL_KEY, "InstallLocation"), other)
        self.assertEqual(self.query("HKCR\\CLSID\\%s\\LocalServer32" % CLSID),
                         '"%s\\%s"' % (other, COMPONENT))
        self.uninstall(other)
        # Empty, its folders went too.
        self.assertFalse(os.path.exists(self.wine.unix(other)))
        self.assertIsNone(self.query(UNINSTALL_KEY, "DisplayName"))
        self.assertIsNone(self.query("HKCR\\%s\\CLSID" % PROGID))


class SubsystemTest(unittest.TestCase):
    def test_each_program_is_built_for_its_subsystem(self):
        self.assertEqual(
            {name: pe_subsystem(os.path.join(ARGS.build, *name.split("\\"))) for name in PROGRAMS},
            SUBSYSTEMS)


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--wine", required=True, help="scripts/wine.sh")
    parser.add_argument("--prefix", required=True, help="the Wine prefix")
    parser.add_argument("--setup", required=True, help="rssnotify-setup.exe")
    parser.add_argument("--build", required=True, help="the Windows build folder")
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest)


if __name__ == "__main__":
    main()
