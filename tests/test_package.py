"""The Debian package, as an administrator rolls it out.

The package is made with CPack from the build, installed with dpkg into a
root folder of its own (`dpkg --root`, the maintainer scripts run with
DPKG_ROOT instead of a chroot, so the test machine's own installation is
never touched), checked file by file, used for a demo run by an unprivileged
member of the data folders' group, aged by its tmpfiles.d rule, and removed.
"""

import datetime
import glob
import os
import re
import shutil
import subprocess
import tempfile
import unittest
import xml.etree.ElementTree as ET

from sandbox import BUILD_DIR, reg_string
import sandbox

setUpModule = sandbox.linux_only_module(
    "the Debian package, its maintainer scripts and systemd units")

HERE = os.path.dirname(os.path.abspath(__file__))
DEMO_FEEDS = os.path.join(HERE, "..", "demo", "feeds")
FOLDER = "/opt/kestra"
GROUP = "rssnotify"
PROGRAMS = ["/opt/kestra/rssnotify", "/opt/kestra/rssnotify-messagebox.so",
            "/opt/kestra/qLUX/FeedPull.exe", "/opt/kestra/qLUX/qVMRSS.exe",
            "/opt/kestra/qLUX/flarebox-display"]
SYSTEM_FILES = ["/etc/rssnotify/registry.reg",
                "/usr/lib/systemd/user/rssnotify.service",
                "/usr/lib/systemd/user/rssnotify.timer",
                "/usr/lib/tmpfiles.d/rssnotify.conf",
                "/usr/lib/sysusers.d/rssnotify.conf"]
# Made on the machine by the package's tmpfiles.d rule, not shipped.
LOCK_FILE = "/opt/kestra/rssnotify.lock"
DATA_FOLDERS = ["/opt/kestra/ApplicationLog/qLUXLog", "/opt/kestra/qLUX/Dovel/RSSLinks",
                "/opt/kestra/LUXPostLogs"]
TIMER_LINK = "/etc/systemd/user/graphical-session.target.wants/rssnotify.timer"
NOBODY = 65534


def missing_tools():
    return [tool for tool in ("cpack", "dpkg", "dpkg-deb", "systemctl", "systemd-analyze",
                              "systemd-tmpfiles", "systemd-sysusers", "readelf")
            if shutil.which(tool) is None]


def run(args, **kwargs):
    result = subprocess.run(args, capture_output=True, text=True, stdin=subprocess.DEVNULL,
                            timeout=600, **kwargs)
    if result.returncode != 0:
        raise AssertionError("%s failed (%d):\n%s%s" % (" ".join(args), result.returncode,
                                                        result.stdout, result.stderr))
    return result


def plain_install(work):
    """The files a plain `cmake --install` puts in an installation folder, as
    paths below /opt/kestra: the package holds exactly these there."""
    prefix = os.path.join(work, "plain")
    run(["cmake", "--install", BUILD_DIR, "--prefix", prefix])
    files = []
    for folder, _, names in os.walk(prefix):
        files += [FOLDER + os.path.join(folder, name)[len(prefix):] for name in names]
    return sorted(files)


def is_elf(path):
    with open(path, "rb") as f:
        return f.read(4) == b"\x7fELF"


def build_package(work):
    """The package as `cpack -G DEB` makes it from the build tree."""
    run(["cpack", "-G", "DEB", "--config", os.path.join(BUILD_DIR, "CPackConfig.cmake"),
         "-B", work])
    debs = glob.glob(os.path.join(work, "*.deb"))
    assert len(debs) == 1, debs
    return debs[0]


def owning_package(path):
    """The package that installed a library (dpkg knows it by the path it
    unpacked, with or without the /usr of a merged /usr)."""
    real = os.path.realpath(path)
    for candidate in (path, real, re.sub(r"^/usr/", "/", path), re.sub(r"^/usr/", "/", real)):
        result = subprocess.run(["dpkg-query", "-S", candidate], capture_output=True, text=True)
        if result.returncode == 0:
            return result.stdout.split(":")[0]
    raise AssertionError("no package installed " + path)


def feed_entries(path):
    root = ET.parse(path).getroot()
    return len(root.findall("./channel/item")) + len(
        root.findall("{http://www.w3.org/2005/Atom}entry"))


