"""Runs the Windows programs under Wine for the end-to-end tests."""
# One session per test module: its own Xvfb, the shared prefix build/wineprefix
# (made once with wineboot -i), LANG=ja_JP.UTF-8 for code page 932, and
# wine_driver.exe, which finds windows by exact title, reads and presses their
# controls. Without Wine or Xvfb the tests skip, or fail when CI is set. The
# programs come from QUINDO_WIN64_DIR (default build/win64). A session holds
# an exclusive lock on build/wineprefix.lock and stops the wineserver at its
# end, so the next one starts clean on its own display.
import atexit
import configparser
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
BIN = pathlib.Path(os.environ.get("QUINDO_WIN64_DIR") or BUILD_DIR / "win64")
LOCALE = "ja_JP.UTF-8"
# Generous: a first start of Wine on a slow machine builds the whole prefix.
PREFIX_TIMEOUT, LOCK_TIMEOUT, READY_TIMEOUT = 600, 1500, 180
QUIET = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


class WineError(AssertionError):
    pass


def unavailable(reason):
    if os.environ.get("CI"):
        raise WineError("Wine tests cannot run in CI: " + reason)
    raise unittest.SkipTest(reason)


def to_windows_path(path):  # the Linux root is drive Z:
    return "Z:" + os.path.abspath(str(path)).replace("/", "\\")


def write_ini(path, sections, encoding="cp932"):  # {section: {key: value}}, with CRLF
    lines = []
    for section, keys in sections.items():
        lines += ["[%s]" % section] + ["%s=%s" % kv for kv in keys.items()]
    pathlib.Path(path).write_bytes(("\r\n".join(lines) + "\r\n").encode(encoding))


def read_ini(path):  # names in upper case
    parser = configparser.ConfigParser(delimiters="=", comment_prefixes=";", interpolation=None, strict=False)
    parser.optionxform = str.upper
    parser.read_string(pathlib.Path(path).read_bytes().decode("cp932", "replace"))
    return {name.upper(): dict(parser[name]) for name in parser.sections()}


def tree(root):  # relative path -> bytes of every file below root
    return {str(p.relative_to(root)): p.read_bytes() for p in pathlib.Path(root).rglob("*") if p.is_file()}


class Window(dict):
    """A top-level window as the driver read it: title, class, hwnd, owner, controls."""

    def control(self, control_id):
        found = [c for c in self["controls"] if c["id"] == control_id]
        if not found:
            raise KeyError("no control %d in %r" % (control_id, self))
        return found[0]

    def texts(self, kind=None):  # of every control, or of the non-empty ones of a class
        return [c["text"] for c in self["controls"] if kind is None or c["class"].lower() == kind and c["text"]]

    def buttons(self):
        return {c["text"]: c["id"] for c in self["controls"] if c["class"].lower() == "button"}


def _die_with_parent():  # Xvfb ends with the test process, even a killed one
    try:
        ctypes.CDLL(None, use_errno=True).prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG
    except (OSError, AttributeError):
        pass


def _end(proc, timeout=10):  # the kill does nothing to a program that has ended
    proc.kill()
    try:
        proc.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        pass
    for f in getattr(proc, "output_files", ()):
        f.close()


