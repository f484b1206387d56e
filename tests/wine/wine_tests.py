#!/usr/bin/env python3
"""Tests of the Windows installer under Wine, headless.

Runs the Win32 layers' probe and then the real installer (the Win32 stub with an archive
built by zpx) in one Wine prefix on a private Xvfb display, driving the dialogs with
xdotool as a user would. Message boxes and dialog templates are read from Wine's trace
channels (msgbox, dialog), files and registry from the prefix. Every Wine and xdotool step
has a time limit; Xvfb and the wineserver are ended by their ids at the end.

Usage: wine_tests.py [--keep] [--only NAME]   (run from the source tree's root)
"""
import argparse
import filecmp
import glob
import json
import os
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import traceback

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
CAPTION = "Zarpex Installation"
MODIFIED_WARNING = (
    "This installer has been modified. An error may have occurred during downloading, or "
    "your computer may have a virus. Make sure your virus scanner is the latest version, "
    "and check your computer for viruses. You will need to download this installer again.")
APP_PATHS_KEY = r"HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\Zarpex32.exe"
SETUP_KEY = r"HKCU\Software\Kolvane\Zarpex"
UNINSTALL_KEY = r"HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Zarpex"
MAIN_TEMPLATE = "DIALOG 57, 37, 275, 90, 0"  # as the dialog trace shows it
PROMPT_TEMPLATE = "DIALOG 10, 12, 250, 45, 0"
WINE64 = "/usr/lib/wine/wine64"  # the 64-bit loader, as Debian installs it
STEP_LIMIT = 20  # seconds for any single wine or xdotool step
RUN_LIMIT = 60   # seconds for one whole installer run


class TestFailure(Exception):
    pass


def expect(condition, message):
    if not condition:
        raise TestFailure(message)


def run(args, limit=STEP_LIMIT, **kwargs):
    return subprocess.run(args, timeout=limit, capture_output=True, text=True, **kwargs)


