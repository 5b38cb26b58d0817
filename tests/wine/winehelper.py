"""Runs the Windows programs under Wine for the end-to-end tests.

A test module uses one session: a virtual display of its own (Xvfb), the
prefix shared by every Wine test (build/wineprefix, created once with
``wineboot -i``), LANG=ja_JP.UTF-8 so that the ANSI code page is 932, and the
test driver (wine_driver.exe) that finds windows by their exact title, reads
their controls and presses them::

    import unittest
    import winehelper

    class SomethingTest(winehelper.WineTestCase):
        def test_box(self):
            folder = self.scratch()                       # a fresh Linux folder
            exe = self.wine.private_copy(folder)          # quindo.exe with its own quindo.ini
            winehelper.write_ini(folder / "quindo.ini", {"ARC": {"OUTPUT": "2"}})
            proc = self.wine.start(exe, folder / "a.txt")  # Linux paths become Z:\\...
            box = self.wine.window("ファイル エラー")      # waits; JSON of the window and controls
            self.assertIn("...", box.texts())
            self.wine.click("ファイル エラー", 1)            # press a button by its id (IDOK)
            self.assertEqual(self.wine.wait_exit(proc), 0)
            out, err = self.wine.output(proc)             # what it wrote, as text
            self.wine.screenshot("name")                  # build/artifacts/<module>-name.png

Other calls: ``run`` (start and wait), ``find_window`` (None when absent),
``windows`` (every shown window), ``wait_gone`` (no window of a title),
``wait_closed`` (this window, by its handle), ``set_text``, ``check``,
``select`` (combo or list box), ``close_window``, ``version_info`` (the
version block as the system reads it), ``PeFile`` (headers and resources
read from the file), ``read_ini``. The driver's JSON for a window gives
title, class, owner and for each control id, class, text, visible, enabled,
rect, and checked / selected / items / position where they apply.

``WineTestCase`` opens the session in setUpClass and closes it after the
module's last class (the display stays up for the whole module). Without
Wine or Xvfb the tests skip, unless the variable CI is set: then they fail.
The programs come from QUINDO_WIN64_DIR (default build/win64).

Only one session uses the prefix at a time, across processes: the session
holds an exclusive lock on build/wineprefix.lock from start to end, and at its
end stops the prefix's wineserver so that the next one starts clean on its
own display. Everything here is the Python standard library.
"""
import atexit
import ctypes
import errno
import fcntl
import json
import os
import pathlib
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

SOURCE_DIR = pathlib.Path(os.environ.get("QUINDO_SOURCE_DIR") or pathlib.Path(__file__).resolve().parents[2])
BUILD_DIR = SOURCE_DIR / "build"
PREFIX = pathlib.Path(os.environ.get("QUINDO_WINEPREFIX") or BUILD_DIR / "wineprefix")
ARTIFACTS = pathlib.Path(os.environ.get("QUINDO_ARTIFACTS") or BUILD_DIR / "artifacts")
LOCALE = "ja_JP.UTF-8"

# Generous: a first start of Wine on a slow machine builds the whole prefix.
PREFIX_TIMEOUT = 600
LOCK_TIMEOUT = 1500
READY_TIMEOUT = 180
READY_STAMP = ".quindo-ready"

# Exit codes of wine_driver.exe.
DRIVER_DONE, DRIVER_NO_WINDOW, DRIVER_NO_CONTROL, DRIVER_USAGE, DRIVER_FAILED = 0, 1, 2, 3, 4


class WineError(AssertionError):
    """Something the session needs failed; the test fails with it."""


def in_ci():
    return bool(os.environ.get("CI"))


def unavailable(reason):
    """Skips the test, or fails it when the tests run in CI."""
    if in_ci():
        raise WineError("Wine tests cannot run in CI: " + reason)
    raise unittest.SkipTest(reason)


def win64_dir():
    return pathlib.Path(os.environ.get("QUINDO_WIN64_DIR") or BUILD_DIR / "win64")