class Session:
    def __init__(self, name):
        self.name, self.processes, self.xvfb, self.lock, self.display = name, [], None, None, None

    def open(self):
        for tool in ("wine", "wineserver", "wineboot", "Xvfb"):
            if not shutil.which(tool):
                unavailable("%s is not installed" % tool)
        for exe in ("quindo.exe", "uninstall.exe", "wine_driver.exe", "platform_check.exe"):
            if not (BIN / exe).is_file():
                unavailable("%s is missing: build the win64 preset first" % (BIN / exe))
        PREFIX.parent.mkdir(parents=True, exist_ok=True)
        self.lock, deadline = open(PREFIX.with_name(PREFIX.name + ".lock"), "a+"), time.monotonic() + LOCK_TIMEOUT
        try:
            while True:
                try:
                    fcntl.flock(self.lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
                    break
                except BlockingIOError:
                    if time.monotonic() > deadline:
                        raise WineError("another Wine session kept the prefix for %d s" % LOCK_TIMEOUT)
                    time.sleep(0.5)
            self._start_display()
            self._ensure_prefix()
            # A wineserver left from an earlier session may serve a display
            # that is gone. Then a persistent one, its services and desktop
            # started with no standard handles of ours (a daemon that
            # inherited a test's pipe would hold it long after the program
            # ended); all stay up until close().
            self._quiet("wineserver", "-k")
            self._quiet("wineserver", "-p")
            self._quiet("wineboot", timeout=READY_TIMEOUT)
            deadline = time.monotonic() + READY_TIMEOUT  # ready once the driver can list windows
            while self.driver("windows", timeout=max(10, deadline - time.monotonic()), check=False).returncode:
                if time.monotonic() > deadline:
                    raise WineError("Wine did not become ready in %d s" % READY_TIMEOUT)
                time.sleep(1)
        except BaseException:
            self.close()
            raise
        return self

    def end_programs(self):  # no window of one test is left for the next
        while self.processes:
            _end(self.processes.pop())

    def close(self):  # again does nothing
        self.end_programs()
        if self.lock:  # the wineserver ends before the next session may start
            self._quiet("wineserver", "-k")
            self._quiet("wineserver", "-w", timeout=30)
            self.lock.close()  # which releases the lock
            self.lock = None
        if self.xvfb:
            self.xvfb.terminate()
            _end(self.xvfb)
            self.xvfb = None

    def env(self):
        # No Mono or Gecko installer, no menu entries in the user's desktop.
        return dict(os.environ, WINEPREFIX=str(PREFIX), WINEARCH="win64", WINEDEBUG="-all",
                    WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d", LANG=LOCALE, LC_ALL=LOCALE,
                    DISPLAY=self.display or os.environ.get("DISPLAY", ""))

    def _quiet(self, *argv, timeout=60):  # its output and a timeout are ignored
        try:
            subprocess.run(argv, env=self.env(), timeout=timeout, **QUIET)
        except subprocess.TimeoutExpired:
            pass

    def _start_display(self):
        read_end, write_end = os.pipe()
        try:
            self.xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x1024x24",
                                          "-nolisten", "tcp", "-noreset"], pass_fds=(write_end,),
                                         preexec_fn=_die_with_parent, **QUIET)
        finally:
            os.close(write_end)
        with os.fdopen(read_end, "rb") as reader:  # Xvfb writes its number and a newline
            number = reader.readline().strip() if select.select([reader], [], [], 30)[0] else b""
        if not number.isdigit():
            raise WineError("Xvfb did not start")
        self.display = ":" + number.decode()

    def _ensure_prefix(self):
        # Without the ja_JP locale generated Wine falls back to code page 1252.
        for _ in range(3):  # a first wineboot on a loaded machine now and then fails
            if (PREFIX / ".quindo-ready").exists():
                return
            shutil.rmtree(PREFIX, ignore_errors=True)
            result = subprocess.run(["wineboot", "-i"], env=self.env(), timeout=PREFIX_TIMEOUT,
                                    stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
            self._quiet("wineserver", "-w", timeout=PREFIX_TIMEOUT)
            if result.returncode == 0 and (PREFIX / "system.reg").exists():
                (PREFIX / ".quindo-ready").write_text("created %s\n" % time.ctime())
        if not (PREFIX / ".quindo-ready").exists():
            raise WineError("the Wine prefix could not be created: " + result.stdout.decode(errors="replace")[-2000:])

    # --- programs -----------------------------------------------------------

    def start(self, exe, *args, cwd=None):  # pathlib arguments become Windows paths; cwd is the current folder
        # Output goes to files, not pipes: the end of a program is its exit,
        # never the end of a pipe that some Wine process may still hold.
        out, err = tempfile.TemporaryFile(), tempfile.TemporaryFile()
        args = [to_windows_path(a) if isinstance(a, pathlib.PurePath) else str(a) for a in args]
        proc = subprocess.Popen(["wine", str(exe), *args], env=self.env(), stdin=subprocess.DEVNULL, stdout=out,
                                stderr=err, cwd=cwd)
        proc.output_files = (out, err)
        self.processes.append(proc)
        return proc

    @staticmethod
    def output(proc):  # what a started program wrote so far: (stdout, stderr)
        for f in proc.output_files:
            f.seek(0)
        return tuple(f.read().decode("utf-8", "replace") for f in proc.output_files)

    def wait_exit(self, proc, timeout=60):  # the exit code; a program still running then fails the test
        try:
            return proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.screenshot("timeout")
            raise WineError("%s did not end within %d s" % (proc.args[1], timeout))

    def run(self, exe, *args, timeout=120):  # the exit code
        return self.wait_exit(self.start(exe, *args), timeout)

    def private_copy(self, folder, name="quindo.exe"):  # its settings file is the test's alone
        folder = pathlib.Path(folder)
        folder.mkdir(parents=True, exist_ok=True)
        shutil.copy2(BIN / name, folder / name)
        return folder / name

    # --- the driver ---------------------------------------------------------

    def driver(self, *args, timeout=60, check=True):  # with check, a failure fails the test
        proc = self.start(BIN / "wine_driver.exe", *args)
        try:
            code = proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            code = None
        result = subprocess.CompletedProcess(proc.args, code, *self.output(proc))
        self.processes.remove(proc)
        _end(proc)
        if check and code != 0:
            self.screenshot("driver-" + str(args[0]))
            why = "no answer in %d s" % timeout if code is None else result.stderr.strip()
            raise WineError("wine_driver %s: %s" % (" ".join(map(str, args)), why))
        return result

    def window(self, title, timeout_ms=30000):  # a shown window of exactly this title; with 0, None when none is
        result = self.driver("list", title, timeout_ms, timeout=timeout_ms / 1000 + 60, check=timeout_ms > 0)
        return Window(json.loads(result.stdout)) if result.returncode == 0 else None

    def wait_gone(self, title, timeout_ms=30000):
        self.driver("gone", title, timeout_ms, timeout=timeout_ms / 1000 + 60)

    def reg(self, *args):  # `wine reg ...`: (exit code, output)
        result = subprocess.run(["wine", "reg", *args], env=self.env(), capture_output=True, encoding="utf-8",
                                errors="replace", timeout=120)
        return result.returncode, result.stdout

    def reg_default(self, key):  # a key's default value, None when the key or the value is absent
        code, out = self.reg("query", key, "/ve")
        values = [line.split("REG_SZ", 1)[1].strip() for line in out.splitlines() if "REG_SZ" in line]
        return values[0] if code == 0 and values else None

    def screenshot(self, name):  # build/artifacts/<module>-<name>.png, when ImageMagick is there
        if self.display and shutil.which("import"):
            ARTIFACTS.mkdir(parents=True, exist_ok=True)
            self._quiet("import", "-display", self.display, "-window", "root",
                        str(ARTIFACTS / ("%s-%s.png" % (self.name, name))), timeout=30)


_session = None


def _on_sigterm(signum, frame):
    if _session:
        _session.close()
    sys.exit(128 + signum)


signal.signal(signal.SIGTERM, _on_sigterm)


class WineTestCase(unittest.TestCase):
    """``self.wine``, the module's Session (opened on first use, closed at
    exit or on SIGTERM), ``self.scratch()``, a fresh folder, and
    ``self.program()``, a private copy of quindo.exe."""
    wine = None

    @classmethod
    def setUpClass(cls):
        global _session
        super().setUpClass()
        if _session is None:
            _session = Session(cls.__module__).open()
            atexit.register(_session.close)
        cls.wine = _session

    def setUp(self):
        super().setUp()
        self.addCleanup(self.wine.end_programs)

    def scratch(self):
        folder = pathlib.Path(tempfile.mkdtemp(prefix="quindo-wine-"))
        self.addCleanup(shutil.rmtree, folder, ignore_errors=True)
        return folder

    def program(self, folder):  # quindo.exe in folder/program, which writes to folder/out and opens no folder
        exe, out = self.wine.private_copy(folder / "program"), folder / "out"
        out.mkdir()
        write_ini(exe.parent / "quindo.ini", {section: {"OUTPUT": "2", "OUTPUT_PATH": to_windows_path(out),
                                                        "OPENDIR": "0"} for section in ("ARC", "MELT")})
        return exe, out

    def keep_registry_keys(self, *keys):  # each key is put back as it was when the test ends
        for key in keys:
            before, existed = self.wine.reg_default(key), self.wine.reg("query", key)[0] == 0
            if existed:
                self.addCleanup(self.wine.reg, "add", key, "/ve", "/d", before or "", "/f")
            self.addCleanup(self.wine.reg, "delete", key, "/f")  # runs first
