"""A data folder that other users can write in: links planted in the way of
the run's files, programs planted beside an installation path with blanks,
URLs with blanks, leftovers of killed runs, and the modes of what a run
creates."""

import os
import shutil
import stat
import subprocess
import unittest

from sandbox import (BUILD_DIR, FeedSandbox, PROGRAM, STARS, append, convert, linux_only,
                     sleep, user_name, write_script)

UNIX_MODES = ("Unix file modes, groups and users; on Windows the data folder's access is the "
              "installer's ACLs")
from test_feed_update import ENDED, HEADER, item, stored

SECRET = b"another user's private file\r\n\x00\xff"


@linux_only("symbolic links planted by other users of a folder with Unix "
            "modes; creating one on Windows takes a privilege users lack")
class PlantedLinkTest(unittest.TestCase):
    """A link at the place of a file the run writes, pointing to a file
    outside the data folder: the target keeps its bytes and mode, and the
    run logs an ERR line naming the path."""

    maxDiff = None

    def setUp(self):
        self.box = FeedSandbox()
        self.addCleanup(self.box.cleanup)
        outside = os.path.join(self.box.root, "outside")
        os.makedirs(outside)
        self.target = os.path.join(outside, "private.txt")
        self.secret = SECRET
        with open(self.target, "wb") as f:
            f.write(SECRET)
        os.chmod(self.target, 0o600)
        self.a = item(1)
        self.url = self.box.feed("f.xml", [self.a])
        self.box.write_feed_template(self.url)

    def assert_target_untouched(self):
        with open(self.target, "rb") as f:
            self.assertEqual(f.read(), self.secret)
        self.assertEqual(stat.S_IMODE(os.stat(self.target).st_mode), 0o600)

    def plant(self, path):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        os.symlink(self.target, path)

    def test_link_at_the_log(self):
        box = self.box
        box.run()  # makes the folders; the day's log is then replaced by a link
        log_name = box.expected_log_name()
        log = os.path.join(box.data, "ApplicationLog", "qLUXLog", log_name)
        os.unlink(log)
        self.plant(log)
        box.run()
        self.assert_target_untouched()
        self.assertFalse(os.path.islink(log))
        lines = box.log_lines()
        a, url = self.a, self.url
        self.assertEqual(lines, [
            STARS, "MSG : Application started", STARS,
            "ERR : InitEnvironment, a symbolic link stood at " + box.data_path +
            "ApplicationLog\\qLUXLog\\" + log_name +
            "; it was removed and the file it points to left untouched"] +
            box.startup_lines(created=())[3:] + box.template_lines(url) +
            box.driver_start_lines(url, "1") + box.converter_lines(1, url) + box.parsed_lines() +
            box.store_lines(1, created=False, last=(a["link"], a["pubdate"], "1")) +
            box.saved_lines(1, 0) + box.driver_end_lines(0) + [ENDED])

    def test_link_at_the_utf16_copy(self):
        box = self.box
        copy_name = "Temp_RSS_UniCode_%s.xml" % user_name()
        self.plant(os.path.join(box.rsslinks, copy_name))
        box.run()
        self.assert_target_untouched()
        self.assertFalse(os.path.lexists(os.path.join(box.rsslinks, copy_name)))
        lines = box.log_lines()
        line = ("ERR : fncParseRSSSite : a symbolic link stood at " + box.data_path +
                "QLUX\\Dovel\\RSSLinks\\" + copy_name +
                "; it was removed and the file it points to left untouched")
        at = lines.index(line)
        self.assertEqual(lines[at - 1], "MSG : fncParseRSSSite :  sXMLFiletemp" + box.temp_path)
        self.assertEqual(lines[at + 1:at + 2], box.parsed_lines())
        # The feed is still brought up to date.
        self.assertEqual(box.store_items(1)[3:], [stored(self.a)])

    def test_link_at_a_store(self):
        box = self.box
        # A target that would load as a store: a run reading through the link
        # would copy it into a shared one.
        self.secret = (b"<?xml version=\"1.0\"?><rootrss><maintitle>private</maintitle>"
                       b"<mainlink/><maindescription/></rootrss>")
        with open(self.target, "wb") as f:
            f.write(self.secret)
        self.plant(box.store(1))
        box.run()
        self.assert_target_untouched()
        self.assertTrue(os.path.islink(box.store(1)))
        lines = box.log_lines()
        at = lines.index("MSG : fncParseRSSSite :  Loading the XML file " + box.store_path(1))
        self.assertEqual(lines[at + 1:], [
            "ERR :  fncParseRSSSite : Failed to load " + box.store_path(1),
            "MSG : Writing [TotalNewRSS] NewRSSCount=0 to file " + box.state_path,
            "MSG : Total New RSS after updates :: 0", ENDED])

    def test_link_at_the_update_state_file(self):
        box = self.box
        self.plant(box.state_file)
        box.run()
        self.assert_target_untouched()
        self.assertTrue(os.path.islink(box.state_file))
        lines = box.log_lines()
        # Every write is refused; the line before each failure names the file.
        writes = [i for i, l in enumerate(lines) if l.startswith("MSG : Writing [")]
        self.assertEqual(len(writes), 8)
        for i in writes:
            self.assertTrue(lines[i].endswith(" to file " + box.state_path), lines[i])
            self.assertEqual(lines[i + 1], "ERR : Failed to write to the INI")


