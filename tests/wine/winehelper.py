"""Runs the Windows programs under Wine for the end-to-end tests."""
# One session per test module: its own Xvfb, the shared prefix build/wineprefix
# (made once with wineboot -i), LANG=ja_JP.UTF-8 for code page 932, and
# wine_driver.exe, which finds windows by exact title, reads and presses their
# controls. Without Wine or Xvfb the tests skip, or fail when CI is set. The
# programs come from QUINDO_WIN64_DIR (default build/win64). A session holds
# an exclusive lock on build/wineprefix.lock and stops the wineserver at its
# end, so the next one starts clean on its own display.
import atexit
import ctypes
import fcntl
import json
import os
import pathlib
import select
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
PREFIX_TIMEOUT, LOCK_TIMEOUT, READY_TIMEOUT = 600, 1500, 180
READY_STAMP = ".quindo-ready"


class WineError(AssertionError):
    pass


def unavailable(reason):
    if os.environ.get("CI"):
        raise WineError("Wine tests cannot run in CI: " + reason)
    raise unittest.SkipTest(reason)


def win64_dir():
    return pathlib.Path(os.environ.get("QUINDO_WIN64_DIR") or BUILD_DIR / "win64")


def to_windows_path(path):  # the Linux root is drive Z:
    return "Z:" + os.path.abspath(str(path)).replace("/", "\\")


def write_ini(path, sections, encoding="cp932"):  # {section: {key: value}}, CRLF
    lines = []
    for section, keys in sections.items():
        lines += ["[%s]" % section] + ["%s=%s" % kv for kv in keys.items()]
    pathlib.Path(path).write_bytes(("\r\n".join(lines) + "\r\n").encode(encoding))


def read_ini(path, encoding="cp932"):  # names in upper case
    sections, current = {}, None
    if not pathlib.Path(path).exists():
        return sections
    for line in pathlib.Path(path).read_bytes().decode(encoding, "replace").splitlines():
        line = line.strip()
        if line.startswith("[") and line.endswith("]"):
            current = sections.setdefault(line[1:-1].upper(), {})
        elif "=" in line and current is not None:
            key, value = line.split("=", 1)
            current[key.strip().upper()] = value
    return sections


class Window:
    """A top-level window as the driver read it."""

    def __init__(self, data):
        self.data = data
        self.title = data.get("title", "")
        self.window_class = data.get("class", "")
        self.controls = data.get("controls", [])

    def control(self, control_id):
        for c in self.controls:
            if c["id"] == control_id:
                return c
        raise KeyError("no control %d in %r" % (control_id, self))

    def by_class(self, name):
        return [c for c in self.controls if c["class"].lower() == name.lower()]

    def texts(self):
        return [c["text"] for c in self.controls]

    def buttons(self):
        return {c["text"]: c["id"] for c in self.by_class("Button")}

    def __repr__(self):
        return "Window(%s)" % json.dumps(self.data, ensure_ascii=False)


class PeFile:
    """A program's headers and resources() as {type: {name: bytes}}, read from
    the file apart from the system's loader."""

    def __init__(self, path):
        d = self.data = pathlib.Path(path).read_bytes()
        pe = self._u(0x3C, 4)
        if d[:2] != b"MZ" or d[pe:pe + 4] != b"PE\0\0":
            raise WineError("%s is not a Windows program" % path)
        coff, opt = pe + 4, pe + 24
        self.machine, self.optional_magic, self.subsystem = self._u(coff, 2), self._u(opt, 2), self._u(opt + 68, 2)
        self.resource_rva = self._u(opt + (112 if self.optional_magic == 0x20B else 96) + 16, 4)
        table = opt + self._u(coff + 16, 2)
        # (address, size in memory, file offset, size in the file) per section
        self.sections = [(self._u(e + 12, 4), self._u(e + 8, 4), self._u(e + 20, 4), self._u(e + 16, 4))
                         for e in range(table, table + 40 * self._u(coff + 2, 2), 40)]

    def _u(self, at, size):
        return int.from_bytes(self.data[at:at + size], "little")

    def _offset(self, rva):
        for address, size, offset, raw in self.sections:
            if address <= rva < address + max(size, raw):
                return offset + rva - address
        raise WineError("address 0x%x lies in no section" % rva)

    def resources(self):
        if not self.resource_rva:
            return {}
        base = self._offset(self.resource_rva)

        def entries(at):  # (name or id, target) of one directory
            for e in range(at + 16, at + 16 + 8 * (self._u(at + 12, 2) + self._u(at + 14, 2)), 8):
                name = self._u(e, 4)
                if name & 0x80000000:
                    s = base + (name & 0x7FFFFFFF)
                    name = self.data[s + 2:s + 2 + 2 * self._u(s, 2)].decode("utf-16-le")
                yield name, self._u(e + 4, 4) & 0x7FFFFFFF

        out = {}
        for kind, types in entries(base):
            for name, names in entries(base + types):
                leaf = base + next(entries(base + names))[1]
                start = self._offset(self._u(leaf, 4))
                out.setdefault(kind, {})[name] = self.data[start:start + self._u(leaf + 4, 4)]
        return out