def to_windows_path(path):
    """A Linux path as Wine sees it: the Linux root is drive Z:."""
    text = os.path.abspath(str(path))
    return "Z:" + text.replace("/", "\\")


def write_ini(path, sections, encoding="cp932"):
    """Writes a profile file: {section: {key: value}} in CP932 with CRLF."""
    lines = []
    for section, keys in sections.items():
        lines.append("[%s]" % section)
        for key, value in keys.items():
            lines.append("%s=%s" % (key, value))
    pathlib.Path(path).write_bytes(("\r\n".join(lines) + "\r\n").encode(encoding))


def read_ini(path, encoding="cp932"):
    """{section: {key: value}} of a profile file, names in upper case."""
    sections, current = {}, None
    try:
        text = pathlib.Path(path).read_bytes().decode(encoding, "replace")
    except FileNotFoundError:
        return sections
    for line in text.splitlines():
        line = line.strip()
        if line.startswith("[") and line.endswith("]"):
            current = sections.setdefault(line[1:-1].upper(), {})
        elif "=" in line and current is not None:
            key, value = line.split("=", 1)
            current[key.strip().upper()] = value
    return sections


class Window:
    """What the driver read of a top-level window: title, class, controls."""

    def __init__(self, data):
        self.data = data
        self.title = data.get("title", "")
        self.window_class = data.get("class", "")
        self.controls = data.get("controls", [])

    def control(self, control_id):
        for c in self.controls:
            if c["id"] == control_id:
                return c
        raise KeyError("no control %d in %r" % (control_id, self.title))

    def by_class(self, name):
        return [c for c in self.controls if c["class"].lower() == name.lower()]

    def texts(self):
        return [c["text"] for c in self.controls]

    def buttons(self):
        return {c["text"]: c["id"] for c in self.by_class("Button")}

    def __repr__(self):
        return "Window(%s)" % json.dumps(self.data, ensure_ascii=False)


def _die_with_parent():
    """In a child before exec: the display ends when the test process does,
    even when that is killed."""
    try:
        libc = ctypes.CDLL(None, use_errno=True)
        libc.prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG
    except (OSError, AttributeError):
        pass