class InstallationWithBlanksTest(unittest.TestCase):
    maxDiff = None

    def test_planted_program_never_runs_and_the_url_arrives_whole(self):
        box = FeedSandbox(install_name="Kestra Agent", converter_delay=None)
        self.addCleanup(box.cleanup)
        planted_record = os.path.join(box.root, "planted-ran")
        for name in ("Kestra", "Kestra.exe"):
            box.install_scripted(os.path.join(box.root, name),
                                 [append(planted_record, "%# %1\n")])
        record = os.path.join(box.root, "converter-args")
        box.install_converter(steps=[sleep(200), append(record, "%#|%1|\n"), convert()])
        box.install_scripted(os.path.join(box.install, "qLUX", "qVMRSS.exe"),
                             [append(record, "viewer|%#|")])
        a, b = item(1), item(2)
        url = box.feed("feed with blanks.xml", [a, b])
        self.assertIn(" ", url)
        box.write_feed_template(url)
        box.register_popup("BSTR:CLICK")
        box.run()
        lines = box.log_lines()
        start = lines.index("MSG : In fncPopulateRSSLinks")
        # The log shows the command lines as before.
        self.assertEqual(lines[start + 7:start + 13], box.converter_lines(1, url))
        viewer = box.install_path + "qLUX\\qVMRSS.exe"
        self.assertEqual(lines[-3:], ["MSG : fncExecuteShell :: " + viewer,
                                      "ERR : Successfully Executed, " + viewer, ENDED])
        self.assertEqual(box.store_items(1)[3:], [stored(a), stored(b)])
        for _ in range(100):
            with open(record) as f:
                if "viewer" in f.read():
                    break
            import time
            time.sleep(0.05)
        with open(record) as f:
            self.assertEqual(f.read(), "1|%s|\nviewer|0|" % url)
        self.assertFalse(os.path.exists(planted_record))


class LeftoverTest(unittest.TestCase):
    maxDiff = None

    def test_leftovers_of_killed_runs_are_removed_and_nothing_else(self):
        box = FeedSandbox()
        self.addCleanup(box.cleanup)
        box.write_feed_template(box.feed("f.xml", [item(1)]))
        box.run()
        leftovers = [".%s.tmp-a1B2c3" % box.store_name(1),
                     ".LastUpdates_%s.ini.tmp-XyZ789" % user_name(),
                     ".Temp_RSS.xml.tmp-000000"]
        kept = ["notes.tmp-abcdef", ".short.tmp-abc", ".x.tmp-abcdefg", "keep.txt"]
        for name in leftovers + kept:
            with open(os.path.join(box.rsslinks, name), "wb") as f:
                f.write(b"x" * 1000)
        before = set(os.listdir(box.rsslinks))
        box.run()
        self.assertEqual(set(os.listdir(box.rsslinks)), before - set(leftovers))
        lines = box.log_lines()
        identity_end = lines.index("MSG : Type : W")
        self.assertEqual(lines[identity_end + 1:identity_end + 4], [
            "MSG : Removing leftover temporary file " + box.data_path +
            "qLUX\\Dovel\\RSSLinks\\" + name for name in sorted(leftovers)])
        self.assertEqual(lines[identity_end + 4], "MSG : in fncParseLUXTemplateXML")


@linux_only(UNIX_MODES)
class ModesTest(unittest.TestCase):
    """What a run creates: folders for owner and group (keeping the
    set-group-ID bit of a shared folder), files owner read-write and group
    read, nothing for other users, whatever the umask."""

    def test_modes_in_a_shared_folder(self):
        for umask in (0o022, 0o077, 0o000):
            with self.subTest(umask=oct(umask)):
                box = FeedSandbox()
                self.addCleanup(box.cleanup)
                box.write_feed_template(box.feed("f.xml", [item(1)]))
                made_by_sandbox = [box.install, os.path.join(box.install, "qLUX"),
                                   os.path.join(box.install, "qLUX", "Dovel")]
                for folder in made_by_sandbox:
                    os.chmod(folder, 0o2770)
                old = os.umask(umask)
                try:
                    box.run()
                finally:
                    os.umask(old)
                group = os.stat(box.install).st_gid
                seen = 0
                for folder, dirs, files in os.walk(box.install):
                    for name in dirs:
                        path = os.path.join(folder, name)
                        if path in made_by_sandbox:
                            continue
                        self.assertEqual(stat.S_IMODE(os.stat(path).st_mode), 0o2770, path)
                        self.assertEqual(os.stat(path).st_gid, group, path)
                        seen += 1
                    for name in files:
                        path = os.path.join(folder, name)
                        # The agent's template and the scripted converter and
                        # its output are not the run's files.
                        if name in ("qVMMenu.xml", "FeedPull.exe", "Temp_RSS.xml"):
                            continue
                        self.assertEqual(stat.S_IMODE(os.lstat(path).st_mode), 0o640, path)
                        self.assertEqual(os.stat(path).st_gid, group, path)
                        seen += 1
                self.assertGreaterEqual(seen, 7)