def _die_with_parent():  # the child ends with the test process, even a killed one
    try:
        ctypes.CDLL(None, use_errno=True).prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG
    except (OSError, AttributeError):
        pass


def _lock(path, timeout):
    path.parent.mkdir(parents=True, exist_ok=True)
    f = open(path, "a+")
    deadline = time.monotonic() + timeout
    while True:
        try:
            fcntl.flock(f, fcntl.LOCK_EX | fcntl.LOCK_NB)
            return f
        except BlockingIOError:
            pass
        if time.monotonic() > deadline:
            f.close()
            raise WineError("another Wine session kept %s for %d s" % (path, timeout))
        time.sleep(0.5)


def _reap(proc, timeout=10):
    try:
        proc.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        proc.kill()


def _text(f):
    f.seek(0)
    return f.read().decode("utf-8", "replace")


class Session:
    def __init__(self, name):
        self.name, self.processes, self.xvfb, self.lock, self.display = name, [], None, None, None
        self.bin = win64_dir()
        self.driver_exe, self.quindo_exe = self.bin / "wine_driver.exe", self.bin / "quindo.exe"

    def open(self):
        for tool in ("wine", "wineserver", "wineboot", "Xvfb"):
            if not shutil.which(tool):
                unavailable("%s is not installed" % tool)
        for exe in (self.quindo_exe, self.driver_exe):
            if not exe.is_file():
                unavailable("%s is missing: build the win64 preset first" % exe)
        self.lock = _lock(PREFIX.with_name(PREFIX.name + ".lock"), LOCK_TIMEOUT)
        try:
            self._start_display()
            self._ensure_prefix()
            # A wineserver left from an earlier session may serve a display that is gone.
            self._wineserver("-k")
            self._wait_ready()
        except BaseException:
            self.close()
            raise
        return self

    def end_programs(self):  # no window of one test is left for the next
        for proc in self.processes:
            proc.kill()  # nothing when it has ended
            _reap(proc)
            for f in proc.output_files:
                f.close()
        self.processes = []

    def close(self):
        self.end_programs()
        if self.lock:
            self._wineserver("-k")
            self._wineserver("-w", timeout=30)
        if self.xvfb:
            self.xvfb.terminate()
            _reap(self.xvfb)
            self.xvfb = None
        if self.lock:
            fcntl.flock(self.lock, fcntl.LOCK_UN)
            self.lock.close()
            self.lock = None

    def env(self):
        # No Mono or Gecko installer, no menu entries in the user's desktop.
        return dict(os.environ, WINEPREFIX=str(PREFIX), WINEARCH="win64", WINEDEBUG="-all",
                    WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d", LANG=LOCALE, LC_ALL=LOCALE,
                    DISPLAY=self.display or os.environ.get("DISPLAY", ""))

    def _start_display(self):
        read_end, write_end = os.pipe()
        try:
            self.xvfb = subprocess.Popen(
                ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
                 "-noreset"], pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                preexec_fn=_die_with_parent)
        finally:
            os.close(write_end)
        with os.fdopen(read_end, "rb") as reader:  # Xvfb writes its number and a newline
            number = reader.readline() if select.select([reader], [], [], 30)[0] else b""
        if not number.strip().isdigit():
            raise WineError("Xvfb did not start")
        self.display = ":" + number.strip().decode()

    def _ensure_prefix(self):
        if (PREFIX / READY_STAMP).exists():
            return
        squash = lambda text: text.lower().replace("-", "")
        if shutil.which("locale") and squash(LOCALE) not in squash(
                subprocess.run(["locale", "-a"], capture_output=True, text=True).stdout):
            # Without the locale Wine falls back to code page 1252.
            raise WineError("locale %s is not generated (locale-gen)" % LOCALE)
        last = None
        for _ in range(3):
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

    def _wineserver(self, *args, timeout=60):  # its output and a timeout are ignored
        try:
            subprocess.run(["wineserver", *args], env=self.env(), timeout=timeout, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        except subprocess.TimeoutExpired:
            pass

    def _wait_ready(self):
        # A persistent wineserver, its services and desktop started with no
        # standard handles of ours (a daemon that inherited a test's pipe
        # would hold it long after the program ended); all stay up until close().
        self._wineserver("-p")
        try:
            subprocess.run(["wineboot"], env=self.env(), timeout=READY_TIMEOUT, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        except subprocess.TimeoutExpired:
            pass
        # Ready once the driver can list windows.
        deadline, last = time.monotonic() + READY_TIMEOUT, ""
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

    def start(self, exe, *args, cwd=None):  # pathlib arguments become Windows paths
        argv = ["wine", str(exe)] + [to_windows_path(a) if isinstance(a, pathlib.PurePath) else str(a)
                                     for a in args]
        # Output goes to files, not pipes: the end of a program is its exit,
        # never the end of a pipe that some Wine process may still hold.
        out, err = tempfile.TemporaryFile(), tempfile.TemporaryFile()
        proc = subprocess.Popen(argv, env=self.env(), cwd=str(cwd) if cwd else None, stdin=subprocess.DEVNULL,
                                stdout=out, stderr=err)
        proc.output_files = (out, err)
        self.processes.append(proc)
        return proc

    @staticmethod
    def output(proc):  # what a started program wrote so far: (stdout, stderr)
        return tuple(_text(f) for f in proc.output_files)

    def run(self, exe, *args, timeout=120, cwd=None):  # the exit code
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

    def private_copy(self, folder, name="quindo.exe"):  # its settings file is the test's alone
        folder = pathlib.Path(folder)
        folder.mkdir(parents=True, exist_ok=True)
        shutil.copy2(self.bin / name, folder / name)
        return folder / name

    # --- the driver ---------------------------------------------------------

    def _run_driver(self, args, timeout=60):  # raises subprocess.TimeoutExpired
        argv = ["wine", str(self.driver_exe), *map(str, args)]
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            proc = subprocess.Popen(argv, env=self.env(), stdin=subprocess.DEVNULL, stdout=out, stderr=err)
            try:
                code = proc.wait(timeout=timeout)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait()
                raise
            return subprocess.CompletedProcess(argv, code, _text(out), _text(err))

    def driver(self, *args, timeout=60, check=True):  # with check, a failure fails the test
        command = " ".join(map(str, args))
        try:
            result = self._run_driver(args, timeout=timeout)
        except subprocess.TimeoutExpired:
            self.screenshot("driver-" + str(args[0]))
            raise WineError("wine_driver %s did not end within %d s" % (command, timeout))
        if check and result.returncode != 0:
            self.screenshot("driver-" + str(args[0]))
            raise WineError("wine_driver %s: exit %d: %s" % (command, result.returncode,
                                                               result.stderr.strip() or self._shown()))
        return result

    def _shown(self):
        try:
            return "windows shown: " + self._run_driver(["windows"], timeout=30).stdout.strip()
        except subprocess.TimeoutExpired:
            return ""

    def window(self, title, timeout_ms=30000):  # waits for a shown window of exactly this title
        return Window(json.loads(self.driver("list", title, timeout_ms, timeout=timeout_ms / 1000 + 60).stdout))

    def find_window(self, title, timeout_ms=0):  # None when none is shown in time
        result = self.driver("list", title, timeout_ms, timeout=timeout_ms / 1000 + 60, check=False)
        return Window(json.loads(result.stdout)) if result.returncode == 0 else None

    def windows(self):  # [{title, class}] of every shown top-level window
        return json.loads(self.driver("windows").stdout)

    def wait_gone(self, title, timeout_ms=30000):
        self.driver("gone", title, timeout_ms, timeout=timeout_ms / 1000 + 60)

    def wait_closed(self, window, timeout=30):  # this very window, even if one of its title follows
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

    def reg(self, *args):  # `wine reg ...`: (exit code, output)
        result = subprocess.run(["wine", "reg", *args], env=self.env(), capture_output=True, encoding="utf-8",
                                errors="replace", timeout=120)
        return result.returncode, result.stdout

    def reg_default(self, key):  # a key's default value, None when the key or the value is absent
        code, out = self.reg("query", key, "/ve")
        values = [line.split("REG_SZ", 1)[1].strip() for line in out.splitlines() if "REG_SZ" in line]
        return values[0] if code == 0 and values else None

    def version_info(self, exe):  # the version block as the system reads it
        return json.loads(self.driver("version", to_windows_path(exe)).stdout)

    def screenshot(self, name):  # build/artifacts/<module>-<name>.png, or None
        if not self.display or not shutil.which("import"):
            return None
        ARTIFACTS.mkdir(parents=True, exist_ok=True)
        target = ARTIFACTS / ("%s-%s.png" % (self.name, name))
        try:
            subprocess.run(["import", "-display", self.display, "-window", "root", str(target)], timeout=30,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        except subprocess.TimeoutExpired:
            return None
        return target if target.exists() else None


_session = None


def session(name=None):  # opened on first use, closed at exit
    global _session
    if _session is None:
        _session = Session(name or pathlib.Path(sys.argv[0]).stem).open()
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
    """``self.wine``, the module's Session, and ``self.scratch()``, a fresh folder."""
    wine = None

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.wine = session(cls.__module__)

    def setUp(self):
        super().setUp()
        self.addCleanup(self.wine.end_programs)

    def keep_registry_keys(self, *keys):  # each key is put back as it was when the test ends
        for key in keys:
            before, existed = self.wine.reg_default(key), self.wine.reg("query", key)[0] == 0
            if existed:
                self.addCleanup(self.wine.reg, "add", key, "/ve", "/d", before or "", "/f")
            self.addCleanup(self.wine.reg, "delete", key, "/f")  # runs first

    def scratch(self):
        folder = pathlib.Path(tempfile.mkdtemp(prefix="quindo-wine-"))
        self.addCleanup(shutil.rmtree, folder, ignore_errors=True)
        return folder
