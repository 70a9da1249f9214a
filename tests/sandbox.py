"""A sandbox installation of rssnotify for tests of the built programs.

Each Sandbox is a temporary folder holding an agent installation folder, the
product key in a registry file and whatever scripted companions a test puts
there. `run()` starts the built rssnotify the way the agent does: no
arguments.

Two back-ends, chosen by RSSNOTIFY_SANDBOX, which CTest sets:
- "linux" (the default): the Linux programs; the registry file is the
  program's registry, named by RSSNOTIFY_REGISTRY; the companions are shell
  scripts; the popup component is tests/scripted_popup.py.
- "windows": the Windows programs under Wine (RSSNOTIFY_WINE, the project's
  scripts/wine.sh, in the prefix RSSNOTIFY_WINEPREFIX). The sandbox folder is
  a folder of drive C: of the prefix, and the program gets Windows paths; the
  registry file is imported into the prefix's registry (`reg import FILE
  /reg:32`, as a 32-bit installer writes the key); the companions and the
  popup component are Windows programs of ours (RSSNOTIFY_TEST_PROGRAMS:
  scripted_converter.exe, driven by a script beside it, and
  scripted_popup.exe), since a Linux script started from a Windows program
  loses its exit code and escapes the job object that holds the program's
  children. Wine gives every program ALLUSERSPROFILE=C:\ProgramData whatever
  the environment says, so the data folder is C:\ProgramData\KESTRA; it, the
  product key and the popup's registration exist once per prefix, so these
  tests take turns (CTest's RESOURCE_LOCK).

Tests speak of files by their native (Linux) paths: `install`, `data`,
`rsslinks`, `root`; `program_path()` gives the path as the program sees it.
"""

import datetime
import os
import re
import shutil
import stat
import subprocess
import tempfile
import time
import unittest

BUILD_DIR = os.environ.get(
    "RSSNOTIFY_BUILD_DIR",
    os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "build"))
SHARED_DIR = os.environ.get(
    "RSSNOTIFY_SHARED_DIR",
    os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "shared"))
WINDOWS = os.environ.get("RSSNOTIFY_SANDBOX", "linux") == "windows"
PROGRAM = os.path.join(BUILD_DIR, "rssnotify.exe" if WINDOWS else "rssnotify")
WINE = os.environ.get("RSSNOTIFY_WINE", "")
WINEPREFIX = os.environ.get("RSSNOTIFY_WINEPREFIX", os.path.join(BUILD_DIR, "wineprefix"))
TEST_PROGRAMS = os.environ.get("RSSNOTIFY_TEST_PROGRAMS",
                               os.path.join(BUILD_DIR, "tests", "windows"))
# Wine's ALLUSERSPROFILE, as on Windows since Vista.
PROGRAM_DATA = "C:\\ProgramData"
# The CLSID that tests/windows/scripted_popup.cpp serves.
POPUP_CLSID = "{c43e0c8c-437e-49ca-b37d-07f8f8662771}"


def linux_only(reason):
    """Skips a test or class on the Windows back-end, saying why."""
    return unittest.skipIf(WINDOWS, "Linux only: " + reason)


def linux_only_module(reason):
    """A setUpModule that skips the whole module on the Windows back-end."""
    def set_up_module():
        if WINDOWS:
            raise unittest.SkipTest("Linux only: " + reason)
    return set_up_module


# The companions' Windows builds lie in qLUX\ of the build, as installed.
VIEWER = (os.path.join(BUILD_DIR, "qLUX", "qVMRSS.exe") if WINDOWS else
          os.path.join(BUILD_DIR, "companions", "viewer", "qVMRSS.exe"))
# The end of a text line a program writes: CR LF from a Windows program.
EOL = "\r\n" if WINDOWS else "\n"


def drive_c():
    return os.path.join(os.path.abspath(WINEPREFIX), "drive_c")


def windows_path(path):
    """The Windows path of a native path: drive C: of the prefix, or Z: (the
    whole file system, as Wine maps it)."""
    path = os.path.abspath(path)
    c = drive_c()
    if path == c:
        return "C:\\"
    if path.startswith(c + os.sep):
        return "C:\\" + os.path.relpath(path, c).replace("/", "\\")
    return "Z:" + path.replace("/", "\\")


