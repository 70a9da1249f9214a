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
import unittest

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


HERE = os.path.dirname(os.path.abspath(__file__))


class FeedSandbox(Sandbox):
    """A sandbox with a scripted converter: the feed "URL" names a file that
    holds the converted document, which the converter puts in place."""

    def __init__(self, template_id="T", template_ver="1", converter_delay="0.2", **kwargs):
        super().__init__(**kwargs)
        self.template_id = template_id
        self.template_ver = template_ver
        self.feeds_dir = os.path.join(self.root, "feeds")
        os.makedirs(self.feeds_dir)
        if converter_delay is not None:
            self.install_converter(converter_delay)

    @property
    def converter(self):
        return os.path.join(self.install, "qLUX", "FeedPull.exe")

    def install_converter(self, delay="0.2", body=None):
        # The short sleep keeps the converter running when the program first
        # asks for its exit code, so every run logs the same lines.
        out = os.path.join(self.rsslinks, "Temp_RSS.xml")
        write_script(self.converter, body or (
            'sleep %s\n'
            '[ -f "$1" ] || exit 3\n'
            'cp "$1" "%s.part" && mv "%s.part" "%s"\n' % (delay, out, out, out)))

    def feed(self, name, items, title="Feed title", link="http://feed.example/",
             description="Feed description", raw=None):
        """Writes a converted document; items are dicts of the item fields."""
        from xml.sax.saxutils import escape
        path = os.path.join(self.feeds_dir, name)
        if raw is None:
            parts = ["<?xml version=\"1.0\" encoding=\"UTF-8\"?>", "<rootrss>",
                     "<maintitle>%s</maintitle>" % escape(title),
                     "<mainlink>%s</mainlink>" % escape(link),
                     "<maindescription>%s</maindescription>" % escape(description)]
            for item in items:
                parts.append("<item>" + "".join(
                    "<%s>%s</%s>" % (k, escape(v), k) for k, v in item.items()) + "</item>")
            parts.append("</rootrss>")
            raw = "\n".join(parts)
        with open(path, "w", encoding="utf-8") as f:
            f.write(raw)
        return path

    def write_feed_template(self, sites, message="You have news", extra=""):
        from xml.sax.saxutils import escape
        self.write_template(
            "<?xml version=\"1.0\"?>\n<vsrgetdoveltemplate>"
            "<templateid>%s</templateid><templatever>%s</templatever><rss>1</rss>"
            "<rsssites>%s</rsssites><rssupd>5</rssupd><qvmrssmsg>%s</qvmrssmsg>%s"
            "</vsrgetdoveltemplate>" % (escape(self.template_id), escape(self.template_ver),
                                        escape(sites), escape(message), extra))

    def register_popup(self, answer, record=None):
        """Registers the scripted popup component, answering `answer`."""
        self.popup_record = record or os.path.join(self.root, "popup-requests.txt")
        self.extra_registry = (
            "[HKEY_CLASSES_ROOT\\Flarebox.Display\\LocalServer32]\r\n@=%s\r\n" % reg_string(
                '%s %s "%s"' % (os.path.join(HERE, "scripted_popup.py"), self.popup_record,
                                answer)))
        self.write_registry()

    def popup_requests(self):
        with open(self.popup_record, encoding="utf-8") as f:
            return f.read().splitlines()

    # --- paths as the program writes them ------------------------------
    def store_name(self, n):
        return "Link_%s_%s_%s.xml" % (n, self.template_id, self.template_ver)

    def store(self, n):
        return os.path.join(self.rsslinks, self.store_name(n))

    def store_path(self, n):
        return self.data_path + "qLUX\\Dovel\\RSSLinks\\" + self.store_name(n)

    @property
    def state_file(self):
        return os.path.join(self.rsslinks, "LastUpdates_%s.ini" % user_name())

    @property
    def state_path(self):
        return self.data_path + "qLUX\\Dovel\\RSSLinks\\LastUpdates_%s.ini" % user_name()

    def state_text(self):
        with open(self.state_file, "rb") as f:
            return f.read().decode("utf-8")

    def store_items(self, n):
        """The store's root children as (name, text or [(child, text)...])."""
        import xml.etree.ElementTree as ET
        root = ET.parse(self.store(n)).getroot()
        assert root.tag == "rootrss", root.tag
        out = []
        for child in root:
            if len(child):
                out.append((child.tag, [(c.tag, c.text or "") for c in child]))
            else:
                out.append((child.tag, child.text or ""))
        return out

    # --- expected log lines ------------------------------------------
    def write_line(self, section, key, value):
        return "MSG : Writing [%s] %s=%s to file %s" % (section, key, value, self.state_path)

    def driver_start_lines(self, sites, previous=""):
        return [
            "MSG : In fncPopulateRSSLinks",
            self.write_line("RSSLinks", "TemplateID", self.template_id),
            self.write_line("RSSLinks", "TemplateVersion", self.template_ver),
            self.write_line("RSSLinks", "Urls", sites),
            "MSG : Total New RSS before updates :: %s" % number_text(previous),
            self.write_line("TotalNewRSS", "NewRSSCount", previous),
            "MSG : Making the counter to zero"]

    def converter_lines(self, n, url, ran_to_end=True):
        line = self.install_path + "qLUX\\FeedPull.exe " + url
        lines = ["MSG : fncParseRSSSite : -------------> Checking updates for [%s] --> %s" % (n, url),
                 "MSG : fncExecuteShell :: " + line, "ERR : Successfully Executed, " + line,
                 "MSG : Executing fncTerminateProcess"]
        if ran_to_end:
            lines.append("MSG : Successfully Executed the script")
        else:
            lines += ["ERR : Terminating the script as, ", "MSG : Successfully Terminated Process "]
        lines.append("MSG : fncParseRSSSite :  sXMLFiletemp" + self.temp_path)
        return lines

    @property
    def temp_path(self):
        return self.data_path + "QLUX\\Dovel\\RSSLinks\\Temp_RSS.xml"

    def parsed_lines(self):
        return ["MSG : fncParseRSSSite :  deleting unicode file sXMLFiletemp" + self.temp_path]

    def store_lines(self, n, created, last=("", "", "")):
        opening = ("MSG :  fncParseRSSSite : Creating the XML file " if created else
                   "MSG : fncParseRSSSite :  Loading the XML file ") + self.store_path(n)
        return [opening,
                "MSG : fncParseRSSSite :  Last updates GUID :: " + last[0],
                "MSG :  fncParseRSSSite : Last updates PubDate :: " + last[1],
                "MSG :  fncParseRSSSite : Last Unread RSS Count :: " + last[2]]

    def saved_lines(self, n, count, link="", pub_date=""):
        section = "Link_%s_%s_%s" % (n, self.template_id, self.template_ver)
        lines = ["MSG :  fncParseRSSSite : Saving the XML"]
        if link.strip(" "):
            lines.append(self.write_line(section, "LatestGUID", link))
        if pub_date.strip(" "):
            lines.append(self.write_line(section, "LatestPubDate", pub_date))
        lines.append(self.write_line(section, "NewRSSCount", str(count)))
        return lines

    def driver_end_lines(self, total):
        return [self.write_line("TotalNewRSS", "NewRSSCount", str(total)),
                "MSG : Total New RSS after updates :: %s" % number_text(str(total))]

    def template_lines(self, sites, message="You have news"):
        lines = ["MSG : in fncParseLUXTemplateXML"]
        lines.append("MSG : Popup message :: " + message)
        lines.append("MSG : TemplateID=%s<<>>TemplateVersion=%s<<>>RSSEnabled=1<<>>RSSSites=%s"
                     "<<>>RSSUpd=5" % (self.template_id, self.template_ver, sites))
        return lines


class FeedTestCase(unittest.TestCase):
    """A test case whose sandboxes are removed when it ends."""
    maxDiff = None

    def sandbox(self, **kwargs):
        box = FeedSandbox(**kwargs)
        self.addCleanup(box.cleanup)
        return box

    @staticmethod
    def lines_after_template(box):
        """The log's lines from the feed update on (start-up and template cut off)."""
        lines = box.log_lines()
        return lines[lines.index("MSG : In fncPopulateRSSLinks"):]


def number_text(text):
    """The numeric value of a counter text, as the program logs it."""
    m = re.match(r"\s*[-+]?\d+", text or "")
    return str(int(m.group(0))) if m else "0"