@unittest.skipIf(missing_tools(), "tools for the package missing: %s" % " ".join(missing_tools()))
class PackageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="rssnotify-package-")
        cls.deb = build_package(os.path.join(cls.work, "cpack"))
        # A plain install also makes the data folders and the run lock's
        # file; the package leaves those to its tmpfiles.d rule.
        cls.layout = [p for p in plain_install(cls.work) if p != LOCK_FILE]

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def control(self, field):
        return run(["dpkg-deb", "-f", self.deb, field]).stdout.strip()

    def test_dependencies_are_the_packages_of_the_shared_libraries(self):
        depends = {re.sub(r"\s*\(.*\)", "", d).strip() for d in self.control("Depends").split(",")}
        extracted = os.path.join(self.work, "extracted")
        run(["dpkg-deb", "-x", self.deb, extracted])
        libraries = {}
        for line in run(["ldconfig", "-p"]).stdout.splitlines():
            m = re.match(r"\s+(\S+) \(libc6,x86-64[^)]*\) => (\S+)", line)
            if m:
                libraries.setdefault(m.group(1), m.group(2))
        needed_packages = set()
        for program in [p for p in self.layout if is_elf(extracted + p)]:
            dynamic = run(["readelf", "-d", extracted + program]).stdout
            for soname in re.findall(r"\(NEEDED\)\s+Shared library: \[(.+)\]", dynamic):
                self.assertIn(soname, libraries, program)
                needed_packages.add(owning_package(libraries[soname]))
        # Every library's package is declared, and nothing else but systemd,
        # whose tools the maintainer scripts use, and libcurl's, which
        # FeedPull.exe loads at run time without linking it.
        self.assertNotIn("libcurl4", needed_packages)
        self.assertEqual(depends, needed_packages | {"systemd", "libcurl4"})

    def test_units_pass_systemd_analyze_verify(self):
        extracted = os.path.join(self.work, "units")
        run(["dpkg-deb", "-x", self.deb, extracted])
        units = os.path.join(extracted, "usr/lib/systemd/user")
        with open(os.path.join(units, "rssnotify.service"), encoding="utf-8") as f:
            service = f.read()
        self.assertEqual(re.findall(r"^ExecStart=.*$", service, re.M),
                         ["ExecStart=/opt/kestra/rssnotify"])
        with open(os.path.join(units, "rssnotify.timer"), encoding="utf-8") as f:
            timer = f.read()
        settings = [line for line in timer.splitlines() if line and line[0] not in "#["]
        self.assertEqual(settings, ["Description=Start rssnotify at log-in and every hour",
                                    "PartOf=graphical-session.target",
                                    "OnActiveSec=1min", "OnUnitActiveSec=1h",
                                    "RandomizedDelaySec=3min",
                                    "WantedBy=graphical-session.target"])
        # The service names the program where the package put it; verify
        # checks that it is there, so point it at the extracted copy.
        with open(os.path.join(units, "rssnotify.service"), "w", encoding="utf-8") as f:
            f.write(service.replace("ExecStart=/opt/kestra/", "ExecStart=%s/opt/kestra/" % extracted))
        runtime = os.path.join(self.work, "runtime")
        os.makedirs(runtime, mode=0o700, exist_ok=True)
        env = dict(os.environ, XDG_RUNTIME_DIR=runtime)
        result = subprocess.run(["systemd-analyze", "--user", "verify",
                                 os.path.join(units, "rssnotify.service"),
                                 os.path.join(units, "rssnotify.timer")],
                                capture_output=True, text=True, env=env, timeout=120)
        self.assertEqual((result.returncode, result.stdout, result.stderr), (0, "", ""))

    @unittest.skipUnless(os.geteuid() == 0, "dpkg installs owned by root only as root")
    def test_install_demo_run_ageing_and_removal(self):
        root = os.path.join(self.work, "root")
        self.make_root(root)
        dpkg = ["dpkg", "--root=" + root, "--force-script-chrootless", "--force-depends"]
        run(dpkg + ["-i", self.deb])

        # The files: the programs in the README's layout (and whatever else a
        # plain install puts there), the system files, the conffile.
        self.assertEqual(sorted(set(PROGRAMS) - set(self.layout)), [])
        self.assertEqual(self.installed_files(root), sorted(self.layout + SYSTEM_FILES))
        for program in PROGRAMS:
            st = os.stat(root + program)
            # The message box's desktop module is loaded, never started.
            mode = "0o644" if program.endswith(".so") else "0o755"
            self.assertEqual((oct(st.st_mode & 0o7777), st.st_uid, st.st_gid), (mode, 0, 0))
        conffiles = run(["dpkg-query", "--admindir=" + root + "/var/lib/dpkg", "-W",
                         "-f=${Conffiles}", "rssnotify"]).stdout.split()
        self.assertEqual(conffiles[0::2], ["/etc/rssnotify/registry.reg"])
        with open(root + "/etc/rssnotify/registry.reg", encoding="utf-8") as f:
            self.assertIn('"InstallationPath"="/opt/kestra"\n', f.read())

        # The group and the data folders shared by the desktop's users.
        gid = self.group_id(root)
        for folder in DATA_FOLDERS:
            st = os.stat(root + folder)
            self.assertEqual((oct(st.st_mode & 0o7777), st.st_uid, st.st_gid), ("0o2770", 0, gid),
                             folder)
        st = os.stat(root + LOCK_FILE)
        self.assertEqual((oct(st.st_mode & 0o7777), st.st_uid, st.st_gid), ("0o640", 0, gid))
        # The timer is enabled for every user's graphical session; an upgrade
        # keeps an administrator's disable.
        self.assertEqual(os.readlink(root + TIMER_LINK), "/usr/lib/systemd/user/rssnotify.timer")
        run(["systemctl", "--root=" + root, "--global", "disable", "rssnotify.timer"])
        run(dpkg + ["-i", self.deb])
        self.assertFalse(os.path.lexists(root + TIMER_LINK))
        run(["systemctl", "--root=" + root, "--global", "enable", "rssnotify.timer"])

        # A demo run by an unprivileged member of the group.
        self.demo_run(root, gid)

        # Ageing: a log unchanged for 31 days goes, one of 29 days stays;
        # a rule of the same name in /etc/tmpfiles.d takes the package's place.
        logs = root + DATA_FOLDERS[0]
        todays = sorted(os.listdir(logs))
        self.age_file(os.path.join(logs, "rssnotify__10012026_nobody.txt"), 31)
        self.age_file(os.path.join(logs, "rssnotify__11012026_nobody.txt"), 29)
        run(["systemd-tmpfiles", "--clean", "--root=" + root, "rssnotify.conf"])
        self.assertEqual(sorted(os.listdir(logs)), sorted(todays + ["rssnotify__11012026_nobody.txt"]))
        self.age_file(os.path.join(logs, "rssnotify__10012026_nobody.txt"), 59)
        os.makedirs(root + "/etc/tmpfiles.d")
        with open(root + "/usr/lib/tmpfiles.d/rssnotify.conf", encoding="utf-8") as f:
            rule = f.read()
        with open(root + "/etc/tmpfiles.d/rssnotify.conf", "w", encoding="utf-8") as f:
            f.write(rule.replace(" m:30d", " m:60d"))
        run(["systemd-tmpfiles", "--clean", "--root=" + root, "rssnotify.conf"])
        self.assertEqual(sorted(os.listdir(logs)),
                         sorted(todays + ["rssnotify__10012026_nobody.txt",
                                          "rssnotify__11012026_nobody.txt"]))
        os.remove(root + "/etc/tmpfiles.d/rssnotify.conf")

        # Removal keeps the configuration and the data; a purge takes all.
        run(dpkg + ["-r", "rssnotify"])
        self.assertEqual(self.tree(root), sorted(
            ["/etc/rssnotify/registry.reg"] +
            ["/opt/kestra/ApplicationLog/qLUXLog/" + name for name in os.listdir(logs)] +
            ["/opt/kestra/qLUX/Dovel/RSSLinks/" + name
             for name in os.listdir(root + DATA_FOLDERS[1])] +
            ["/opt/kestra/qLUX/Dovel/qVMMenu.xml"]))
        self.assertEqual(os.readlink(root + TIMER_LINK), "/usr/lib/systemd/user/rssnotify.timer")
        run(dpkg + ["--purge", "rssnotify"])
        self.assertEqual(self.tree(root), [])
        self.assertFalse(os.path.lexists(root + TIMER_LINK))
        self.assertEqual(sorted(os.listdir(root)), ["etc", "var"])

    # --- helpers ---------------------------------------------------------
    def make_root(self, root):
        """An empty system for dpkg: its database and a user database."""
        for folder in ("var/lib/dpkg/updates", "var/lib/dpkg/info", "etc"):
            os.makedirs(os.path.join(root, folder))
        open(os.path.join(root, "var/lib/dpkg/status"), "w").close()
        with open(os.path.join(root, "etc/passwd"), "w") as f:
            f.write("root:x:0:0:root:/root:/bin/sh\nnobody:x:65534:65534:nobody:/:/bin/false\n")
        with open(os.path.join(root, "etc/group"), "w") as f:
            f.write("root:x:0:\nnogroup:x:65534:\n")
        os.chmod(self.work, 0o755)
        os.chmod(root, 0o755)

    def installed_files(self, root):
        listed = run(["dpkg-query", "--admindir=" + root + "/var/lib/dpkg", "-L",
                      "rssnotify"]).stdout.split("\n")
        files = sorted(p for p in listed if p and os.path.isfile(root + p))
        self.assertEqual(files, self.tree(root))  # and nothing else lies there
        return files

    def tree(self, root):
        """Every file and link outside dpkg's own and the user database."""
        found = []
        for top in ("opt", "usr", "etc"):
            for folder, _, names in os.walk(os.path.join(root, top)):
                for name in names:
                    path = os.path.join(folder, name)[len(root):]
                    if path.startswith("/etc/") and re.match(
                            r"/etc/(passwd|group|gshadow|shadow|\.pwd\.lock)-?$", path):
                        continue
                    if path in (TIMER_LINK, LOCK_FILE):
                        continue
                    found.append(path)
        return sorted(found)

    def group_id(self, root):
        with open(root + "/etc/group", encoding="utf-8") as f:
            for line in f:
                fields = line.rstrip("\n").split(":")
                if fields[0] == GROUP:
                    return int(fields[2])
        self.fail("no group %s in the installed system" % GROUP)

    @staticmethod
    def age_file(path, days):
        if not os.path.exists(path):
            open(path, "w").close()
        when = (datetime.datetime.now() - datetime.timedelta(days=days)).timestamp()
        os.utime(path, (when, when))

    def demo_run(self, root, gid):
        feeds = os.path.join(self.work, "feeds")
        os.makedirs(feeds)
        for name in ("kestra-news.xml", "kestra-status.xml"):
            shutil.copy(os.path.join(DEMO_FEEDS, name), feeds)
        sites = "file://%s/kestra-news.xml@#@file://%s/kestra-status.xml" % (feeds, feeds)
        with open(root + "/opt/kestra/qLUX/Dovel/qVMMenu.xml", "w", encoding="utf-8") as f:
            f.write("<vsrgetdoveltemplate><templateid>DEMO</templateid>"
                    "<templatever>1</templatever><rss>1</rss><rsssites>%s</rsssites>"
                    "<rssupd>60</rssupd><qvmrssmsg>You have news</qvmrssmsg>"
                    "</vsrgetdoveltemplate>" % sites)
        # The installed registry file with the installation folder moved into
        # the test's root.
        with open(root + "/etc/rssnotify/registry.reg", encoding="utf-8") as f:
            registry = f.read().replace('"/opt/kestra', reg_string(root + FOLDER)[:-1])
        registry_file = os.path.join(self.work, "registry.reg")
        with open(registry_file, "w", encoding="utf-8") as f:
            f.write(registry)
        env = {"PATH": "/usr/bin:/bin", "HOME": "/nonexistent", "LANG": "C.UTF-8",
               "RSSNOTIFY_REGISTRY": registry_file,
               "DBUS_SESSION_BUS_ADDRESS": "unix:path=/nonexistent/bus",
               "XDG_CACHE_HOME": "/nonexistent"}
        result = subprocess.run([root + "/opt/kestra/rssnotify"], env=env, cwd="/",
                                stdin=subprocess.DEVNULL, capture_output=True, timeout=300,
                                user=NOBODY, group=NOBODY, extra_groups=[gid])
        logs = root + DATA_FOLDERS[0]
        names = os.listdir(logs)
        self.assertEqual(names, ["rssnotify__%s_nobody.txt" % datetime.date.today().strftime(
            "%m%d%Y")], result.stderr)
        with open(os.path.join(logs, names[0]), encoding="utf-8", newline="") as f:
            lines = [line.split("\t", 1)[1] for line in f.read().split("\r\n") if line]
        total = feed_entries(os.path.join(feeds, "kestra-news.xml")) + feed_entries(
            os.path.join(feeds, "kestra-status.xml"))
        self.assertIn("MSG : Total New RSS after updates :: %d" % total, lines)
        stores = root + DATA_FOLDERS[1]
        for n, name in ((1, "kestra-news.xml"), (2, "kestra-status.xml")):
            store = ET.parse(os.path.join(stores, "Link_%d_DEMO_1.xml" % n)).getroot()
            self.assertEqual([s.text for s in store.findall("./item/Status")],
                             ["Unread"] * feed_entries(os.path.join(feeds, name)))
        # What the run made belongs to the group, so that every member's runs
        # can go on with it.
        for path in [os.path.join(logs, names[0])] + glob.glob(stores + "/*"):
            self.assertEqual(os.stat(path).st_gid, gid, path)


if __name__ == "__main__":
    unittest.main()