@unittest.skipUnless(os.geteuid() == 0 and shutil.which("setpriv"),
                     "runs the program as other users: needs root and setpriv")
@linux_only(UNIX_MODES)
class SeveralUsersTest(unittest.TestCase):
    """Two users, members of one group, take turns on a data folder set up
    as the README says: each one's run reads and replaces what the other's
    run and converter left."""

    maxDiff = None
    GROUP = 54321
    USERS = (("alice", 54001), ("bob", 54002))

    def setUp(self):
        box = self.box = FeedSandbox()
        self.addCleanup(box.cleanup)
        os.chmod(box.root, 0o755)
        os.chmod(box.feeds_dir, 0o755)
        os.chmod(box.registry_file, 0o644)
        for folder in ("ApplicationLog", "ApplicationLog/qLUXLog", "LUXPostLogs",
                       "qLUX/Dovel/RSSLinks"):
            path = os.path.join(box.install, folder)
            os.makedirs(path, exist_ok=True)
            os.chown(path, 0, self.GROUP)
            os.chmod(path, 0o2770)
        lock = os.path.join(box.install, "rssnotify.lock")
        open(lock, "w").close()
        os.chown(lock, 0, self.GROUP)
        os.chmod(lock, 0o640)

    def run_as(self, name, uid):
        env = self.box.env()
        env["USER"] = name
        result = subprocess.run(
            ["setpriv", "--reuid=%d" % uid, "--regid=%d" % self.GROUP, "--clear-groups",
             PROGRAM], env=env, stdin=subprocess.DEVNULL, capture_output=True, timeout=120)
        self.assertEqual(result.returncode, 0, result.stderr)

    def offer(self, items):
        url = self.box.feed("f.xml", items)
        os.chmod(url, 0o644)
        return url

    def test_users_take_turns_on_one_store(self):
        box = self.box
        (alice, alice_uid), (bob, bob_uid) = self.USERS
        a, b, c = item(1), item(2), item(3)
        box.write_feed_template(self.offer([a]))
        self.run_as(alice, alice_uid)
        self.offer([b, a])
        self.run_as(bob, bob_uid)
        self.offer([c, b, a])
        self.run_as(alice, alice_uid)
        self.assertEqual(box.store_items(1), [stored(c), stored(b)] + HEADER + [stored(a)])
        # Bob's converter replaced alice's output, and alice's bob's.
        converted = os.stat(os.path.join(box.rsslinks, "Temp_RSS.xml"))
        self.assertEqual(converted.st_uid, alice_uid)
        logs = os.path.join(box.data, "ApplicationLog", "qLUXLog")
        names = sorted(os.listdir(logs))
        self.assertEqual([n.rsplit("_", 1)[1] for n in names], ["alice.txt", "bob.txt"])
        for folder, dirs, files in os.walk(box.install):
            for name in files + dirs:
                path = os.path.join(folder, name)
                st = os.lstat(path)
                if path.startswith(box.rsslinks) or path.startswith(logs):
                    self.assertEqual(st.st_gid, self.GROUP, path)
                    if name in files and name != "Temp_RSS.xml":
                        self.assertEqual(stat.S_IMODE(st.st_mode), 0o640, path)
                self.assertEqual(st.st_mode & 0o002, 0, path)


@linux_only(UNIX_MODES)
class InstallTest(unittest.TestCase):
    def test_install_makes_the_data_folders_shareable(self):
        prefix = os.path.join(BUILD_DIR, "install test")
        shutil.rmtree(prefix, ignore_errors=True)
        self.addCleanup(shutil.rmtree, prefix, True)
        subprocess.run(["cmake", "--install", BUILD_DIR, "--prefix", prefix], check=True,
                       capture_output=True, timeout=120)
        modes = {}
        for folder, dirs, files in os.walk(prefix):
            for name in dirs + files:
                path = os.path.join(folder, name)
                modes[os.path.relpath(path, prefix)] = stat.S_IMODE(os.lstat(path).st_mode)
        for folder in ("ApplicationLog", "ApplicationLog/qLUXLog", "LUXPostLogs",
                       "qLUX/Dovel/RSSLinks"):
            self.assertEqual(modes.pop(folder), 0o2770, folder)
        self.assertEqual(modes.pop("rssnotify.lock"), 0o640)
        # The programs and the folders that hold them: nobody but the owner writes.
        for path, mode in modes.items():
            self.assertEqual(mode & 0o022, 0, path)


if __name__ == "__main__":
    unittest.main()