class PeFile:
    """The headers and resources of a Windows program, read from its file
    (independent of the system's loader): machine, PE32+ magic, subsystem,
    resources by type and name, the version block's strings."""

    def __init__(self, path):
        self.data = pathlib.Path(path).read_bytes()
        d = self.data
        if d[:2] != b"MZ":
            raise WineError("%s is not a Windows program" % path)
        pe = int.from_bytes(d[0x3C:0x40], "little")
        if d[pe:pe + 4] != b"PE\0\0":
            raise WineError("%s has no PE header" % path)
        coff = pe + 4
        self.machine = int.from_bytes(d[coff:coff + 2], "little")
        sections = int.from_bytes(d[coff + 2:coff + 4], "little")
        optional_size = int.from_bytes(d[coff + 16:coff + 18], "little")
        opt = coff + 20
        self.optional_magic = int.from_bytes(d[opt:opt + 2], "little")
        plus = self.optional_magic == 0x20B
        self.subsystem = int.from_bytes(d[opt + 68:opt + 70], "little")
        directories = opt + (112 if plus else 96)
        self.resource_rva = int.from_bytes(d[directories + 16:directories + 20], "little")
        self.sections = []
        table = opt + optional_size
        for i in range(sections):
            entry = table + 40 * i
            self.sections.append((int.from_bytes(d[entry + 12:entry + 16], "little"),  # address
                                  int.from_bytes(d[entry + 8:entry + 12], "little"),   # virtual size
                                  int.from_bytes(d[entry + 20:entry + 24], "little"),  # file offset
                                  int.from_bytes(d[entry + 16:entry + 20], "little")))  # raw size

    def _offset(self, rva):
        for address, size, offset, raw in self.sections:
            if address <= rva < address + max(size, raw):
                return offset + rva - address
        raise WineError("address 0x%x lies in no section" % rva)

    def resources(self):
        """{type: {name: bytes}}, the first language of each; ids are ints,
        names strings."""
        if not self.resource_rva:
            return {}
        base = self._offset(self.resource_rva)
        d = self.data

        def entries(offset):
            named = int.from_bytes(d[offset + 12:offset + 14], "little")
            ids = int.from_bytes(d[offset + 14:offset + 16], "little")
            for i in range(named + ids):
                e = offset + 16 + 8 * i
                name = int.from_bytes(d[e:e + 4], "little")
                target = int.from_bytes(d[e + 4:e + 8], "little")
                if name & 0x80000000:
                    at = base + (name & 0x7FFFFFFF)
                    length = int.from_bytes(d[at:at + 2], "little")
                    name = d[at + 2:at + 2 + 2 * length].decode("utf-16-le")
                yield name, target

        out = {}
        for kind, types in entries(base):
            for name, names in entries(base + (types & 0x7FFFFFFF)):
                for _, leaf in entries(base + (names & 0x7FFFFFFF)):
                    at = base + leaf
                    rva = int.from_bytes(d[at:at + 4], "little")
                    size = int.from_bytes(d[at + 4:at + 8], "little")
                    start = self._offset(rva)
                    out.setdefault(kind, {})[name] = d[start:start + size]
                    break
        return out

    def version_strings(self):
        """The strings of the version block's first string table."""
        block = self.resources().get(16, {}).get(1)
        if block is None:
            raise WineError("no version block")

        def node(offset):
            length = int.from_bytes(block[offset:offset + 2], "little")
            value_length = int.from_bytes(block[offset + 2:offset + 4], "little")
            kind = int.from_bytes(block[offset + 4:offset + 6], "little")
            at = offset + 6
            end_key = at
            while block[end_key:end_key + 2] != b"\0\0":
                end_key += 2
            key = block[at:end_key].decode("utf-16-le")
            at = (end_key + 2 + 3) & ~3
            size = value_length * 2 if kind == 1 else value_length
            value = block[at:at + size]
            at = (at + size + 3) & ~3
            children = []
            while at < offset + length:
                child, after = node(at)
                children.append(child)
                at = (after + 3) & ~3
            return (key, value, children), offset + length

        (key, _, children), _ = node(0)
        if key != "VS_VERSION_INFO":
            raise WineError("the version block starts with %r" % key)
        for name, _, tables in children:
            if name == "StringFileInfo" and tables:
                return {k: v.decode("utf-16-le").split("\0")[0] for k, v, _ in tables[0][2]}
        return {}


class _Lock:
    """An exclusive flock on a file, taken with a deadline."""

    def __init__(self, path, timeout):
        path.parent.mkdir(parents=True, exist_ok=True)
        self.file = open(path, "a+")
        deadline = time.monotonic() + timeout
        while True:
            try:
                fcntl.flock(self.file, fcntl.LOCK_EX | fcntl.LOCK_NB)
                return
            except OSError as e:
                if e.errno not in (errno.EAGAIN, errno.EACCES):
                    raise
            if time.monotonic() > deadline:
                self.file.close()
                raise WineError("another Wine session kept %s for %d s" % (path, timeout))
            time.sleep(0.5)

    def release(self):
        if self.file:
            fcntl.flock(self.file, fcntl.LOCK_UN)
            self.file.close()
            self.file = None


