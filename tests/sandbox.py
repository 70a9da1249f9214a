"""A sandbox installation of rssnotify for tests of the built programs.

Each Sandbox is a temporary folder holding an agent installation folder, a
registry file (the Linux stand-in for the Windows registry) and whatever
scripted companions a test puts there. `run()` starts the built rssnotify the
way the agent does: no arguments, its environment naming the registry file.
"""

import datetime
import os
import re
import shutil
import stat
import subprocess
import tempfile

BUILD_DIR = os.environ.get(
    "RSSNOTIFY_BUILD_DIR",
    os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "build"))
SHARED_DIR = os.environ.get(
    "RSSNOTIFY_SHARED_DIR",
    os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "shared"))
PROGRAM = os.path.join(BUILD_DIR, "rssnotify")

STARS = "*" * 85
LINE = re.compile(r"^(\d\d)/(\d\d)/(\d{4}) (\d\d):(\d\d):(\d\d)\t(.*)$", re.S)

DEFAULT_IDENTITY = {"RegID": "1001", "siteid": "2002", "MemberID": "3003", "Type": "W"}


def reg_string(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def user_name():
    import pwd
    return pwd.getpwuid(os.geteuid()).pw_name


def write_script(path, body):
    """Writes an executable script (the body gets a /bin/sh shebang unless it has one)."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    if not body.startswith("#!"):
        body = "#!/bin/sh\n" + body
    with open(path, "w", encoding="utf-8") as f:
        f.write(body)
    os.chmod(path, os.stat(path).st_mode | stat.S_IXUSR | stat.S_IXGRP | stat.S_IXOTH)


class Sandbox:
    MISSING = object()  # install_path value: no "InstallationPath" in the registry

    def __init__(self, install_name="agent", identity=None, install_path=None,
                 all_users_profile=None, make_install=True, extra_registry=""):
        self.root = tempfile.mkdtemp(prefix="rssnotify-sandbox-")
        self.install = os.path.join(self.root, install_name)
        if make_install:
            os.makedirs(os.path.join(self.install, "qLUX", "Dovel"))
        self.registry_file = os.path.join(self.root, "registry.reg")
        self.identity = dict(DEFAULT_IDENTITY if identity is None else identity)
        self.install_value = self.install if install_path is None else install_path
        self.extra_registry = extra_registry
        self.all_users_profile = all_users_profile
        self.write_registry()

    def cleanup(self):
        shutil.rmtree(self.root, ignore_errors=True)

    # --- configuration -------------------------------------------------
    def write_registry(self):
        lines = ["Windows Registry Editor Version 5.00", "",
                 r"[HKEY_LOCAL_MACHINE\SOFTWARE\KESTRA]"]
        if self.install_value is not Sandbox.MISSING:
            lines.append('"InstallationPath"=' + reg_string(self.install_value))
        for name, value in self.identity.items():
            lines.append('"%s"=%s' % (name, reg_string(value)))
        lines.append("")
        lines.append(self.extra_registry)
        with open(self.registry_file, "w", encoding="utf-8") as f:
            f.write("\r\n".join(lines) + "\r\n")

    def env(self):
        env = {
            "PATH": os.environ.get("PATH", "/usr/bin:/bin"),
            "HOME": self.root,
            "LANG": "C.UTF-8",
            "RSSNOTIFY_REGISTRY": self.registry_file,
            # No desktop unless a test provides one.
            "DBUS_SESSION_BUS_ADDRESS": "unix:path=" + os.path.join(self.root, "no-bus"),
            "XDG_CACHE_HOME": os.path.join(self.root, "cache"),
        }
        if self.all_users_profile is not None:
            env["ALLUSERSPROFILE"] = self.all_users_profile
        return env

    @property
    def data(self):
        """The data folder as a native path."""
        profile = self.all_users_profile
        if profile is not None and "programdata" in profile.lower():
            return profile.replace("\\", "/").rstrip("/") + "/KESTRA"
        if profile is not None and "all users" in profile.lower():
            return profile.replace("\\", "/").rstrip("/") + "/Application Data/KESTRA"
        return self.install

    @property
    def rsslinks(self):
        return os.path.join(self.data, "qLUX", "Dovel", "RSSLinks")

    def write_template(self, body, name="qVMMenu.xml"):
        path = os.path.join(self.install, "qLUX", "Dovel", name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w", encoding="utf-8") as f:
            f.write(body)
        return path

    # --- running -------------------------------------------------------
    def run(self, timeout=90, extra_env=None, program=PROGRAM):
        env = self.env()
        if extra_env:
            env.update(extra_env)
        self.started = datetime.datetime.now()
        result = subprocess.run([program], env=env, stdin=subprocess.DEVNULL,
                                capture_output=True, timeout=timeout)
        self.finished = datetime.datetime.now()
        return result

    def log_files(self):
        folder = os.path.join(self.data, "ApplicationLog", "qLUXLog")
        if not os.path.isdir(folder):
            return []
        return sorted(os.listdir(folder))

    def expected_log_name(self, when=None):
        when = when or self.started
        return "rssnotify__%s_%s.txt" % (when.strftime("%m%d%Y"), user_name())

    def log_bytes(self):
        names = self.log_files()
        assert len(names) == 1, names
        with open(os.path.join(self.data, "ApplicationLog", "qLUXLog", names[0]), "rb") as f:
            return f.read()

    def log_lines(self):
        """The texts of the log's lines, each checked for its time stamp."""
        raw = self.log_bytes().decode("utf-8")
        assert raw.endswith("\r\n"), repr(raw[-20:])
        texts = []
        for line in raw[:-2].split("\r\n"):
            m = LINE.match(line)
            assert m, "line without time stamp: %r" % line
            stamp = datetime.datetime(int(m.group(3)), int(m.group(1)), int(m.group(2)),
                                      int(m.group(4)), int(m.group(5)), int(m.group(6)))
            assert self.started.replace(microsecond=0) <= stamp <= self.finished, line
            texts.append(m.group(7))
        return texts

    # --- expected lines ------------------------------------------------
    @property
    def install_path(self):
        """InstallPath as the program holds it (with its added backslash)."""
        return self.install_value + "\\"

    @property
    def data_path(self):
        profile = self.all_users_profile
        if profile is not None:
            p = profile if profile.endswith("\\") else profile + "\\"
            if "programdata" in p.lower():
                return p + "KESTRA\\"
            if "all users" in p.lower():
                return p + "Application Data\\KESTRA\\"
        return self.install_path

    def startup_lines(self, created=None):
        """The lines of a start-up that passes; `created` names the folders
        below the data folder that the run makes (by default those that a
        sandbox lacks before its first run)."""
        if created is None:
            created = ("LUXPostLogs", "qLUX\\Dovel\\RSSLinks")
            if self.data != self.install:
                created = ("LUXPostLogs", "qLUX\\Dovel", "qLUX\\Dovel\\RSSLinks")
        lines = [STARS, "MSG : Application started", STARS,
                 "MSG : NOVR installation path : " + self.install_path]
        for folder in created:
            lines.append("MSG : Creating Folder " + self.data_path + "\\" + folder)
        for before, label, name in (("MSG : Reading Regid ", "MSG : RegId : ", "RegID"),
                                    ("MSG : Reading SITEID ", "MSG : SiteID : ", "siteid"),
                                    ("MSG : Reading MEMBERID ", "MSG : MemberID : ", "MemberID"),
                                    ("MSG : Reading AGENTTYPE ", "MSG : Type : ", "Type")):
            lines += [before, label + self.identity.get(name, "")]
        return lines