def native_path(path):
    """The native path of a Windows path on drive C: of the prefix."""
    assert path[:3].upper() == "C:\\", path
    return os.path.join(drive_c(), *[p for p in path[3:].split("\\") if p])


def wine(*args, timeout=120, check=True, **kwargs):
    """Runs a Windows program under Wine (starting the wineserver, persistent
    and detached, when it does not run yet)."""
    env = dict(os.environ)
    env["WINEPREFIX"] = WINEPREFIX
    env.update(kwargs.pop("env", {}))
    result = subprocess.run(["bash", WINE, "--prefix", WINEPREFIX, "run"] + list(args),
                            stdin=subprocess.DEVNULL, capture_output=True, timeout=timeout,
                            env=env, **kwargs)
    if check and result.returncode != 0:
        raise AssertionError("%s failed (%d): %s %s" % (
            args, result.returncode, result.stdout, result.stderr))
    return result


def wine_tool(run, *args):
    """Runs one of Wine's own tools (reg) for a test's set-up through `run`
    (wine, or a test's own runner). Under load Wine now and then fails to
    start one, with "ShellExecuteEx failed: Internal error" or an exit code
    of 1 and no output: the step is tried again, three times in all."""
    for attempt in range(3):
        result = run(*args, check=False)
        if result.returncode == 0:
            return result
        time.sleep(1)
    raise AssertionError("%s failed (%d): %s %s" % (
        args, result.returncode, result.stdout, result.stderr))


def reg_import(path, view32):
    """Imports a registry file (written as regedit writes one: UTF-16 with
    its byte order mark) into the prefix's registry."""
    args = ["reg", "import", windows_path(path)] + (["/reg:32"] if view32 else [])
    wine_tool(wine, *args)


STARS = "*" * 85
LINE = re.compile(r"^(\d\d)/(\d\d)/(\d{4}) (\d\d):(\d\d):(\d\d)\t(.*)$", re.S)

DEFAULT_IDENTITY = {"RegID": "1001", "siteid": "2002", "MemberID": "3003", "Type": "W"}