class Display:
    """A private Xvfb server, ended by its process id."""

    def __init__(self):
        read_end, write_end = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as pipe:
            number = pipe.readline().strip()
        if not number:
            self.close()
            raise RuntimeError("Xvfb did not start")
        self.name = ":" + number

    def close(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()


class Wine:
    """One Wine prefix of its own for one architecture's tests, on a shared display.

    The x86_64 stub runs under the 64-bit loader directly, so that a 32-bit Wine that this
    machine cannot run leaves it alone; the i686 stub under `wine`, which picks 32-bit
    Wine. Registry queries read the view that the stub under test writes: the 32-bit view
    for a 32-bit program under 64-bit Wine (WoW64)."""

    def __init__(self, workdir, display, arch):
        self.arch = arch
        self.prefix = os.path.join(workdir, "prefix-" + arch)
        self.loader = WINE64 if arch == "x86_64" and os.path.exists(WINE64) else "wine"
        self.reg_view = "/reg:64" if arch == "x86_64" else "/reg:32"
        self.env = dict(os.environ, WINEPREFIX=self.prefix, DISPLAY=display, TZ="UTC",
                        WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
        if self.loader == WINE64:
            self.env["WINELOADER"] = WINE64
        result = self.run(["wineboot", "-i"], limit=180)
        expect(result.returncode == 0, "wineboot failed: " + result.stderr[-400:])
        run(["wineserver", "-w"], limit=60, env=self.env)
        self.drive_c = os.path.join(self.prefix, "drive_c")

    def close(self):
        try:
            run(["wineserver", "-k"], limit=30, env=self.env)
        except subprocess.TimeoutExpired:
            pass

    def host_path(self, windows_path):
        """C:\\a\\b -> the file inside the prefix."""
        expect(windows_path[:3].upper() == "C:\\", "not on drive C: " + windows_path)
        return os.path.join(self.drive_c, *windows_path[3:].split("\\"))

    def run(self, args, limit=STEP_LIMIT, cwd=None):
        return run([self.loader] + args, limit=limit, env=self.env, cwd=cwd)

    def start(self, program, trace_file, args=(), env=None):
        """Starts a GUI program with the msgbox and dialog traces going to trace_file.
        Wine joins the arguments with spaces into the program's command line."""
        env = dict(self.env, WINEDEBUG="-all,trace+msgbox,trace+dialog", **(env or {}))
        trace = open(trace_file, "w")
        # Started from the installers' folder, which is then its current folder.
        folder = os.path.join(self.drive_c, "installers")
        os.makedirs(folder, exist_ok=True)
        return Installer(subprocess.Popen([self.loader, program] + list(args), env=env, stdout=trace,
                                          cwd=folder, stderr=subprocess.STDOUT,
                                          start_new_session=True),
                         trace, trace_file, self)

    # Registry and profile.
    def reg_query(self, key, value=None):
        """The data of a REG_SZ value, or None when the key or value is missing."""
        args = ["reg", "query", key] + (["/v", value] if value else ["/ve"]) + [self.reg_view]
        result = self.run(args)
        if result.returncode != 0:
            return None
        for line in result.stdout.splitlines():
            parts = line.strip().split(None, 2)
            if len(parts) == 3 and parts[1] == "REG_SZ":
                return parts[2]
            if len(parts) == 2 and parts[1] == "REG_SZ":
                return ""
        return None

    def reg_delete(self, key):
        self.run(["reg", "delete", key, "/f", self.reg_view])

    def forget_installation(self):
        """Removes every record an earlier installation left."""
        for key in (APP_PATHS_KEY, SETUP_KEY, UNINSTALL_KEY):
            self.reg_delete(key)
        profile = os.path.join(self.drive_c, "windows", "zarpex.ini")
        if os.path.exists(profile):
            os.remove(profile)

    def file_info(self, helper, windows_paths):
        """{path: (attributes, 'YYYY-MM-DD hh:mm:ss')} as Windows reports them."""
        result = self.run([helper] + windows_paths)
        info = {}
        for line, path in zip(result.stdout.splitlines(), windows_paths):
            fields = line[len(path):].split()
            if fields == ["missing"]:
                info[path] = None
            else:
                attributes = int(fields[0].split("=")[1], 16)
                info[path] = (attributes, fields[1].split("=")[1] + " " + fields[2])
        return info


def windows_named(env, name=CAPTION):
    result = run(["xdotool", "search", "--onlyvisible", "--name", name], env=env)
    return [int(w) for w in result.stdout.split()]


class Installer:
    """A running installer: its windows, keys sent to them, its traces and its end."""

    def __init__(self, process, trace, trace_file, wine):
        self.process, self.trace, self.trace_file, self.wine = process, trace, trace_file, wine
        self.seen = set()

    def new_window(self, limit=STEP_LIMIT):
        """Waits for a window with the installer's caption that was not there before."""
        deadline = time.time() + limit
        while time.time() < deadline:
            fresh = [w for w in windows_named(self.wine.env) if w not in self.seen]
            if fresh:
                window = max(fresh)
                self.seen.add(window)
                time.sleep(0.4)  # let the dialog finish its initialisation
                return window
            if self.process.poll() is not None:
                raise TestFailure("the installer ended while a window was awaited")
            time.sleep(0.2)
        raise TestFailure("no new window within %d s" % limit)

    def gone(self, window, limit=STEP_LIMIT):
        deadline = time.time() + limit
        while time.time() < deadline:
            if window not in windows_named(self.wine.env):
                self.seen.discard(window)
                return
            time.sleep(0.2)
        raise TestFailure("window %d still open after %d s" % (window, limit))

    def keys(self, window, *keys):
        run(["xdotool", "windowfocus", "--sync", str(window)], env=self.wine.env)
        for key in keys:
            run(["xdotool", "key", "--window", str(window), "--clearmodifiers", key],
                env=self.wine.env)
            time.sleep(0.15)

    def type(self, window, text):
        run(["xdotool", "windowfocus", "--sync", str(window)], env=self.wine.env)
        run(["xdotool", "type", "--delay", "20", text], env=self.wine.env)

    def finish(self, limit=RUN_LIMIT):
        """Waits for the end; returns (exit code, message box texts, dialog templates)."""
        try:
            code = self.process.wait(limit)
        except subprocess.TimeoutExpired:
            os.killpg(self.process.pid, signal.SIGKILL)
            self.process.wait()
            raise TestFailure("the installer did not end within %d s" % limit)
        self.trace.close()
        return (code,) + read_trace(self.trace_file)

    def abandon(self):
        if self.process.poll() is None:
            os.killpg(self.process.pid, signal.SIGKILL)
            self.process.wait()
        self.trace.close()


def unescape(text):
    """Undoes the escapes of Wine's debug strings (backslash-n, backslash-backslash)."""
    out, i = [], 0
    while i < len(text):
        if text[i] == "\\" and i + 1 < len(text):
            out.append({"n": "\n", "t": "\t", "r": "\r"}.get(text[i + 1], text[i + 1]))
            i += 2
        else:
            out.append(text[i])
            i += 1
    return "".join(out)


def read_trace(path):
    """Message box texts and dialog templates from Wine's msgbox and dialog traces."""
    boxes, templates = [], []
    with open(path, errors="replace") as trace:
        for line in trace:
            if "trace:msgbox:MSGBOX_OnInit" in line:
                text = line.split("MSGBOX_OnInit", 1)[1].strip()
                if text.startswith('L"') and text.endswith('"'):
                    text = text[2:-1]
                boxes.append(unescape(text))
            elif "trace:dialog:DIALOG_ParseTemplate32 DIALOG" in line:
                templates.append(line.split("DIALOG_ParseTemplate32 ", 1)[1].strip())
    return boxes, templates


# ---------------------------------------------------------------------------------------
# The payload: files with known contents, times and attributes, and the test program
# standing in for Zarpex32.exe.

PAYLOAD_TIME = 1710498030  # 2024-03-15 10:20:30 UTC (even seconds: DOS times keep 2 s)
PAYLOAD_TIME_TEXT = "2024-03-15 10:20:30"


def payload_files(marker_program):
    guide = b"".join(b"Line %05d of the guide: the quick brown fox jumps over the lazy dog.\r\n" % i
                     for i in range(3000))
    return {
        "Zarpex32.exe": open(marker_program, "rb").read(),
        "readme.txt": b"Zarpex test payload\r\n",
        "docs/guide.txt": guide,
        "docs/empty.txt": b"",
        "docs/deeper/notes.txt": bytes(range(256)) * 40,
        "readonly.txt": b"do not change\r\n",
        "docs/secret.txt": b"hidden and system\r\n",
    }


# Attribute bits (read-only 1, hidden 2, system 4) of the payload's files; others have none.
PAYLOAD_ATTRIBUTES = {"readonly.txt": 1, "docs/secret.txt": 6}


def make_payload(folder, marker_program):
    files = payload_files(marker_program)
    for name, data in files.items():
        path = os.path.join(folder, *name.split("/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as out:
            out.write(data)
        os.utime(path, (PAYLOAD_TIME, PAYLOAD_TIME))
    os.chmod(os.path.join(folder, "readonly.txt"), 0o444)
    # The packer takes hidden and system from this extended attribute (hex bits).
    os.setxattr(os.path.join(folder, "docs", "secret.txt"), "user.zarpex.attributes", b"6")
    return files


class Context:
    def __init__(self, args, workdir, wine, arch):
        self.args, self.workdir, self.wine, self.arch = args, workdir, wine, arch
        self.build = os.path.join(ROOT, "build", "mingw-" + arch)
        self.stub = os.path.join(self.build, "zarpex-setup.exe")
        self.helpers = os.path.join(self.build, "tests", "wine")
        self.zpx = os.path.join(ROOT, "build", "host", "zpx")
        self.count = 0

    def helper(self, name):
        return os.path.join(self.helpers, name)

    def build_installer(self, payload, name):
        """Packs payload into an installer inside the prefix; returns its Windows path."""
        out_dir = os.path.join(self.wine.drive_c, "installers")
        os.makedirs(out_dir, exist_ok=True)
        out = os.path.join(out_dir, name)
        result = run([self.zpx, "build", "-f", "--stub", self.stub, "-o", out, payload], limit=120,
                     env=dict(os.environ, TZ="UTC"))
        expect(result.returncode == 0, "zpx build failed: " + result.stderr[-600:])
        return "C:\\installers\\" + name

    def trace_file(self, name):
        self.count += 1
        return os.path.join(self.workdir, "%02d-%s.trace" % (self.count, name))


# ---------------------------------------------------------------------------------------
# Tests.

def test_platform_probe(ctx):
    """The file and system layers against the real Windows calls."""
    scratch = os.path.join(ctx.wine.drive_c, "probe-" + ctx.arch)
    os.makedirs(scratch, exist_ok=True)
    result = ctx.wine.run([ctx.helper("platform_probe.exe")], limit=60, cwd=scratch)
    sys.stdout.write("".join("    " + line + "\n" for line in result.stdout.splitlines()))
    expect(result.returncode == 0, "platform probe failed")


def check_installed(ctx, folder, files):
    """Every payload file with its contents, time and attributes; every folder."""
    for name, data in files.items():
        path = ctx.wine.host_path(folder + "\\" + name.replace("/", "\\"))
        expect(os.path.isfile(path), "missing after install: " + name)
        with open(path, "rb") as stored:
            expect(stored.read() == data, "contents differ: " + name)
    windows_names = [folder + "\\" + name.replace("/", "\\") for name in files]
    info = ctx.wine.file_info(ctx.helper("file_info.exe"), windows_names)
    for name, path in zip(files, windows_names):
        found = info.get(path)
        expect(found is not None, "file_info cannot see " + path)
        attributes, written = found
        expect(written == PAYLOAD_TIME_TEXT, "last-write time of %s is %s" % (path, written))
        expect(attributes & 7 == PAYLOAD_ATTRIBUTES.get(name, 0),
               "attributes of %s are %#x" % (path, attributes))
    for sub in ("docs", "docs\\deeper"):
        expect(os.path.isdir(ctx.wine.host_path(folder + "\\" + sub)), "folder missing: " + sub)


def check_registered(ctx, folder):
    program = folder + "\\Zarpex32.exe"
    wine = ctx.wine
    expect(wine.reg_query(APP_PATHS_KEY) == program,
           "application path is %r" % wine.reg_query(APP_PATHS_KEY))
    expect(wine.reg_query(SETUP_KEY, "Setup") == "1", "setup marker missing")
    expect(wine.reg_query(UNINSTALL_KEY, "DisplayName") == "Zarpex", "uninstall name missing")
    expect(wine.reg_query(UNINSTALL_KEY, "UninstallString") == '"%s" /uninstall' % program,
           "uninstall command is %r" % wine.reg_query(UNINSTALL_KEY, "UninstallString"))


def wait_marker(ctx, folder, limit=STEP_LIMIT):
    """The command line the started program recorded, or None."""
    marker = ctx.wine.host_path(folder + "\\Zarpex32.started")
    deadline = time.time() + limit
    while time.time() < deadline:
        if os.path.exists(marker) and os.path.getsize(marker) > 0:
            with open(marker) as text:
                return text.read()
        time.sleep(0.2)
    return None


def nothing_recorded(ctx):
    wine = ctx.wine
    expect(wine.reg_query(APP_PATHS_KEY) is None, "application path written")
    expect(wine.reg_query(SETUP_KEY, "Setup") is None, "setup marker written")
    expect(wine.reg_query(UNINSTALL_KEY, "DisplayName") is None, "uninstall entry written")
    expect(not os.path.exists(os.path.join(wine.drive_c, "windows", "zarpex.ini")),
           "profile file written")


class Payload:
    """One payload and its installer, shared by the installer tests."""

    def __init__(self, ctx):
        self.folder = os.path.join(ctx.workdir, "payload-" + ctx.arch)
        self.files = make_payload(self.folder, ctx.helper("Zarpex32.exe"))
        self.installer = ctx.build_installer(self.folder, "setup.exe")


def payload(ctx):
    if not hasattr(ctx, "payload"):
        ctx.payload = Payload(ctx)
    return ctx.payload


INSTALL_FOLDER = "C:\\My Apps\\Zarpex"


def install_typed(ctx, installer, trace, folder, answer=None, limit=RUN_LIMIT, env=None,
                  args=()):
    """Starts an installer, types the folder into its dialog (the proposed folder is
    selected, so typing replaces it; None keeps it), presses Return, answers one message
    box with the key `answer` when given, and returns (exit code, boxes, templates)."""
    run_ = ctx.wine.start(installer, ctx.trace_file(trace), args=args, env=env)
    try:
        dialog = run_.new_window()
        if folder is not None:
            run_.type(dialog, folder)
        run_.keys(dialog, "Return")
        if answer is not None:
            box = run_.new_window()
            run_.keys(box, answer)
        return run_.finish(limit)
    finally:
        run_.abandon()


def test_fresh_install(ctx):
    """Type a folder, press Enter: files, registry, uninstall entry, started program. The
    folder holds a space: the program is started by its quoted path, so that a C:\\My.exe
    (here the marker program, which would leave C:\\Zarpex32.started) is not run instead."""
    p = payload(ctx)
    ctx.wine.forget_installation()
    decoy = ctx.wine.host_path("C:\\My.exe")
    shutil.copyfile(ctx.helper("Zarpex32.exe"), decoy)
    code, boxes, templates = install_typed(ctx, p.installer, "fresh", INSTALL_FOLDER)
    expect(code == 0, "exit code %d" % code)
    expect(boxes == [], "message boxes shown: %r" % boxes)
    expect(templates.count(MAIN_TEMPLATE) == 1, "main dialog templates: %r" % templates)
    check_installed(ctx, INSTALL_FOLDER, p.files)
    check_registered(ctx, INSTALL_FOLDER)
    command = wait_marker(ctx, INSTALL_FOLDER)
    expect(command is not None, "the installed program was not started")
    expect(command == '"%s\\Zarpex32.exe"' % INSTALL_FOLDER, "started with command line %r" % command)
    os.remove(decoy)
    expect(not os.path.exists(ctx.wine.host_path("C:\\Zarpex32.started")), "C:\\My.exe was started")


def modify_installed(ctx, names):
    for name in names:
        path = ctx.wine.host_path(INSTALL_FOLDER + "\\" + name.replace("/", "\\"))
        with open(path, "wb") as out:
            out.write(b"changed by the test\r\n")


def read_installed(ctx, name):
    with open(ctx.wine.host_path(INSTALL_FOLDER + "\\" + name.replace("/", "\\")), "rb") as f:
        return f.read()


def test_second_run_keeps_files_answered_no(ctx):
    """The previous folder is proposed; every existing file is asked about; No keeps it."""
    p = payload(ctx)
    changed = ["readme.txt", "docs/guide.txt"]
    modify_installed(ctx, changed)
    os.remove(ctx.wine.host_path(INSTALL_FOLDER + "\\Zarpex32.started"))
    run_ = ctx.wine.start(p.installer, ctx.trace_file("answer-no"))
    prompts = 0
    try:
        dialog = run_.new_window()
        run_.keys(dialog, "Return")  # install to the proposed folder as it is
        for _ in range(len(p.files)):
            prompt = run_.new_window()
            run_.keys(prompt, "Tab", "space")  # Yes has the focus; Tab moves to No
            run_.gone(prompt)
            prompts += 1
        code, boxes, templates = run_.finish()
    finally:
        run_.abandon()
    expect(code == 0, "exit code %d" % code)
    expect(boxes == [], "message boxes shown: %r" % boxes)
    expect(templates.count(PROMPT_TEMPLATE) == len(p.files),
           "overwrite prompts: %d" % templates.count(PROMPT_TEMPLATE))
    for name in changed:
        expect(read_installed(ctx, name) == b"changed by the test\r\n", name + " was overwritten")
    expect(wait_marker(ctx, INSTALL_FOLDER) is not None, "the program was not started")


def answer_every_box(run_, key="Return"):
    """Answers each new window with key until the installer ends."""
    while True:
        try:
            window = run_.new_window()
        except TestFailure:
            if run_.process.poll() is not None:
                return
            raise
        run_.keys(window, key)
        run_.gone(window)


def test_yes_to_all_and_protected_files(ctx):
    """Yes To All asks once and restores the changed files; protected files as Wine allows."""
    p = payload(ctx)
    changed = ["readme.txt", "docs/guide.txt"]
    modify_installed(ctx, changed)
    run_ = ctx.wine.start(p.installer, ctx.trace_file("yes-to-all"))
    try:
        dialog = run_.new_window()
        run_.keys(dialog, "Return")
        prompt = run_.new_window()
        run_.keys(prompt, "Tab", "Tab", "space")  # Yes To All
        run_.gone(prompt)
        answer_every_box(run_)  # "Cannot create": OK goes on with the next file
        code, boxes, templates = run_.finish()
    finally:
        run_.abandon()
    expect(code == 0, "exit code %d" % code)
    expect(templates.count(PROMPT_TEMPLATE) == 1, "prompts after Yes To All")
    # Replacing a read-only file is refused with "Access denied" (on Windows also a hidden
    # or system file, created anew as a normal one). Wine running as root opens read-only
    # files for writing all the same, and does not refuse hidden ones: then nothing is
    # refused and every file is written again, attributes included.
    refusals = {"Cannot create %s\\%s\nAccess denied" % (INSTALL_FOLDER, name)
                for name in ("readonly.txt", "docs\\secret.txt")}
    if os.geteuid() == 0:
        expect(boxes == [], "message boxes: %r" % boxes)
        check_installed(ctx, INSTALL_FOLDER, p.files)
    else:
        read_only_refusal = "Cannot create %s\\readonly.txt\nAccess denied" % INSTALL_FOLDER
        expect(read_only_refusal in boxes, "no refusal for the read-only file: %r" % boxes)
        expect(set(boxes) <= refusals, "message boxes: %r" % boxes)
    for name in changed:
        expect(read_installed(ctx, name) == p.files[name], name + " was not restored")
    expect(read_installed(ctx, "readonly.txt") == p.files["readonly.txt"], "read-only file changed")


def test_overwrite_check_box(ctx):
    """With "Overwrite Existing Files Without Prompting" ticked, nothing is asked."""
    p = payload(ctx)
    changed = ["readme.txt", "docs/deeper/notes.txt"]
    modify_installed(ctx, changed)
    run_ = ctx.wine.start(p.installer, ctx.trace_file("check-box"))
    try:
        dialog = run_.new_window()
        # Tab order: folder, Install, Cancel, Browse, the check box.
        run_.keys(dialog, "Tab", "Tab", "Tab", "Tab", "space", "alt+i")
        answer_every_box(run_)
        code, boxes, templates = run_.finish()
    finally:
        run_.abandon()
    expect(code == 0, "exit code %d" % code)
    expect(PROMPT_TEMPLATE not in templates, "the overwrite prompt opened")
    if os.geteuid() == 0:  # see the Yes To All test
        expect(boxes == [], "message boxes: %r" % boxes)
    for name in changed:
        expect(read_installed(ctx, name) == p.files[name], name + " was not restored")


def test_file_that_cannot_be_created(ctx):
    """A file that cannot be created: OK goes on and the installation is registered;
    Cancel stops it, and a stopped installation is neither registered nor started."""
    p = payload(ctx)
    cases = [  # (answer to "Cannot create", folder, registered afterwards)
        ("Return", "C:\\Blocked\\GoOn", True),
        ("Escape", "C:\\Blocked\\Stop", False),
    ]
    for answer, folder, registered in cases:
        ctx.wine.forget_installation()
        # A folder where readme.txt should go: the file cannot be created over it.
        os.makedirs(ctx.wine.host_path(folder + "\\readme.txt"))
        code, boxes, templates = install_typed(ctx, p.installer, "blocked", folder, answer=answer)
        expect(code == 0, "%s: exit code %d" % (folder, code))
        expect(boxes == ["Cannot create %s\\readme.txt\nAccess denied" % folder],
               "%s: message boxes: %r" % (folder, boxes))
        expect(os.path.isdir(ctx.wine.host_path(folder + "\\readme.txt")),
               folder + ": the blocking folder went away")
        if registered:
            rest = {name: data for name, data in p.files.items() if name != "readme.txt"}
            check_installed(ctx, folder, rest)
            check_registered(ctx, folder)
            expect(wait_marker(ctx, folder) is not None, folder + ": the program was not started")
        else:
            nothing_recorded(ctx)
            time.sleep(1)
            expect(not os.path.exists(ctx.wine.host_path(folder + "\\Zarpex32.started")),
                   folder + ": the program was started")


def test_planted_folder_link_is_refused(ctx):
    """A folder of the install folder that is a link leading out of it (planted by another
    user, who can write that folder) is refused like a folder that cannot be created, and
    nothing is written where it leads. Wine shows a Unix symbolic link to a folder as a
    reparse point (attributes 0x410); one to a file it shows as the file itself."""
    p = payload(ctx)
    ctx.wine.forget_installation()
    folder = "C:\\Planted\\Zarpex"
    outside = ctx.wine.host_path("C:\\Outside")
    os.makedirs(outside, exist_ok=True)
    os.makedirs(ctx.wine.host_path(folder), exist_ok=True)
    os.symlink(outside, ctx.wine.host_path(folder + "\\docs"))
    code, boxes, templates = install_typed(ctx, p.installer, "planted-link", folder,
                                           answer="Return")
    expect(code == 0, "exit code %d" % code)
    expect(boxes == ["Cannot create folder %s\\docs\nAccess denied" % folder],
           "message boxes: %r" % boxes)
    expect(os.listdir(outside) == [], "written through the link: %r" % os.listdir(outside))
    expect(os.path.islink(ctx.wine.host_path(folder + "\\docs")), "the link went away")
    nothing_recorded(ctx)


def cancel_test(ctx, name, folder, how):
    p = payload(ctx)
    ctx.wine.forget_installation()
    run_ = ctx.wine.start(p.installer, ctx.trace_file(name))
    try:
        dialog = run_.new_window()
        run_.type(dialog, folder)
        run_.keys(dialog, "Escape")  # Escape does nothing
        time.sleep(0.5)
        expect(dialog in windows_named(ctx.wine.env), "Escape closed the dialog")
        run_.keys(dialog, *how)
        code, boxes, templates = run_.finish()
    finally:
        run_.abandon()
    expect(code == 0, "exit code %d" % code)
    expect(boxes == [], "message boxes shown: %r" % boxes)
    expect(not os.path.exists(ctx.wine.host_path(folder)), folder + " was created")
    nothing_recorded(ctx)


def test_cancel_writes_nothing(ctx):
    """Cancel before Install: no folder, no registry record, no profile, nothing started."""
    cancel_test(ctx, "cancel", "C:\\CancelTest", ["Tab", "Tab", "space"])  # edit, Install, Cancel


def test_close_box_writes_nothing(ctx):
    """Alt+F4 (the close box's command) acts as Cancel."""
    cancel_test(ctx, "close", "C:\\CloseTest", ["alt+F4"])


def test_changed_stub_shows_only_its_warning(ctx):
    """One changed byte in the stub: the warning alone, no dialog, exit code 0."""
    p = payload(ctx)
    run_changed_stub(ctx, ctx.wine.host_path(p.installer), "damaged")


def run_changed_stub(ctx, source, name):
    """Copies the installer at host path `source` to installers/<name>.exe with one byte of
    its code section changed, runs the copy and expects the warning alone, exit code 0."""
    data = bytearray(open(source, "rb").read())
    data[0x400 + 17] ^= 0x01  # a byte of the code section
    with open(os.path.join(os.path.dirname(source), name + ".exe"), "wb") as out:
        out.write(data)
    expect_only_box(ctx, name, MODIFIED_WARNING)


def expect_only_box(ctx, name, text):
    """Runs installers/<name>.exe, answers its one message box with Return, and expects
    that box's text alone, no main dialog and exit code 0."""
    run_ = ctx.wine.start("C:\\installers\\%s.exe" % name, ctx.trace_file(name))
    try:
        box = run_.new_window()
        run_.keys(box, "Return")
        code, boxes, templates = run_.finish()
    finally:
        run_.abandon()
    expect(code == 0, "exit code %d" % code)
    expect(boxes == [text], "message boxes: %r" % boxes)
    expect(MAIN_TEMPLATE not in templates, "the main dialog opened")


def test_identical_files_install(ctx):
    """Files of identical contents stored once: a program in three folders (once under
    another name), two empty files, a text again with other attributes and times. Every
    copy arrives with its own time and attributes."""
    program = open(ctx.helper("Zarpex32.exe"), "rb").read()
    text = b"".join(b"Line %05d of the licence.\r\n" % i for i in range(2000))
    files = {"bin/tool.exe": program, "lib/tool.exe": program, "tools/helper.exe": program,
             "bin/licence.txt": text, "docs/LICENCE": text, "bin/empty.log": b"",
             "docs/empty.log": b""}
    older = PAYLOAD_TIME - 86400 * 30
    times = {"docs/LICENCE": older}
    attributes = {"docs/LICENCE": 1, "tools/helper.exe": 6}
    folder = os.path.join(ctx.workdir, "identical-" + ctx.arch)
    for name, data in files.items():
        path = os.path.join(folder, *name.split("/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as out:
            out.write(data)
        os.utime(path, (times.get(name, PAYLOAD_TIME),) * 2)
    os.chmod(os.path.join(folder, "docs", "LICENCE"), 0o444)
    os.setxattr(os.path.join(folder, "tools", "helper.exe"), "user.zarpex.attributes", b"6")
    installer = ctx.build_installer(folder, "identical.exe")
    listing = run([ctx.zpx, "list", "--json", ctx.wine.host_path(installer)]).stdout
    expect(listing.count('"same_member_as": ') - listing.count('"same_member_as": null') == 4,
           "entries sharing a member: " + listing)
    target = "C:\\Identical\\Zarpex"
    ctx.wine.forget_installation()
    code, boxes, templates = install_typed(ctx, installer, "identical", target)
    expect(code == 0, "exit code %d" % code)
    expect(boxes == [], "message boxes shown: %r" % boxes)
    windows_names = [target + "\\" + name.replace("/", "\\") for name in files]
    info = ctx.wine.file_info(ctx.helper("file_info.exe"), windows_names)
    for name, path in zip(files, windows_names):
        with open(ctx.wine.host_path(path), "rb") as stored:
            expect(stored.read() == files[name], "contents differ: " + name)
        found = info.get(path)
        expect(found is not None, "file_info cannot see " + path)
        when = time.strftime("%Y-%m-%d %H:%M:%S", time.gmtime(times.get(name, PAYLOAD_TIME)))
        expect(found[1] == when, "last-write time of %s is %s, not %s" % (name, found[1], when))
        expect(found[0] & 7 == attributes.get(name, 0),
               "attributes of %s are %#x" % (name, found[0]))


# ---------------------------------------------------------------------------------------
# A payload the size of a real product: the MinGW-w64 i686 runtime DLLs (stripped, as
# shipped) in several copies under different names, a few thousand small files, and the
# test program; built into one archive per run and put behind each stub.

LARGE_COPIES = ["bin", "lib", "plugins/core", "plugins/extra", "tools"]
LARGE_SMALL_FILES = 3000
LARGE_MINIMUM = 30 * 1000 * 1000


def runtime_dlls(workdir):
    """The stripped i686 runtime DLLs: {name: bytes}."""
    folder = os.path.join(workdir, "dlls")
    if not os.path.isdir(folder):
        os.makedirs(folder)
        gcc = sorted(glob.glob("/usr/lib/gcc/i686-w64-mingw32/*-win32"))[-1]
        for dll in sorted(glob.glob(gcc + "/*.dll") + glob.glob("/usr/i686-w64-mingw32/lib/*.dll")):
            result = run(["i686-w64-mingw32-strip", "-o",
                          os.path.join(folder, os.path.basename(dll)), dll], limit=60)
            expect(result.returncode == 0, "strip failed: " + result.stderr[-300:])
    return {name: open(os.path.join(folder, name), "rb").read() for name in sorted(os.listdir(folder))}


def small_file(index):
    """Deterministic text of 100 to 2,100 bytes, like the data files of a program."""
    line = b"item %05d: setting=%d; colour=#%06x; label=Zarpex sample data\r\n"
    count = 2 + (index * 7919) % 40
    return b"".join(line % (index, k, (index * 2654435761 + k) & 0xFFFFFF) for k in range(count))


def archive_order(ctx, archive):
    """Relative names in the order the archive's directory holds them, as the installer
    extracts them (files of identical contents follow each other there)."""
    listing = run([ctx.zpx, "list", "--json", archive]).stdout
    return [entry["name"].replace("\\", "/") for entry in json.loads(listing)["entries"]]


class LargePayload:
    """The large payload's folder and files, made once per run, and its archives. Without
    the test program (for timing) the installer starts nothing at its end."""

    def __init__(self, ctx, name="large", with_program=True):
        self.name = name
        self.folder = os.path.join(ctx.workdir, name)
        if not os.path.isdir(self.folder):
            dlls = runtime_dlls(ctx.workdir)
            files = {}
            if with_program:
                files["Zarpex32.exe"] = open(ctx.helper("Zarpex32.exe"), "rb").read()
            for copy in LARGE_COPIES:
                for name_, data in dlls.items():
                    files[copy + "/" + name_] = data
            for i in range(LARGE_SMALL_FILES):
                files["data/%02d/item-%04d.txt" % (i % 30, i)] = small_file(i)
            for relative, data in files.items():
                path = os.path.join(self.folder, *relative.split("/"))
                os.makedirs(os.path.dirname(path), exist_ok=True)
                with open(path, "wb") as out:
                    out.write(data)
        self.order = archive_order(ctx, self.archive(ctx))
        self.size = sum(os.path.getsize(self.source(n)) for n in self.order
                        if os.path.isfile(self.source(n)))
        expect(self.size >= LARGE_MINIMUM, "the large payload has only %d bytes" % self.size)

    def source(self, name):
        return os.path.join(self.folder, *name.split("/"))

    def archive(self, ctx, level=None):
        """The payload packed at a level (the packer's default when None), made once."""
        path = os.path.join(ctx.workdir, "%s%s.zpx" % (self.name, level or ""))
        if not os.path.exists(path):
            result = run([ctx.zpx, "build", "-o", path] + ([level] if level else []) +
                         [self.folder], limit=1800, env=dict(os.environ, TZ="UTC"))
            expect(result.returncode == 0, "zpx build failed: " + result.stderr[-600:])
        return path

    def installer(self, ctx, level=None):
        """The archive behind this architecture's stub; its Windows path."""
        name = "%s%s-%s.exe" % (self.name, level or "", ctx.arch)
        out = os.path.join(ctx.wine.drive_c, "installers", name)
        if not os.path.exists(out):
            os.makedirs(os.path.dirname(out), exist_ok=True)
            result = run([ctx.zpx, "wrap", "--stub", ctx.stub, "-o", out,
                          self.archive(ctx, level)], limit=120)
            expect(result.returncode == 0, "zpx wrap failed: " + result.stderr[-600:])
        return "C:\\installers\\" + name


def large_payload(ctx):
    if not hasattr(ctx, "large"):
        ctx.large = LargePayload(ctx)
    return ctx.large


def installed_path(ctx, folder, name):
    return ctx.wine.host_path(folder + "\\" + name.replace("/", "\\"))


def same_contents(ctx, large, folder, name):
    return filecmp.cmp(large.source(name), installed_path(ctx, folder, name), shallow=False)


def test_large_payload_installs(ctx):
    """A payload of more than 30 MB: every file and folder arrives, every byte compared."""
    large = large_payload(ctx)
    folder = "C:\\Large\\Zarpex"
    ctx.wine.forget_installation()
    code, boxes, templates = install_typed(ctx, large.installer(ctx), "large", folder, limit=300)
    expect(code == 0, "exit code %d" % code)
    expect(boxes == [], "message boxes shown: %r" % boxes)
    for name in large.order:
        if os.path.isdir(large.source(name)):
            expect(os.path.isdir(installed_path(ctx, folder, name)), "folder missing: " + name)
        else:
            expect(os.path.isfile(installed_path(ctx, folder, name)), "missing: " + name)
            expect(same_contents(ctx, large, folder, name), "contents differ: " + name)
    check_registered(ctx, folder)
    expect(wait_marker(ctx, folder) is not None, "the installed program was not started")


def click_cancel(ctx, window):
    """Clicks the main dialog's Cancel button (231, 24, 39 by 14 dialog units) with the
    mouse; the window's size in pixels gives the scale of the dialog units."""
    geometry = run(["xdotool", "getwindowgeometry", str(window)], env=ctx.wine.env).stdout
    x, y = [int(v) for v in geometry.split("Position:")[1].split()[0].split(",")]
    width, height = [int(v) for v in geometry.split("Geometry:")[1].split()[0].split("x")]
    cx = x + round((231 + 39 / 2) * width / 275)
    cy = y + round((24 + 14 / 2) * height / 90)
    result = run(["xdotool", "mousemove", str(cx), str(cy), "click", "1"], env=ctx.wine.env)
    expect(result.returncode == 0, "xdotool click failed: " + result.stderr)


def test_cancel_while_extracting(ctx):
    """Cancel pressed while the large payload is being extracted. To press it while files
    are being written, whatever the machine's speed, the installer's process is stopped
    (SIGSTOP) as soon as a file of the payload appears, the click is queued, and the
    process goes on (SIGCONT): the press is handled at the installer's next look at its
    messages. The file in progress then is either finished whole (the press came during
    its decoding) or removed (the press came just before it); nothing after it is written,
    nothing is registered, nothing is started."""
    large = large_payload(ctx)
    folder = "C:\\Cancelled\\Zarpex"
    files = [name for name in large.order if os.path.isfile(large.source(name))]
    trigger = files[3]  # early in the archive, well before its end
    ctx.wine.forget_installation()
    run_ = ctx.wine.start(large.installer(ctx), ctx.trace_file("cancel-extracting"))
    try:
        dialog = run_.new_window()
        run_.type(dialog, folder)
        run_.keys(dialog, "Return")
        deadline = time.time() + STEP_LIMIT
        while not os.path.exists(installed_path(ctx, folder, trigger)):
            expect(time.time() < deadline, "extraction did not start within %d s" % STEP_LIMIT)
            expect(run_.process.poll() is None, "the installer ended before extracting")
            time.sleep(0.005)
        os.killpg(run_.process.pid, signal.SIGSTOP)
        try:
            present = [name for name in large.order
                       if os.path.exists(installed_path(ctx, folder, name))]
            in_progress = present[-1]
            expect(in_progress != large.order[-1],
                   "extraction ended before Cancel could be pressed")
            click_cancel(ctx, dialog)
            time.sleep(0.3)
        finally:
            os.killpg(run_.process.pid, signal.SIGCONT)
        code, boxes, templates = run_.finish(limit=120)
    finally:
        run_.abandon()
    expect(code == 0, "exit code %d" % code)
    expect(boxes == [], "message boxes shown: %r" % boxes)
    at = large.order.index(in_progress)
    now_present = [name for name in large.order if os.path.exists(installed_path(ctx, folder, name))]
    expect(now_present == large.order[:len(now_present)],
           "what is installed is not the payload's beginning: %r" % now_present[-3:])
    # Wine turns the queued click into window messages when the installer next looks at its
    # queue, which may take a few entries of small files; what counts is that it stopped
    # at an entry boundary at or after the file in progress, well before the end.
    expect(at <= len(now_present) < len(large.order),
           "%d of %d entries installed; %s was in progress (entry %d)" %
           (len(now_present), len(large.order), in_progress, at + 1))
    for name in now_present:
        if not os.path.isdir(large.source(name)):
            expect(same_contents(ctx, large, folder, name), "incomplete after Cancel: " + name)
    nothing_recorded(ctx)
    time.sleep(2)
    expect(not os.path.exists(installed_path(ctx, folder, "Zarpex32.started")),
           "the installed program was started after Cancel")


def signing_keys(ctx):
    """A throwaway certificate and its key, made once per run."""
    folder = os.path.join(ctx.workdir, "keys")
    cert, key = os.path.join(folder, "cert.pem"), os.path.join(folder, "key.pem")
    if not os.path.exists(cert):
        os.makedirs(folder, exist_ok=True)
        result = run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
                      "-out", cert, "-days", "30", "-subj", "/CN=Zarpex Test"], limit=120)
        expect(result.returncode == 0, "openssl req failed: " + result.stderr[-400:])
    return cert, key


def sign_installer(ctx, source, target):
    """Signs as a vendor does, last; checks the signature and that zpx accepts the result."""
    cert, key = signing_keys(ctx)
    if os.path.exists(target):
        os.remove(target)
    result = run(["osslsigncode", "sign", "-certs", cert, "-key", key, "-in", source,
                  "-out", target], limit=120)
    expect(result.returncode == 0, "osslsigncode sign failed: " + result.stdout[-400:])
    verified = run(["osslsigncode", "verify", "-CAfile", cert, "-in", target], limit=120)
    expect(verified.returncode == 0, "osslsigncode verify refused it: " + verified.stdout[-600:])
    tested = run([ctx.zpx, "test", target], limit=120)
    expect(tested.returncode == 0, "zpx test refused the signed installer: " + tested.stderr[-400:])
    listed = run([ctx.zpx, "list", target], limit=120)
    expect("signed: certificate table at offset" in listed.stdout,
           "zpx list does not show the signature: " + listed.stdout[:300])


def test_signed_installer_installs(ctx):
    """Signed after build (osslsigncode): verifies, passes zpx test and installs."""
    p = payload(ctx)
    source = ctx.wine.host_path(p.installer)
    sign_installer(ctx, source, os.path.join(os.path.dirname(source), "signed.exe"))
    folder = "C:\\Signed\\Zarpex"
    ctx.wine.forget_installation()
    code, boxes, templates = install_typed(ctx, "C:\\installers\\signed.exe", "signed", folder)
    expect(code == 0, "exit code %d" % code)
    expect(boxes == [], "message boxes shown: %r" % boxes)
    check_installed(ctx, folder, p.files)
    check_registered(ctx, folder)
    expect(wait_marker(ctx, folder) is not None, "the installed program was not started")


def test_signed_installer_with_changed_code_warns(ctx):
    """A signed installer whose stub code changed: the warning alone, nothing installed."""
    p = payload(ctx)
    folder = os.path.dirname(ctx.wine.host_path(p.installer))
    signed = os.path.join(folder, "signed.exe")
    if not os.path.exists(signed):
        sign_installer(ctx, ctx.wine.host_path(p.installer), signed)
    ctx.wine.forget_installation()
    run_changed_stub(ctx, signed, "signed-damaged")
    nothing_recorded(ctx)


def test_empty_archive(ctx):
    """An archive without entries: "Archive contains no files", no dialog."""
    # zpx will not pack an empty folder, so the archive is just a header: magic, the
    # directory right behind it, no entries, 42 bytes in all.
    archive = os.path.join(ctx.workdir, "empty.zpx")
    with open(archive, "wb") as out:
        out.write(b"ZPX\n" + struct.pack("<IIIIII", 42, 0, 0, 0, 42, 0) + bytes(14))
    out_path = os.path.join(ctx.wine.drive_c, "installers", "empty.exe")
    result = run([ctx.zpx, "wrap", "-f", "--stub", ctx.stub, "-o", out_path, archive], limit=60)
    expect(result.returncode == 0, "zpx wrap failed: " + result.stderr[-600:])
    ctx.wine.forget_installation()
    expect_only_box(ctx, "empty", "Archive contains no files")
    nothing_recorded(ctx)


NAMES_FOLDER = "C:\\Apps\\Names"
NON_ASCII_NAME = "docs/\u00dcberblick \u2013 Caf\u00e9.txt"


def test_non_ascii_names(ctx):
    """Names in the Western code page (zpx build's default) install under their own letters."""
    folder = os.path.join(ctx.workdir, "names-" + ctx.arch)
    files = {"Zarpex32.exe": open(ctx.helper("Zarpex32.exe"), "rb").read(),
             NON_ASCII_NAME: "Caf\u00e9 \u2013 \u00dcberblick\r\n".encode("utf-8")}
    for name, data in files.items():
        path = os.path.join(folder, *name.split("/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as out:
            out.write(data)
    installer = ctx.build_installer(folder, "names.exe")
    ctx.wine.forget_installation()
    # A Western system: ANSI code page 1252, file names on this side in UTF-8.
    code, boxes, _ = install_typed(ctx, installer, "names", NAMES_FOLDER,
                                   env={"LANG": "C.UTF-8", "LC_ALL": ""})
    expect(code == 0, "exit code %d" % code)
    expect(boxes == [], "message boxes shown: %r" % boxes)
    docs = ctx.wine.host_path(NAMES_FOLDER + "\\docs")
    expect(os.listdir(docs) == ["\u00dcberblick \u2013 Caf\u00e9.txt"],
           "installed as %r" % os.listdir(docs))
    with open(os.path.join(docs, "\u00dcberblick \u2013 Caf\u00e9.txt"), "rb") as installed:
        expect(installed.read() == files[NON_ASCII_NAME], "contents differ")
    expect(wait_marker(ctx, NAMES_FOLDER) is not None, "the installed program was not started")


def browse_test(ctx, name, typed, expected_folder, open_chooser):
    """Types a folder, browses from it, accepts the chooser and installs where it led."""
    p = payload(ctx)
    ctx.wine.forget_installation()
    os.makedirs(ctx.wine.host_path(typed.rstrip("\\")), exist_ok=True)
    run_ = ctx.wine.start(p.installer, ctx.trace_file(name))
    try:
        dialog = run_.new_window()
        run_.type(dialog, typed)
        run_.keys(dialog, "alt+b")
        chooser = open_chooser(ctx, run_, dialog)
        run_.keys(chooser, "Return")  # OK
        wait_trace_count(run_, MAIN_TEMPLATE, 1)
        time.sleep(1)
        run_.keys(dialog, "alt+i")
        code, boxes, templates = run_.finish()
    finally:
        run_.abandon()
    expect(code == 0, "exit code %d" % code)
    expect(boxes == [], "message boxes shown: %r" % boxes)
    check_installed(ctx, expected_folder, p.files)
    return templates


def wait_trace_count(run_, template, count, limit=STEP_LIMIT):
    deadline = time.time() + limit
    while time.time() < deadline:
        if read_trace(run_.trace_file)[1].count(template) >= count:
            return
        time.sleep(0.2)
    raise TestFailure("template %r not shown within %d s" % (template, limit))


def shell_browser(ctx, run_, dialog):
    deadline = time.time() + STEP_LIMIT
    while time.time() < deadline:
        found = windows_named(ctx.wine.env, "Browse for Folder")
        if found:
            time.sleep(1)  # the callback preselects the folder once the browser is up
            return max(found)
        time.sleep(0.2)
    raise TestFailure("the shell folder browser did not open")


def file_dialog(ctx, run_, dialog):
    # Wine gives this dialog no X window of its own; keys sent to the main dialog's window
    # reach it, since it is the active window of the process.
    wait_trace_count(run_, FOLDER_TEMPLATE, 1)
    time.sleep(1)
    return dialog


FOLDER_TEMPLATE = "DIALOG 63, 36, 171, 164, 0"


def test_browse_with_shell_browser(ctx):
    """Browse opens the shell browser on the typed folder; OK gives it "\\Zarpex" behind."""
    browse_test(ctx, "browse-shell", "C:\\Chosen", "C:\\Chosen\\Zarpex", shell_browser)


def test_browse_with_file_dialog(ctx):
    """Below version 4 the file dialog with template 3 hands back its current folder."""
    version_key = "HKCU\\Software\\Wine\\AppDefaults\\setup.exe"
    ctx.wine.run(["reg", "add", version_key, "/v", "Version", "/d", "nt351", "/f"])
    # Wine's older file dialog opens in the process's current folder (here the installer's
    # own, C:\\installers) whatever text it starts with; OK hands that folder back.
    try:
        browse_test(ctx, "browse-file-dialog", "C:\\Older\\", "C:\\installers\\Zarpex",
                    file_dialog)
    finally:
        ctx.wine.reg_delete(version_key)


def take_screenshots(ctx, folder):
    """The main dialog and the overwrite prompt in Wine's virtual desktop, which draws
    captions (there is no window manager). Nothing recorded, so the dialog proposes
    C:\\Program Files\\Zarpex; the payload is put there first, so that Install asks."""
    p = payload(ctx)
    ctx.wine.forget_installation()
    target = ctx.wine.host_path("C:\\Program Files\\Zarpex")
    shutil.rmtree(target, ignore_errors=True)
    shutil.copytree(p.folder, target)
    width, height = 560, 250
    env = dict(ctx.wine.env)
    process = subprocess.Popen([ctx.wine.loader, "explorer", "/desktop=Zarpex,%dx%d" % (width, height),
                                p.installer], env=env, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL, start_new_session=True,
                               cwd=os.path.join(ctx.wine.drive_c, "installers"))
    try:
        time.sleep(6)
        crop = ["-crop", "%dx%d+0+0" % (width, height), "+repage"]
        run(["xdotool", "mousemove", "300", "45", "click", "1"], env=env)  # activate it
        time.sleep(1)
        run(["import", "-window", "root"] + crop + [os.path.join(folder, "main-dialog.png")],
            env=env)
        run(["xdotool", "mousemove", "510", "80", "click", "1"], env=env)  # Install
        time.sleep(3)
        run(["import", "-window", "root"] + crop + [os.path.join(folder, "overwrite-prompt.png")],
            env=env)
    finally:
        os.killpg(process.pid, signal.SIGKILL)
        process.wait()
        run(["wineserver", "-k"], limit=30, env=env)
        shutil.rmtree(target, ignore_errors=True)


# ---------------------------------------------------------------------------------------
# Unattended installation: /S and /D=.

def visible_windows(env):
    """Every visible top-level window on the display, whatever its name."""
    found = set()
    for how in ("--name", "--classname"):
        result = run(["xdotool", "search", "--onlyvisible", how, "."], env=env)
        found.update(int(w) for w in result.stdout.split())
    return found


def run_unattended(ctx, installer, args, name, limit=RUN_LIMIT):
    """Runs an installer with arguments and watches the display all along; returns the
    exit code after checking that no window of it appeared at any time, and that the
    traces show no dialog and no message box."""
    before = visible_windows(ctx.wine.env)
    run_ = ctx.wine.start(installer, ctx.trace_file(name), args=args)
    appeared = set()
    try:
        deadline = time.time() + limit
        while run_.process.poll() is None:
            expect(time.time() < deadline, "the installer did not end within %d s" % limit)
            appeared |= visible_windows(ctx.wine.env) - before
        code, boxes, templates = run_.finish()
    finally:
        run_.abandon()
    expect(not appeared, "windows appeared: %r" % sorted(appeared))
    expect(boxes == [] and templates == [], "boxes %r, dialogs %r" % (boxes, templates))
    return code


SILENT_FOLDER = "C:\\Program Files\\Silent Target"
# As separate arguments, which Wine joins with single spaces: the installer's command
# line then holds the folder unquoted, as a deployment tool passes it.
SILENT_ARGS = ["/S", "/D=C:\\Program", "Files\\Silent", "Target"]


def test_silent_install(ctx):
    """/S /D=C:\\Program Files\\Silent Target: every file, the registry records, nothing
    started, no window, exit 0; again over changed read-only, hidden and system files,
    which are replaced."""
    p = payload(ctx)
    ctx.wine.forget_installation()
    code = run_unattended(ctx, p.installer, SILENT_ARGS, "silent")
    expect(code == 0, "exit code %d" % code)
    check_installed(ctx, SILENT_FOLDER, p.files)
    check_registered(ctx, SILENT_FOLDER)
    expect(wait_marker(ctx, SILENT_FOLDER, limit=3) is None, "the installed program was started")

    # Changed, and all read-only (Wine takes that from the permissions; the hidden and
    # system bits of docs/secret.txt stay in its extended attribute).
    for name in ("readme.txt", "readonly.txt", "docs/secret.txt"):
        path = ctx.wine.host_path(SILENT_FOLDER + "\\" + name.replace("/", "\\"))
        os.chmod(path, 0o644)
        with open(path, "wb") as out:
            out.write(b"changed by the test\r\n")
        os.chmod(path, 0o444)
    code = run_unattended(ctx, p.installer, SILENT_ARGS, "silent-again")
    expect(code == 0, "second run: exit code %d" % code)
    check_installed(ctx, SILENT_FOLDER, p.files)


def test_silent_failures(ctx):
    """/S exits with the failure's code, shows nothing and records nothing: a damaged
    archive 11, a file that cannot be created 3, a stub with a changed byte 1; an archive
    without files exits 0 and writes nothing."""
    p = payload(ctx)
    source = ctx.wine.host_path(p.installer)
    folder = os.path.dirname(source)
    data = open(source, "rb").read()
    base = archive_base(data)
    damaged = bytearray(data)
    damaged[base + 8] += 3  # the entry count: the directory then ends too early
    changed = bytearray(data)
    changed[0x400 + 17] ^= 0x01  # a byte of the code section
    empty = bytearray(data)
    empty[base + 8:base + 12] = bytes(4)
    for name, image in (("silent-damaged", damaged), ("silent-changed", changed),
                        ("silent-empty", empty)):
        with open(os.path.join(folder, name + ".exe"), "wb") as out:
            out.write(image)
    os.makedirs(ctx.wine.host_path("C:\\Silent Blocked\\readme.txt"), exist_ok=True)
    cases = [  # (installer, folder, exit code)
        ("silent-damaged", "C:\\Silent Damaged", 11),
        ("silent-blocked", "C:\\Silent Blocked", 3),
        ("silent-changed", "C:\\Silent Changed", 1),
        ("silent-empty", "C:\\Silent Empty", 0),
    ]
    for name, target, expected in cases:
        ctx.wine.forget_installation()
        installer = "C:\\installers\\%s.exe" % (name if name != "silent-blocked" else "setup")
        code = run_unattended(ctx, installer, ["/S"] + ("/D=" + target).split(" "), name)
        expect(code == expected, "%s: exit code %d, not %d" % (name, code, expected))
        nothing_recorded(ctx)
        expect(not os.path.exists(ctx.wine.host_path(target + "\\Zarpex32.started")),
               name + ": the program was started")
    expect(not os.path.exists(ctx.wine.host_path("C:\\Silent Changed")), "the changed stub wrote")
    expect(not os.path.exists(ctx.wine.host_path("C:\\Silent Empty")), "the empty archive wrote")
    expect(not os.path.exists(ctx.wine.host_path("C:\\Silent Blocked\\readonly.txt")),
           "a file after the failure was written")


def archive_base(data):
    """Where the archive starts: the stub length in the integrity record."""
    tag = data.find(b"ZPX-INTEGRITY-v1")
    expect(tag >= 0, "no integrity record")
    return struct.unpack_from("<I", data, tag + 16)[0]


def test_folder_argument_fills_the_dialog(ctx):
    """/D= without /S: the main dialog opens with that folder; Enter installs there."""
    p = payload(ctx)
    folder = "C:\\Given On\\The Line"
    ctx.wine.forget_installation()
    code, boxes, templates = install_typed(ctx, p.installer, "folder-argument", None,
                                           args=["/D=C:\\Given", "On\\The", "Line"])
    expect(code == 0, "exit code %d" % code)
    expect(boxes == [], "message boxes shown: %r" % boxes)
    check_installed(ctx, folder, p.files)
    expect(wait_marker(ctx, folder) is not None, "the installed program was not started")


# ---------------------------------------------------------------------------------------
# DLLs planted beside a program. Wine prefers its built-in DLLs; with
# WINEDLLOVERRIDES=<name>=n,b it takes a copy in the program's folder first, as Windows
# does for a DLL it does not load from its system folder.
#
# The installer's own process cannot show the restriction under Wine (8, traced with
# WINEDEBUG=+loaddll,+relay): the DLLs it loads by name, uxtheme.dll and its import
# msimg32.dll, are delay-loaded imports of Common Controls 6 (which the manifest asks for),
# first resolved in that DLL's start-up before the stub's first instruction, and again
# when the main dialog's edit control is created, by a resolution that takes the search
# path of the process's start and ignores SetDefaultDllDirectories; nothing else is
# loaded through the dialogs, both Browse forms and an installation. Left out for the same
# reason: what Wine's own DLLs load before the first instruction (version.dll for advapi32,
# imm32, winspool.drv, compstui, zlib1, ...). So the stub's restriction code runs in a
# probe (tests/wine/dll_search_probe.cpp) that then loads by name, beside planted copies
# of uxtheme and msimg32 (the names the stub also loads from the system folder first) and
# of dwmapi (a name it does not).
PLANTED = ["uxtheme", "msimg32", "dwmapi"]


def planted_loads(ctx, variant):
    """Runs the probe built as `variant` beside the planted DLLs; returns the names of the
    planted DLLs that were loaded."""
    folder = os.path.join(ctx.wine.drive_c, "planted-" + variant)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    probe = os.path.join(folder, "probe.exe")
    shutil.copyfile(ctx.helper("dll_search_%s.exe" % variant), probe)
    for name in PLANTED:
        shutil.copyfile(ctx.helper("planted_dll.dll"), os.path.join(folder, name + ".dll"))
    env = dict(ctx.wine.env, WINEDLLOVERRIDES="mscoree,mshtml=;%s=n,b" % ",".join(PLANTED))
    result = run([ctx.wine.loader, "C:\\planted-%s\\probe.exe" % variant] + PLANTED, env=env,
                 cwd=folder)
    expect(result.returncode == 0, "%s probe: exit code %d" % (variant, result.returncode))
    return sorted(name[:-len(".dll.loaded")] for name in os.listdir(folder)
                  if name.endswith(".dll.loaded"))


def test_planted_dlls(ctx):
    """Without the restriction every planted DLL is loaded (the test bites); with it, none;
    without SetDefaultDllDirectories, none of those loaded first from the system folder."""
    loaded = {variant: planted_loads(ctx, variant) for variant in ("open", "restricted", "preloaded")}
    print("    planted DLLs loaded: %s" % "; ".join(
        "%s: %s" % (variant, ", ".join(names) or "none") for variant, names in loaded.items()))
    expect(loaded["open"] == sorted(PLANTED), "without the restriction: %r" % loaded["open"])
    expect(loaded["restricted"] == [], "with the restriction: %r" % loaded["restricted"])
    expect(loaded["preloaded"] == ["dwmapi"], "loaded from the system folder first: %r" %
           loaded["preloaded"])


PLATFORM_TESTS = [test_platform_probe]
INSTALLER_TESTS = [
    test_fresh_install,
    test_second_run_keeps_files_answered_no,
    test_yes_to_all_and_protected_files,
    test_overwrite_check_box,
    test_file_that_cannot_be_created,
    test_planted_folder_link_is_refused,
    test_cancel_writes_nothing,
    test_close_box_writes_nothing,
    test_changed_stub_shows_only_its_warning,
    test_signed_installer_installs,
    test_signed_installer_with_changed_code_warns,
    test_large_payload_installs,
    test_cancel_while_extracting,
    test_empty_archive,
    test_identical_files_install,
    test_non_ascii_names,
    test_browse_with_shell_browser,
    test_browse_with_file_dialog,
    test_silent_install,
    test_silent_failures,
    test_folder_argument_fills_the_dialog,
    test_planted_dlls,
]


def wine32_present():
    return subprocess.run(["dpkg", "-s", "wine32:i386"], capture_output=True).returncode == 0


def i686_unavailable():
    """None when the i686 stub can run here, else (fatal, reason). A machine that refuses
    32-bit programs altogether cannot run it whatever is installed: that is reported on
    every run, not failed. Anywhere else a missing 32-bit Wine fails the run."""
    probe = subprocess.run([sys.executable, os.path.join(ROOT, "scripts", "runs-32bit.py")],
                           capture_output=True, text=True)
    if probe.returncode != 0:
        return (False, probe.stderr.strip() + "; 32-bit Wine cannot run the i686 stub here")
    if not wine32_present():
        return (True, "wine32:i386 is not installed (bash scripts/setup.sh installs it)")
    return None


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--keep", action="store_true", help="keep the scratch folder")
    parser.add_argument("--only", help="run only the tests whose name contains one of these "
                        "(comma-separated)")
    parser.add_argument("--arch", choices=["i686", "x86_64"], help="run one architecture only")
    parser.add_argument("--screenshots", help="folder for screenshots of the dialogs")
    args = parser.parse_args()

    # The i686 stub is the product: it runs first.
    arches = [args.arch] if args.arch else ["i686", "x86_64"]
    workdir = tempfile.mkdtemp(prefix="zarpex-wine-")
    display = Display()
    failures, passed, not_run = [], 0, []
    try:
        for arch in arches:
            if arch == "i686":
                missing = i686_unavailable()
                if missing is not None:
                    fatal, reason = missing
                    if fatal:
                        failures.append("i686")
                        print("FAIL i686: the product's stub cannot run: " + reason)
                    else:
                        not_run.append("i686: " + reason)
                        print("NOT RUN i686: " + reason)
                    continue
            wine = Wine(workdir, display.name, arch)
            try:
                ctx = Context(args, workdir, wine, arch)
                tests = list(PLATFORM_TESTS)
                if os.path.exists(ctx.stub) and os.path.exists(ctx.zpx):
                    tests += INSTALLER_TESTS
                else:
                    failures.append("%s installers" % arch)
                    print("FAIL %s: build the mingw-%s preset and build/host/zpx first" %
                          (arch, arch))
                for test in tests:
                    name = "%s/%s" % (arch, test.__name__[5:])
                    if args.only and not any(part in name for part in args.only.split(",")):
                        continue
                    start = time.time()
                    try:
                        test(ctx)
                        passed += 1
                        print("ok   %s (%.1f s)" % (name, time.time() - start))
                    except (TestFailure, subprocess.TimeoutExpired) as failure:
                        failures.append(name)
                        print("FAIL %s: %s" % (name, failure))
                    except Exception:  # a fault of the harness itself counts as a failure too
                        failures.append(name)
                        print("FAIL %s:\n%s" % (name, traceback.format_exc()))
                if args.screenshots and INSTALLER_TESTS[0] in tests:
                    take_screenshots(ctx, args.screenshots)
            finally:
                wine.close()
    finally:
        display.close()
        if not args.keep:
            shutil.rmtree(workdir, ignore_errors=True)
        else:
            print("kept " + workdir)
    print("%d passed, %d failed" % (passed, len(failures)))
    for note in not_run:
        print("NOT RUN " + note)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
