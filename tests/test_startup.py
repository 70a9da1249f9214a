"""Start-up of the built program: installation, data folder, log, identity."""

import os
import subprocess
import unittest

import sandbox
from sandbox import STARS, FeedSandbox, Sandbox, linux_only
from test_feed_update import HEADER, NO_POPUP, item, stored

# Wine gives every program its own ALLUSERSPROFILE (C:\ProgramData),
# whatever the environment of the run says.
WINE_PROFILE = "Wine sets ALLUSERSPROFILE itself, whatever the environment says"


class StartupTest(unittest.TestCase):
    def sandbox(self, **kwargs):
        box = Sandbox(**kwargs)
        self.addCleanup(box.cleanup)
        return box

    def test_unusable_installation_path_ends_silently(self):
        absent = "C:\\no\\such\\folder" if sandbox.WINDOWS else "/no/such/folder"
        for install_path in (Sandbox.MISSING, "", "   ", absent):
            with self.subTest(install_path=install_path):
                box = self.sandbox(install_path=install_path)
                result = box.run()
                self.assertEqual(result.returncode, 0)
                self.assertEqual(result.stdout + result.stderr, b"")
                self.assertEqual(box.log_files(), [])
                self.assertFalse(os.path.exists(os.path.join(box.install, "ApplicationLog")))
                self.assertFalse(os.path.exists(os.path.join(box.data, "ApplicationLog")))

    def test_missing_template_ends_after_identity(self):
        box = self.sandbox()
        box.run()
        self.assertEqual(box.log_files(), [box.expected_log_name()])
        self.assertEqual(box.log_lines(), box.startup_lines() + [
            "MSG :" + box.install_path + "qLUX\\Dovel\\qVMMenu.xml is missing. ",
            "MSG : Application Ended"])
        for folder in ("ApplicationLog/qLUXLog", "LUXPostLogs", "qLUX/Dovel/RSSLinks"):
            self.assertTrue(os.path.isdir(os.path.join(box.data, folder)), folder)

    def test_existing_folders_are_not_created_again(self):
        box = self.sandbox()
        box.run()
        box.run()
        self.assertEqual(box.log_lines(), box.startup_lines(created=()) + [
            "MSG :" + box.install_path + "qLUX\\Dovel\\qVMMenu.xml is missing. ",
            "MSG : Application Ended"])

    def test_installation_path_ending_in_backslash_is_kept(self):
        box = self.sandbox()
        box.install_value = box.program_path(box.install) + "\\"
        box.write_registry()
        box.run()
        self.assertEqual(box.log_lines()[3],
                         "MSG : NOVR installation path : " + box.program_path(box.install) + "\\")

    @linux_only(WINE_PROFILE)
    def test_data_folder_follows_allusersprofile(self):
        cases = (("ProgramData", "ProgramData"), ("programdata", "x/PROGRAMDATA"),
                 ("All Users", "Documents and Settings/All Users"),
                 ("all users", "all users"))
        for label, profile_dir in cases:
            with self.subTest(label):
                box = self.sandbox()
                profile = os.path.join(box.root, profile_dir)
                box.all_users_profile = profile
                os.makedirs(box.data)  # the data folder itself is never created
                box.run()
                self.assertEqual(box.log_files(), [box.expected_log_name()])
                lines = box.log_lines()
                self.assertEqual(lines[:len(box.startup_lines())], box.startup_lines())
                self.assertTrue(os.path.isdir(os.path.join(box.data, "qLUX", "Dovel", "RSSLinks")))
                self.assertFalse(os.path.exists(os.path.join(box.install, "ApplicationLog")))

    @linux_only(WINE_PROFILE)
    def test_other_allusersprofile_uses_installation_folder(self):
        box = self.sandbox()
        box.all_users_profile = "/srv/shared"
        box.run()
        self.assertEqual(box.log_files(), [box.expected_log_name()])
        self.assertEqual(box.log_lines()[:len(box.startup_lines())], box.startup_lines())

    def test_missing_data_folder_ends_without_log(self):
        box = self.sandbox()
        if sandbox.WINDOWS:
            # C:\ProgramData\KESTRA, which the installer makes.
            os.rmdir(box.data)
        else:
            box.all_users_profile = os.path.join(box.root, "ProgramData")
        result = box.run()
        self.assertEqual(result.returncode, 0)
        self.assertFalse(os.path.exists(box.data))
        self.assertFalse(os.path.exists(os.path.join(box.install, "ApplicationLog")))

    def test_invalid_identity_ends_the_run_after_its_line(self):
        valid = {"RegID": "12ab", "siteid": "-3", "MemberID": " 7", "Type": "W"}
        for name, label, invalid_line in (("RegID", "RegId", "MSG : Invalid RegId"),
                                          ("siteid", "SiteID", "MSG : Invalid Siteid"),
                                          ("MemberID", "MemberID", "MSG : Invalid MemberID")):
            for bad in ("0", "00", "", "ab", "1e999"):
                with self.subTest(name=name, value=bad):
                    identity = dict(valid)
                    identity[name] = bad
                    box = self.sandbox(identity=identity)
                    box.run()
                    lines = box.startup_lines()
                    last = lines.index("MSG : %s : %s" % (label, bad))
                    self.assertEqual(box.log_lines(),
                                     lines[:last + 1] + [invalid_line, "MSG : Application Ended"])

    def test_missing_identity_value_is_invalid(self):
        box = self.sandbox(identity={"RegID": "5", "MemberID": "6", "Type": "T"})
        box.run()
        lines = box.startup_lines()
        self.assertEqual(box.log_lines(), lines[:lines.index("MSG : SiteID : ") + 1] +
                         ["MSG : Invalid Siteid", "MSG : Application Ended"])

    def test_second_run_same_day_starts_the_log_afresh(self):
        box = self.sandbox(identity={"RegID": "0", "siteid": "1", "MemberID": "1", "Type": ""})
        box.run()
        first = box.log_bytes()
        box.identity["RegID"] = "77"
        box.write_registry()
        box.run()
        lines = box.log_lines()
        self.assertEqual(lines.count(STARS), 2)
        self.assertIn("MSG : RegId : 77", lines)
        self.assertNotIn("MSG : Invalid RegId", lines)
        self.assertNotEqual(first, box.log_bytes())

    def test_a_feed_list_of_kept_blanks_ends_after_the_template_summary(self):
        # Plain blanks the XML layer drops before the reader sees them; these
        # it keeps, and only the reader's trim tells them from a feed list.
        for written, sites in (("<![CDATA[   ]]>", "   "), ("&#32;&#32;", "  ")):
            with self.subTest(written=written):
                box = FeedSandbox()
                self.addCleanup(box.cleanup)
                box.write_template(
                    "<vsrgetdoveltemplate><templateid>T</templateid><templatever>1</templatever>"
                    "<rss>1</rss><rsssites>%s</rsssites><rssupd>5</rssupd>"
                    "<qvmrssmsg>You have news</qvmrssmsg></vsrgetdoveltemplate>" % written)
                box.run()
                self.assertEqual(box.log_lines(), box.startup_lines() +
                                 box.template_lines(sites) + ["MSG : Application Ended"])
                self.assertEqual(os.listdir(box.rsslinks), [])