def reg_string(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def user_name():
    import pwd
    return pwd.getpwuid(os.geteuid()).pw_name


def name_part(text):
    """A user name as the names of that user's files carry it."""
    return re.sub(r'[\x00-\x1f\x7f\\/:*?"<>|]', "_", text)


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
    # The account name the program reads, when a test gives it one of its own.
    account = None

    def __init__(self, install_name="agent", identity=None, install_path=None,
                 all_users_profile=None, make_install=True, extra_registry=""):
        if WINDOWS:
            os.makedirs(drive_c(), exist_ok=True)
            self.root = tempfile.mkdtemp(prefix="rssnotify-sandbox-", dir=drive_c())
            # Wine's own, whatever a test asks for (see the module's comment).
            all_users_profile = PROGRAM_DATA
            self.classes_file = self.root + "-classes.reg"
            self.popup_answer = None
        else:
            self.root = tempfile.mkdtemp(prefix="rssnotify-sandbox-")
        self.install = os.path.join(self.root, install_name)
        if make_install:
            os.makedirs(os.path.join(self.install, "qLUX", "Dovel"))
        self.registry_file = os.path.join(self.root, "registry.reg")
        self.identity = dict(DEFAULT_IDENTITY if identity is None else identity)
        self.install_value = (self.program_path(self.install) if install_path is None
                              else install_path)
        self.extra_registry = extra_registry
        self.all_users_profile = all_users_profile
        if WINDOWS:
            # What an earlier sandbox may have left; the installer makes the
            # data folder, the program never does.
            shutil.rmtree(self.data, ignore_errors=True)
            os.makedirs(self.data)
            self.write_classes()
        self.write_registry()

    def cleanup(self):
        shutil.rmtree(self.root, ignore_errors=True)
        if WINDOWS:
            shutil.rmtree(self.data, ignore_errors=True)
            self.write_reg_file(self.classes_file, [
                "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\KESTRA]",
                "[-HKEY_CLASSES_ROOT\\Flarebox.Display]",
                "[-HKEY_CLASSES_ROOT\\CLSID\\%s]" % POPUP_CLSID])
            try:
                reg_import(self.classes_file, view32=False)
            finally:
                os.remove(self.classes_file)

    def program_path(self, path):
        """A native path as the program sees it."""
        return windows_path(path) if WINDOWS else path

    # --- configuration -------------------------------------------------
    @staticmethod
    def write_reg_file(path, lines):
        text = "\r\n".join(["Windows Registry Editor Version 5.00", ""] + lines) + "\r\n"
        if WINDOWS:
            with open(path, "wb") as f:
                f.write(b"\xff\xfe" + text.encode("utf-16-le"))
        else:
            with open(path, "w", encoding="utf-8") as f:
                f.write(text)

    def write_registry(self):
        lines = []
        if WINDOWS:
            lines += ["[-HKEY_LOCAL_MACHINE\\SOFTWARE\\KESTRA]", ""]
        lines.append(r"[HKEY_LOCAL_MACHINE\SOFTWARE\KESTRA]")
        if self.install_value is not Sandbox.MISSING:
            lines.append('"InstallationPath"=' + reg_string(self.install_value))
        for name, value in self.identity.items():
            lines.append('"%s"=%s' % (name, reg_string(value)))
        lines.append("")
        lines.append(self.extra_registry)
        self.write_reg_file(self.registry_file, lines)
        if WINDOWS:
            reg_import(self.registry_file, view32=True)

    def write_classes(self):
        """Windows: registers the scripted popup component as the test asked,
        or no component at all."""
        lines = ["[-HKEY_CLASSES_ROOT\\Flarebox.Display]",
                 "[-HKEY_CLASSES_ROOT\\CLSID\\%s]" % POPUP_CLSID, ""]
        if self.popup_answer is not None:
            server = '"%s" "%s" "%s"' % (
                windows_path(os.path.join(TEST_PROGRAMS, "scripted_popup.exe")),
                windows_path(self.popup_record), self.popup_answer)
            lines += ["[HKEY_CLASSES_ROOT\\Flarebox.Display\\CLSID]",
                      "@=" + reg_string(POPUP_CLSID), "",
                      "[HKEY_CLASSES_ROOT\\CLSID\\%s]" % POPUP_CLSID,
                      "@=\"Flarebox.Display\"", "",
                      "[HKEY_CLASSES_ROOT\\CLSID\\%s\\LocalServer32]" % POPUP_CLSID,
                      "@=" + reg_string(server), "",
                      "[HKEY_CLASSES_ROOT\\CLSID\\%s\\ProgID]" % POPUP_CLSID,
                      "@=\"Flarebox.Display\"", ""]
        self.write_reg_file(self.classes_file, lines)
        try:
            reg_import(self.classes_file, view32=False)
        finally:
            os.remove(self.classes_file)

    def env(self):
        if WINDOWS:
            # Wine's own environment (the display of xvfb-run among it); the
            # program reads nothing of it but ALLUSERSPROFILE, which Wine sets.
            env = dict(os.environ)
            env["WINEPREFIX"] = WINEPREFIX
            return env
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
        if WINDOWS:
            return native_path(self.data_path)
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

    def install_scripted(self, path, steps):
        """Installs a scripted companion at the native path `path` that takes
        `steps` (see ScriptStep) one after the other, then ends with 0."""
        if WINDOWS:
            os.makedirs(os.path.dirname(path), exist_ok=True)
            shutil.copyfile(os.path.join(TEST_PROGRAMS, "scripted_converter.exe"), path)
            with open(os.path.splitext(path)[0] + ".script", "w", encoding="utf-8",
                      newline="") as f:
                f.write("".join("\t".join(step.windows(self)) + "\r\n" for step in steps))
        else:
            write_script(path, "".join(step.shell(self) + "\n" for step in steps))

    # --- running -------------------------------------------------------
    def command(self, program=None):
        program = program or PROGRAM
        if WINDOWS:
            return ["bash", WINE, "--prefix", WINEPREFIX, "run", program]
        return [program]

    def file_user(self):
        """The user name in the names of the user's files."""
        return name_part(self.account or user_name())

    def run(self, timeout=90, extra_env=None, program=None, prefix=()):
        """`prefix`: a command that starts the program (Linux)."""
        env = self.env()
        if extra_env:
            env.update(extra_env)
        self.started = datetime.datetime.now()
        if WINDOWS:
            # Output to files, not pipes: a Windows program that the run
            # starts holds Wine's standard error (Wine's own diagnostics go
            # there) for as long as it runs, and a pipe would make the run
            # look as long as the longest of them.
            with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
                result = subprocess.run(self.command(program), env=env, stdin=subprocess.DEVNULL,
                                        stdout=out, stderr=err, timeout=timeout * 2)
                out.seek(0)
                err.seek(0)
                result.stdout, result.stderr = out.read(), err.read()
        else:
            result = subprocess.run(list(prefix) + self.command(program), env=env,
                                    stdin=subprocess.DEVNULL, capture_output=True,
                                    timeout=timeout)
        self.finished = datetime.datetime.now()
        return result

    def log_files(self):
        folder = os.path.join(self.data, "ApplicationLog", "qLUXLog")
        if not os.path.isdir(folder):
            return []
        return sorted(os.listdir(folder))

    def expected_log_name(self, when=None):
        when = when or self.started
        return "rssnotify__%s_%s.txt" % (when.strftime("%m%d%Y"), self.file_user())

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
            assert self.started.replace(microsecond=0) <= stamp <= self.finished, (
                line, self.started, self.finished)
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


def shell_text(text):
    """TEXT of a script step as a double-quoted shell word."""
    out = ""
    i = 0
    while i < len(text):
        two = text[i:i + 2]
        if two in ("%#", "%1"):
            out += "$" + two[1]
            i += 2
            continue
        out += "\\" + text[i] if text[i] in '$`"\\' else text[i]
        i += 1
    return '"' + out + '"'


def script_text(text):
    return (text.replace("\\", "\\\\").replace("\n", "\\n").replace("\r", "\\r")
            .replace("\t", "\\t"))


# The mark of the run's converter call that a converter appends to its
# output (app/product/converter_call.h), the URL argument as hexadecimal bytes.
CALL_MARK_SHELL = ("""{ [ -z "$RSSNOTIFY_CONVERTER_CALL" ] || printf '<?FeedPull call="%s" url="%s"?>\\n' """
                   """"$RSSNOTIFY_CONVERTER_CALL" "$(printf '%s' "$1" | od -An -v -tx1 | tr -d ' \\n')"; }""")


def call_mark_size(url):
    """The size of a call's mark for `url`, in bytes."""
    return len('<?FeedPull call="%s" url="%s"?>\n' % ("0" * 25, url.encode("utf-8").hex()))


class ScriptStep:
    """One step of a scripted companion, the same on both back-ends: a shell
    line on Linux, a line of tests/windows/scripted_converter.cpp's script on
    Windows. In texts, "%#" stands for the number of arguments and "%1" for the
    first argument."""

    def __init__(self, kind, *args):
        self.kind, self.args = kind, args

    def shell(self, box):
        a = self.args
        out = os.path.join(box.rsslinks, "Temp_RSS.xml")
        if self.kind == "sleep":
            return "sleep %s" % (a[0] / 1000)
        if self.kind == "convert":
            return ('[ -f "$1" ] || exit 3\ncp "$1" "%s.part" && %s >> "%s.part" && mv "%s.part" "%s"'
                    % (out, CALL_MARK_SHELL, out, out, out))
        if self.kind == "wait_for":
            return ('i=0; while [ ! -e "%s" ] && [ $i -lt %d ]; do sleep 0.01; i=$((i+1)); done'
                    % (a[0], a[1] // 10))
        if self.kind == "convert_host":
            return ('h=${1#*://}; h=${h%%%%[/?#:]*}; [ -n "$h" ] && [ -f "%s/$h.xml" ] || exit 3\n'
                    'cp "%s/$h.xml" "%s.part" && %s >> "%s.part" && mv "%s.part" "%s"'
                    % (a[0], a[0], out, CALL_MARK_SHELL, out, out, out))
        if self.kind == "output":
            return 'truncate -s %d "%s.part" && mv "%s.part" "%s"' % (a[0], out, out, out)
        if self.kind == "append":
            return "printf '%%s' %s >> '%s'" % (shell_text(a[1]), a[0])
        if self.kind == "stderr":
            return "printf '%%s' %s >&2" % shell_text(a[0])
        if self.kind == "exit":
            return "exit %d" % a[0]
        if self.kind == "spawn":
            # In a session of its own: out of the reach of a signal to the
            # converter's process group.
            return "setsid sh -c 'echo $$ > \"$0\"; exec sleep 600' '%s' &" % a[0]
        if self.kind == "hang":
            return "exec sleep 600"
        raise ValueError(self.kind)

    def windows(self, box):
        a = self.args
        if self.kind in ("sleep", "exit", "output"):
            return [self.kind, str(a[0])]
        if self.kind == "convert":
            return ["convert"]
        if self.kind == "convert_host":
            return ["convert-host", windows_path(a[0])]
        if self.kind == "wait_for":
            return ["wait-for", windows_path(a[0]), str(a[1])]
        if self.kind == "append":
            return ["append", windows_path(a[0]), script_text(a[1])]
        if self.kind == "stderr":
            return ["stderr", script_text(a[0])]
        if self.kind == "spawn":
            return ["spawn", windows_path(a[0])]
        if self.kind == "hang":
            return ["hang"]
        raise ValueError(self.kind)


def sleep(milliseconds):
    return ScriptStep("sleep", milliseconds)


def convert():
    return ScriptStep("convert")


def append(path, text):
    return ScriptStep("append", path, text)


def stderr(text):
    return ScriptStep("stderr", text)


def exit_with(code):
    return ScriptStep("exit", code)


def wait_for(path, milliseconds):
    """Waits until the file `path` exists, at most `milliseconds`."""
    return ScriptStep("wait_for", path, milliseconds)


def convert_host(folder):
    """Converts the document <folder>/<host>.xml, host being the host of the
    URL the companion is given: one document for each site of a template."""
    return ScriptStep("convert_host", folder)


def output_of_size(size):
    return ScriptStep("output", size)


def spawn(pid_file):
    """Starts a helper that would outlive the companion; its process id goes
    to `pid_file`."""
    return ScriptStep("spawn", pid_file)


def hang():
    return ScriptStep("hang")


def process_gone_within(pid, seconds, marker=None):
    """Whether process `pid` has ended (a zombie counts) within `seconds`. On
    Windows `pid` is a Windows process id, which Linux does not see: then no
    process whose command line holds `marker` may be left."""
    deadline = time.monotonic() + seconds
    if WINDOWS:
        marker = windows_path(marker)
    while time.monotonic() < deadline:
        if WINDOWS:
            if not processes_with(marker):
                return True
        else:
            try:
                with open("/proc/%d/stat" % pid) as f:
                    if f.read().rsplit(")", 1)[1].split()[0] == "Z":
                        return True
            except (FileNotFoundError, ProcessLookupError):
                return True
        time.sleep(0.05)
    return False


def kill_processes_with(native_marker):
    """Ends the processes whose command line holds `native_marker` as the
    programs see it."""
    import signal
    for pid in processes_with(windows_path(native_marker) if WINDOWS else native_marker):
        try:
            os.kill(pid, signal.SIGKILL)
        except ProcessLookupError:
            pass


def processes_with(marker):
    """The live processes whose command line holds `marker`."""
    found = []
    for name in os.listdir("/proc"):
        if not name.isdigit():
            continue
        try:
            with open("/proc/%s/cmdline" % name, "rb") as f:
                line = f.read().decode("utf-8", "replace")
            with open("/proc/%s/stat" % name) as f:
                if f.read().rsplit(")", 1)[1].split()[0] == "Z":
                    continue
        except OSError:
            continue
        if marker in line and int(name) != os.getpid():
            found.append(int(name))
    return found


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

    def install_converter(self, delay="0.2", body=None, steps=None):
        """Installs the scripted converter: by default it waits `delay`
        seconds and converts. `steps` (ScriptStep) script it on both
        back-ends; `body`, a shell script, on Linux only."""
        # The short wait keeps the converter running when the program first
        # asks for its exit code, so every run logs the same lines.
        if body is not None:
            assert not WINDOWS, "a shell script for the Windows back-end"
            write_script(self.converter, body)
            return
        if steps is None:
            steps = [sleep(int(float(delay) * 1000)), convert()]
        self.install_scripted(self.converter, steps)

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
        return self.program_path(path)

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
        if WINDOWS:
            self.popup_answer = answer
            self.write_classes()
            return
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
        return os.path.join(self.rsslinks, "LastUpdates_%s.ini" % self.file_user())

    @property
    def state_path(self):
        return self.data_path + "qLUX\\Dovel\\RSSLinks\\LastUpdates_%s.ini" % self.file_user()

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


_local_app_data = []


def viewer_page(box, add_cleanup):
    """Where the viewer puts its page for the sandbox `box`: (the path as
    the viewer names it, the native path). Linux: under the sandbox's
    XDG_CACHE_HOME. Windows: under the user's %LOCALAPPDATA%, one folder per
    prefix, emptied now and when the test ends."""
    if not WINDOWS:
        path = os.path.join(box.root, "cache", "rssnotify", "feeds.html")
        return path, path
    if not _local_app_data:
        local = wine("cmd", "/c", "echo", "%LOCALAPPDATA%").stdout.decode().strip()
        assert local[:3].upper() == "C:\\", local
        _local_app_data.append(local)
    page = _local_app_data[0] + "\\rssnotify\\feeds.html"
    folder = os.path.dirname(native_path(page))
    shutil.rmtree(folder, ignore_errors=True)
    add_cleanup(shutil.rmtree, folder, True)
    return page, native_path(page)


class StandInBrowser:
    """Windows: tests/windows/open_recorder.exe, copied into the sandbox `box`,
    registered in the prefix as the program that opens .html files; it
    records the arguments it was started with. The .html key is put back as
    it was when the test ends."""

    PAGE_CLASS = "RssnotifyTestPage"
    # How long the shell may take to start it; waited for, never timed.
    WAIT_SECONDS = 60

    def __init__(self, box, add_cleanup):
        folder = os.path.join(box.root, "browser")
        os.makedirs(folder)
        recorder = os.path.join(folder, "open_recorder.exe")
        shutil.copyfile(os.path.join(TEST_PROGRAMS, "open_recorder.exe"), recorder)
        self.record = os.path.join(folder, "open_recorder.txt")
        backup = box.root + "-html.reg"
        if os.path.exists(backup):
            os.remove(backup)
        saved = wine("reg", "export", "HKCR\\.html", windows_path(backup), "/y",
                     check=False).returncode == 0 and os.path.exists(backup)

        def restore():
            wine("reg", "delete", "HKCR\\.html", "/f", check=False)
            wine("reg", "delete", "HKCR\\" + self.PAGE_CLASS, "/f", check=False)
            if saved:
                wine_tool(wine, "reg", "import", windows_path(backup))
                os.remove(backup)
        add_cleanup(restore)
        reg = os.path.join(folder, "html.reg")
        Sandbox.write_reg_file(reg, [
            r"[HKEY_CLASSES_ROOT\.html]", "@=" + reg_string(self.PAGE_CLASS), "",
            r"[HKEY_CLASSES_ROOT\%s\shell\open\command]" % self.PAGE_CLASS,
            "@=" + reg_string('"%s" "%%1"' % windows_path(recorder)), ""])
        reg_import(reg, view32=False)

    def wait(self):
        """The recorded arguments, once the browser has been started."""
        deadline = time.monotonic() + self.WAIT_SECONDS
        while not os.path.exists(self.record):
            if time.monotonic() > deadline:
                raise AssertionError("the shell did not start the stand-in browser within %d s"
                                     % self.WAIT_SECONDS)
            time.sleep(0.2)
        with open(self.record, encoding="utf-8") as f:
            return f.read()