class Session:
    """Xvfb, the shared prefix and the driver for one test module."""

    def __init__(self, name):
        self.name = name
        self.processes = []
        self.xvfb = None
        self.lock = None
        self.display = None
        self.bin = win64_dir()
        self.driver_exe = self.bin / "wine_driver.exe"
        self.quindo_exe = self.bin / "quindo.exe"

    # --- start and end ------------------------------------------------------

    def open(self):
        wine = shutil.which("wine")
        if not wine or not shutil.which("wineserver") or not shutil.which("wineboot"):
            unavailable("wine is not installed")
        if not shutil.which("Xvfb"):
            unavailable("Xvfb is not installed (package xvfb)")
        for exe in (self.quindo_exe, self.driver_exe):
            if not exe.is_file():
                unavailable("%s is missing: build the win64 preset first" % exe)
        self.lock = _Lock(PREFIX.with_name(PREFIX.name + ".lock"), LOCK_TIMEOUT)
        try:
            self._start_display()
            self._ensure_prefix()
            # A wineserver left from an earlier session may still serve a
            # display that is gone.
            self._wineserver("-k")
            self._wait_ready()
        except BaseException:
            self.close()
            raise
        return self

    def end_programs(self):
        """Kills every program this session started that still runs, so that
        no window of one test is left for the next."""
        for proc in self.processes:
            if proc.poll() is None:
                proc.kill()
            try:
                proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                pass
            for f in getattr(proc, "output_files", ()):
                f.close()
        self.processes = []

    def close(self):
        self.end_programs()
        if self.lock:
            self._wineserver("-k")
            self._wineserver("-w", timeout=30)
        if self.xvfb:
            self.xvfb.terminate()
            try:
                self.xvfb.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.xvfb.kill()
            self.xvfb = None
        if self.lock:
            self.lock.release()
            self.lock = None

    def env(self):
        env = dict(os.environ)
        env.update({
            "WINEPREFIX": str(PREFIX),
            "WINEARCH": "win64",
            "WINEDEBUG": "-all",
            # No Mono or Gecko installer, no menu entries in the user's desktop.
            "WINEDLLOVERRIDES": "mscoree,mshtml=;winemenubuilder.exe=d",
            "LANG": LOCALE,
            "LC_ALL": LOCALE,
            "DISPLAY": self.display or env.get("DISPLAY", ""),
        })
        return env

    def _start_display(self):
        read_end, write_end = os.pipe()
        try:
            self.xvfb = subprocess.Popen(
                ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
                 "-noreset"],
                pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                preexec_fn=_die_with_parent)
        finally:
            os.close(write_end)
        number = b""
        deadline = time.monotonic() + 30
        with os.fdopen(read_end, "rb") as reader:
            while not number.endswith(b"\n") and time.monotonic() < deadline:
                chunk = reader.read(1)
                if not chunk:
                    break
                number += chunk
        if not number.strip().isdigit():
            raise WineError("Xvfb did not start")
        self.display = ":" + number.strip().decode()

    def _ensure_prefix(self):
        if (PREFIX / READY_STAMP).exists():
            return
        if shutil.which("locale") and LOCALE.lower().replace("-", "") not in \
                subprocess.run(["locale", "-a"], capture_output=True, text=True).stdout.lower().replace("-", ""):
            # Without the locale Wine falls back to code page 1252.
            raise WineError("locale %s is not generated (locale-gen)" % LOCALE)
        last = None
        for attempt in range(3):
            if PREFIX.exists():
                shutil.rmtree(PREFIX, ignore_errors=True)
            PREFIX.parent.mkdir(parents=True, exist_ok=True)
            try:
                result = subprocess.run(["wineboot", "-i"], env=self.env(), timeout=PREFIX_TIMEOUT,
                                        stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
                self._wineserver("-w", timeout=PREFIX_TIMEOUT)
                if result.returncode == 0 and (PREFIX / "system.reg").exists():
                    (PREFIX / READY_STAMP).write_text("created %s\n" % time.ctime())
                    return
                last = result.stdout.decode(errors="replace")[-2000:]
            except subprocess.TimeoutExpired:
                last = "wineboot -i took more than %d s" % PREFIX_TIMEOUT
                self._wineserver("-k")
        raise WineError("the Wine prefix could not be created: %s" % last)

    def _wineserver(self, *args, timeout=60):
        try:
            subprocess.run(["wineserver", *args], env=self.env(), timeout=timeout,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        except subprocess.TimeoutExpired:
            pass

    def _wait_ready(self):
        # A persistent wineserver, and its services and desktop started here
        # with no standard handles of ours: a daemon that inherited a test's
        # pipe would keep it open long after the program has ended. They all
        # stay up until close(), so each program starts fast.
        self._wineserver("-p")
        try:
            subprocess.run(["wineboot"], env=self.env(), timeout=READY_TIMEOUT, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        except subprocess.TimeoutExpired:
            pass
        # The driver answers once windows can be listed.
        deadline = time.monotonic() + READY_TIMEOUT
        last = ""
        while time.monotonic() < deadline:
            try:
                result = self._run_driver(["windows"], timeout=max(10, deadline - time.monotonic()))
                if result.returncode == 0:
                    return
                last = result.stderr
            except subprocess.TimeoutExpired:
                last = "the driver did not answer"
            time.sleep(1)
        raise WineError("Wine did not become ready in %d s: %s" % (READY_TIMEOUT, last))

    # --- programs -----------------------------------------------------------

    def start(self, exe, *args, cwd=None):
        """Starts a Windows program; Linux paths among the arguments (pathlib
        paths) become Windows paths, strings are passed as they are."""
        argv = ["wine", str(exe)]
        for a in args:
            argv.append(to_windows_path(a) if isinstance(a, pathlib.PurePath) else str(a))
        # Output goes to files, not pipes: the end of a program is its exit,
        # never the end of a pipe that some Wine process may still hold.
        out, err = tempfile.TemporaryFile(), tempfile.TemporaryFile()
        proc = subprocess.Popen(argv, env=self.env(), cwd=str(cwd) if cwd else None, stdin=subprocess.DEVNULL,
                                stdout=out, stderr=err)
        proc.output_files = (out, err)
        self.processes.append(proc)
        return proc

    @staticmethod
    def output(proc):
        """What a started program wrote so far: (stdout, stderr) as text."""
        texts = []
        for f in proc.output_files:
            f.seek(0)
            texts.append(f.read().decode("utf-8", "replace"))
        return tuple(texts)

    def run(self, exe, *args, timeout=120, cwd=None):
        """Starts a program and waits for it; answers its exit code."""
        return self.wait_exit(self.start(exe, *args, cwd=cwd), timeout)

    def wait_exit(self, proc, timeout=60):
        try:
            return proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.screenshot("timeout")
            shown = self._shown()
            proc.kill()
            proc.wait()
            raise WineError("%s did not end within %d s; %s" % (proc.args[1], timeout, shown))

    def private_copy(self, folder, name="quindo.exe"):
        """Copies a built program into a folder, so that the settings file
        beside it belongs to the test alone. Answers the copy's path."""
        folder = pathlib.Path(folder)
        folder.mkdir(parents=True, exist_ok=True)
        target = folder / name
        shutil.copy2(self.bin / name, target)
        return target

    # --- the driver ---------------------------------------------------------

    def _run_driver(self, args, timeout=60):
        """Runs the driver; answers a CompletedProcess with text output.
        Raises subprocess.TimeoutExpired when it does not end in time."""
        argv = ["wine", str(self.driver_exe), *[str(a) for a in args]]
        env = self.env()
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            proc = subprocess.Popen(argv, env=env, stdin=subprocess.DEVNULL, stdout=out, stderr=err)
            try:
                code = proc.wait(timeout=timeout)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait()
                raise
            out.seek(0)
            err.seek(0)
            return subprocess.CompletedProcess(argv, code, out.read().decode("utf-8", "replace"),
                                               err.read().decode("utf-8", "replace"))

    def driver(self, *args, timeout=60, check=True):
        """Runs wine_driver.exe; answers the completed process (text output).
        With check, an exit code other than 0 fails the test."""
        try:
            result = self._run_driver(args, timeout=timeout)
        except subprocess.TimeoutExpired:
            self.screenshot("driver-" + str(args[0]))
            raise WineError("wine_driver %s did not end within %d s" % (" ".join(map(str, args)), timeout))
        if check and result.returncode != DRIVER_DONE:
            self.screenshot("driver-" + str(args[0]))
            raise WineError("wine_driver %s: exit %d: %s" % (" ".join(map(str, args)), result.returncode,
                                                               result.stderr.strip() or self._shown()))
        return result

    def _shown(self):
        try:
            result = self._run_driver(["windows"], timeout=30)
            return "windows shown: " + result.stdout.strip()
        except subprocess.TimeoutExpired:
            return ""

    def window(self, title, timeout_ms=30000):
        """Waits for a shown window with exactly this title; its controls."""
        result = self.driver("list", title, timeout_ms, timeout=timeout_ms / 1000 + 60)
        return Window(json.loads(result.stdout))

    def find_window(self, title, timeout_ms=0):
        """The window, or None when none is shown within the time."""
        result = self.driver("list", title, timeout_ms, timeout=timeout_ms / 1000 + 60, check=False)
        return Window(json.loads(result.stdout)) if result.returncode == DRIVER_DONE else None

    def windows(self):
        """Every shown top-level window: [{title, class}]."""
        return json.loads(self.driver("windows").stdout)

    def wait_gone(self, title, timeout_ms=30000):
        """Waits until no window with this title is shown."""
        self.driver("gone", title, timeout_ms, timeout=timeout_ms / 1000 + 60)

    def wait_closed(self, window, timeout=30):
        """Waits until this very window is gone, even when another one with
        the same title follows it at once."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            shown = self.find_window(window.title)
            if shown is None or shown.data.get("hwnd") != window.data.get("hwnd"):
                return
            time.sleep(0.2)
        self.screenshot("still-shown")
        raise WineError("window %r still shown after %d s" % (window.title, timeout))

    def click(self, title, control_id):
        self.driver("click", title, control_id)

    def set_text(self, title, control_id, text):
        self.driver("settext", title, control_id, text)

    def check(self, title, control_id, on):
        self.driver("check", title, control_id, 1 if on else 0)

    def select(self, title, control_id, index):
        self.driver("select", title, control_id, index)

    def close_window(self, title):
        self.driver("close", title)

    def version_info(self, exe):
        """The version block's strings of a program, read by the system."""
        return json.loads(self.driver("version", to_windows_path(exe)).stdout)

    def screenshot(self, name):
        """The whole virtual screen into build/artifacts/<module>-<name>.png;
        answers the path, or None when it could not be taken."""
        if not self.display or not shutil.which("import"):
            return None
        ARTIFACTS.mkdir(parents=True, exist_ok=True)
        target = ARTIFACTS / ("%s-%s.png" % (self.name, name))
        try:
            subprocess.run(["import", "-display", self.display, "-window", "root", str(target)],
                           timeout=30, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        except subprocess.TimeoutExpired:
            return None
        return target if target.exists() else None


_session = None


def session(name=None):
    """The module's session, opened on first use and closed at exit."""
    global _session
    if _session is None:
        if name is None:
            name = pathlib.Path(sys.argv[0]).stem
        _session = Session(name).open()
        atexit.register(close_session)
    return _session


def close_session():
    global _session
    if _session is not None:
        _session.close()
        _session = None


def _on_signal(signum, frame):
    close_session()
    sys.exit(128 + signum)


signal.signal(signal.SIGTERM, _on_signal)


class WineTestCase(unittest.TestCase):
    """A test case with ``self.wine`` (the module's Session) and
    ``self.scratch()`` (a fresh folder, removed after the test)."""

    wine = None

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.wine = session(cls.__module__)

    def setUp(self):
        super().setUp()
        self.addCleanup(self.wine.end_programs)

    def scratch(self):
        folder = pathlib.Path(tempfile.mkdtemp(prefix="quindo-wine-"))
        self.addCleanup(shutil.rmtree, folder, ignore_errors=True)
        return folder