class DomainAccountTest(unittest.TestCase):
    maxDiff = None

    @linux_only("a copied passwd file in a mount namespace; GetUserNameA gives no domain")
    def test_a_domain_account_gets_one_file_per_name(self):
        if os.geteuid() != 0:
            self.skipTest("needs root for a mount namespace")
        box = FeedSandbox()
        self.addCleanup(box.cleanup)
        # winbind's default form for an Active Directory user.
        box.account = "CORP\\alice"
        with open("/etc/passwd", encoding="utf-8") as f:
            entries = [line.split(":") for line in f.read().splitlines()]
        passwd = os.path.join(box.root, "passwd")
        with open(passwd, "w", encoding="utf-8") as f:
            f.writelines(":".join([box.account] + e[1:] if e[2:3] == ["0"] else e) + "\n"
                         for e in entries)
        # The run sees the copy as /etc/passwd, and its own user as the account.
        prefix = ["unshare", "--mount", "--propagation", "private", "sh", "-c",
                  'mount --bind "$0" /etc/passwd && exec "$@"', passwd]
        if subprocess.run(prefix + ["true"], capture_output=True).returncode != 0:
            self.skipTest("no mount namespace here")

        a, b = item(1), item(2)
        url = box.feed("f.xml", [a, b])
        box.write_feed_template(url)
        box.run(prefix=prefix)
        self.assertEqual(box.log_files(), [box.expected_log_name()])
        self.assertTrue(box.log_files()[0].endswith("_CORP_alice.txt"))
        self.assertEqual(
            box.log_lines(),
            box.startup_lines() + box.template_lines(url) + box.driver_start_lines(url) +
            box.converter_lines(1, url) + box.parsed_lines() + box.store_lines(1, created=True) +
            box.saved_lines(1, 2, a["link"], a["pubdate"]) + box.driver_end_lines(2) + [NO_POPUP])
        # The UTF-16 copy was one file too, and is gone.
        self.assertEqual(sorted(os.listdir(box.rsslinks)),
                         ["LastUpdates_CORP_alice.ini", box.store_name(1), "Temp_RSS.xml"])
        self.assertEqual(box.store_items(1), HEADER + [stored(a), stored(b)])
        # The viewer finds the same update-state file.
        viewer = box.run(prefix=prefix, program=sandbox.VIEWER)
        self.assertEqual(viewer.returncode, 0, viewer.stderr)
        self.assertEqual(box.store_items(1), HEADER + [stored(a, "Read"), stored(b, "Read")])


if __name__ == "__main__":
    unittest.main()
