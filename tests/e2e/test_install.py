"""quindo /install and /uninstall on a Linux desktop (xdg-mime), and the
settings form on a terminal, all inside a scratch home."""
import configparser
import os
import pty
import select
import shutil
import subprocess
import tempfile
import time
import unittest

QUINDO = os.environ.get("QUINDO_BIN", "")


def read_ini(path):
    """{(section, key): value} of a settings file; {} when there is none."""
    parser = configparser.ConfigParser(interpolation=None, strict=False)
    parser.optionxform = str
    parser.read(path, encoding="utf-8")
    return {(section, key): value for section in parser.sections() for key, value in parser[section].items()}


class ScratchHome(unittest.TestCase):
    def setUp(self):
        if not QUINDO or not os.path.exists(QUINDO):
            self.skipTest("QUINDO_BIN is not built")
        self.root = tempfile.mkdtemp(prefix="quindo-install-")
        self.addCleanup(shutil.rmtree, self.root, True)
        self.config = os.path.join(self.root, "home", ".config")
        self.apps = os.path.join(self.root, "data", "applications")
        for folder in (self.apps, self.config):
            os.makedirs(folder)
        self.env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": os.path.join(self.root, "home"),
                    "XDG_CONFIG_HOME": self.config, "XDG_DATA_HOME": os.path.join(self.root, "data"),
                    "XDG_DATA_DIRS": os.path.join(self.root, "nowhere"), "LANG": "C.UTF-8"}
        self.ini = os.path.join(self.config, "quindo", "quindo.ini")

    def run_quindo(self, *args):
        return subprocess.run([QUINDO, *args], env=self.env, stdin=subprocess.DEVNULL, capture_output=True, timeout=60)


@unittest.skipUnless(shutil.which("xdg-mime"), "xdg-mime is not installed")
class InstallTest(ScratchHome):
    def query(self, mime):
        return subprocess.run(["xdg-mime", "query", "default", mime], env=self.env, capture_output=True,
                              text=True, timeout=30).stdout.strip()

    def test_install_takes_both_types_and_uninstall_gives_them_back(self):
        with open(os.path.join(self.apps, "other-archiver.desktop"), "w") as f:
            f.write("[Desktop Entry]\nType=Application\nName=Other\nExec=sh %f\nMimeType=application/zip;\n")
        subprocess.run(["xdg-mime", "default", "other-archiver.desktop", "application/zip"], env=self.env,
                       check=True, timeout=30)
        result = self.run_quindo("/install")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual({self.query("application/zip"), self.query("application/x-lzh-compressed")},
                         {"quindo.desktop"})
        with open(os.path.join(self.apps, "quindo.desktop")) as f:
            entry = f.read()
        self.assertIn("Exec=%s %%F\n" % QUINDO, entry)
        self.assertIn("MimeType=application/zip;application/x-lzh-compressed;", entry)
        # Installing again keeps the first owner remembered.
        self.assertEqual(self.run_quindo("/INSTALL").returncode, 0)
        ext = {k: v for (s, k), v in read_ini(self.ini).items() if s == "EXT_SETTING"}
        self.assertEqual(ext, {"ZIP_STATUS": "1", "LZH_STATUS": "1", "OLD_ZIP_TYPE": "other-archiver.desktop"})

        result = self.run_quindo("/uninstall")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual((self.query("application/zip"), self.query("application/x-lzh-compressed")),
                         ("other-archiver.desktop", ""))
        self.assertFalse(os.path.exists(os.path.join(self.apps, "quindo.desktop")))
        ini = read_ini(self.ini)
        self.assertEqual((ini[("EXT_SETTING", "ZIP_STATUS")], ini[("EXT_SETTING", "LZH_STATUS")]), ("0", "0"))
        with open(os.path.join(self.config, "mimeapps.list")) as f:
            self.assertNotIn("quindo.desktop", f.read())


class SettingsFormTest(ScratchHome):
    def run_form(self, keys):
        """Runs quindo without arguments on a pseudo-terminal, typing one
        line after each prompt; answers the screen text."""
        pid, fd = pty.fork()
        if pid == 0:
            os.execve(QUINDO, [QUINDO], self.env)
        screen, pending, deadline = b"", list(keys), time.time() + 30
        try:
            while time.time() < deadline:
                if not select.select([fd], [], [], 0.2)[0]:
                    continue
                try:
                    chunk = os.read(fd, 4096)
                except OSError:
                    break
                if not chunk:
                    break
                screen += chunk
                if pending and screen.rstrip().endswith(b">"):
                    os.write(fd, (pending.pop(0) + "\n").encode())
                    screen += b"\x00"  # so the same prompt is not answered twice
        finally:
            _, status = os.waitpid(pid, 0)
            os.close(fd)
        self.assertEqual(os.waitstatus_to_exitcode(status), 0)
        return screen.decode("utf-8", "replace")

    def test_ok_writes_the_form_and_cancel_writes_nothing(self):
        os.makedirs(os.path.dirname(self.ini))
        before = "[MELT]\nOVERWRITE=true\n[OPTION]\nZIP_LEVEL=7\n"
        with open(self.ini, "w") as f:
            f.write(before)
        target = os.path.join(self.root, "out")
        os.makedirs(target)
        # Toggle security (16), pick a compression folder (3), then cancel.
        screen = self.run_form(["16", "3", target, "c"])
        for text in ("圧縮・解凍動作の設定", "Version 0.5.0", "圧縮ファイルの保存先を指定してください。"):
            self.assertIn(text, screen)
        self.assertEqual(open(self.ini).read(), before)

        # The same, then OK; a cancelled browse in the extraction column
        # returns to the desktop radio.
        self.run_form(["16", "3", target, "11", "", "14", "o"])
        ini = read_ini(self.ini)
        expected = {("MELT", "OVERWRITE"): "0", ("OPTION", "ZIP_LEVEL"): "-1", ("OPTION", "SECURITY"): "1",
                    ("OPTION", "MAKE_DIRECTRY"): "0", ("OPTION", "NUMBER_FILTER"): "1", ("ARC", "OUTPUT"): "2",
                    ("ARC", "OUTPUT_PATH"): os.path.realpath(target), ("MELT", "OUTPUT"): "0",
                    ("MELT", "OUTPUT_PATH"): ""}
        self.assertEqual({k: ini.get(k) for k in expected}, expected)
        self.assertNotIn(("EXT_SETTING", "ZIP_STATUS"), ini)

    def test_without_a_terminal_nothing_is_written(self):
        result = self.run_quindo()
        self.assertEqual(result.returncode, 0)
        self.assertIn(b"terminal", result.stderr)
        self.assertFalse(os.path.exists(self.ini))


if __name__ == "__main__":
    unittest.main()
