"""quindo /install and /uninstall on a Linux desktop (xdg-mime), and the
settings form on a terminal, all inside a scratch home."""
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
    values = {}
    section = ""
    if not os.path.exists(path):
        return values
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.strip()
            if line.startswith("["):
                section = line.strip("[]")
            elif "=" in line:
                k, v = line.split("=", 1)
                values[(section, k)] = v
    return values


class ScratchHome(unittest.TestCase):
    def setUp(self):
        if not QUINDO or not os.path.exists(QUINDO):
            self.skipTest("QUINDO_BIN is not built")
        self.root = tempfile.mkdtemp(prefix="quindo-install-")
        self.addCleanup(shutil.rmtree, self.root, True)
        home = os.path.join(self.root, "home")
        self.config = os.path.join(home, ".config")
        self.data = os.path.join(self.root, "data")
        self.apps = os.path.join(self.data, "applications")
        os.makedirs(self.apps)
        os.makedirs(self.config)
        self.env = {
            "PATH": os.environ.get("PATH", "/usr/bin:/bin"),
            "HOME": home,
            "XDG_CONFIG_HOME": self.config,
            "XDG_DATA_HOME": self.data,
            "XDG_DATA_DIRS": os.path.join(self.root, "nowhere"),
            "LANG": "C.UTF-8",
        }
        self.ini = os.path.join(self.config, "quindo", "quindo.ini")

    def run_quindo(self, *args):
        return subprocess.run([QUINDO, *args], env=self.env, stdin=subprocess.DEVNULL,
                              capture_output=True, timeout=60)


@unittest.skipUnless(shutil.which("xdg-mime"), "xdg-mime is not installed")
class InstallTest(ScratchHome):
    def query(self, mime):
        out = subprocess.run(["xdg-mime", "query", "default", mime], env=self.env,
                             capture_output=True, text=True, timeout=30)
        return out.stdout.strip()

    def test_install_takes_both_types_and_uninstall_gives_them_back(self):
        with open(os.path.join(self.apps, "other-archiver.desktop"), "w") as f:
            f.write("[Desktop Entry]\nType=Application\nName=Other\nExec=sh %f\n"
                    "MimeType=application/zip;\n")
        subprocess.run(["xdg-mime", "default", "other-archiver.desktop", "application/zip"],
                       env=self.env, check=True, timeout=30)
        self.assertEqual(self.query("application/zip"), "other-archiver.desktop")

        result = self.run_quindo("/install")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(self.query("application/zip"), "quindo.desktop")
        self.assertEqual(self.query("application/x-lzh-compressed"), "quindo.desktop")
        with open(os.path.join(self.apps, "quindo.desktop")) as f:
            entry = f.read()
        self.assertIn("Exec=%s %%F\n" % QUINDO, entry)
        self.assertIn("MimeType=application/zip;application/x-lzh-compressed;", entry)
        ini = read_ini(self.ini)
        self.assertEqual(ini[("EXT_SETTING", "ZIP_STATUS")], "1")
        self.assertEqual(ini[("EXT_SETTING", "LZH_STATUS")], "1")
        self.assertEqual(ini[("EXT_SETTING", "OLD_ZIP_TYPE")], "other-archiver.desktop")
        self.assertNotIn(("EXT_SETTING", "OLD_LZH_TYPE"), ini)

        # Installing again keeps the first owner remembered.
        self.assertEqual(self.run_quindo("/INSTALL").returncode, 0)
        self.assertEqual(read_ini(self.ini)[("EXT_SETTING", "OLD_ZIP_TYPE")], "other-archiver.desktop")

        result = self.run_quindo("/uninstall")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(self.query("application/zip"), "other-archiver.desktop")
        self.assertEqual(self.query("application/x-lzh-compressed"), "")
        self.assertFalse(os.path.exists(os.path.join(self.apps, "quindo.desktop")))
        ini = read_ini(self.ini)
        self.assertEqual(ini[("EXT_SETTING", "ZIP_STATUS")], "0")
        self.assertEqual(ini[("EXT_SETTING", "LZH_STATUS")], "0")
        with open(os.path.join(self.config, "mimeapps.list")) as f:
            self.assertNotIn("quindo.desktop", f.read())


class SettingsFormTest(ScratchHome):
    def run_form(self, keys):
        """Runs quindo without arguments on a pseudo-terminal, typing one
        line after each prompt; answers the screen text."""
        pid, fd = pty.fork()
        if pid == 0:
            os.execve(QUINDO, [QUINDO], self.env)
        screen = b""
        pending = list(keys)
        deadline = time.time() + 30
        try:
            while time.time() < deadline:
                ready, _, _ = select.select([fd], [], [], 0.2)
                if ready:
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
        with open(self.ini, "w") as f:
            f.write("[MELT]\nOVERWRITE=true\n[OPTION]\nZIP_LEVEL=7\n")
        before = open(self.ini).read()
        target = os.path.join(self.root, "out")
        os.makedirs(target)
        # Toggle security (16), pick a compression folder (3), then cancel.
        screen = self.run_form(["16", "3", target, "c"])
        self.assertIn("圧縮・解凍動作の設定", screen)
        self.assertIn("Version 0.5.0", screen)
        self.assertIn("圧縮ファイルの保存先を指定してください。", screen)
        self.assertEqual(open(self.ini).read(), before)

        # The same, then OK; a cancelled browse in the extraction column
        # returns to the desktop radio.
        self.run_form(["16", "3", target, "11", "", "14", "o"])
        ini = read_ini(self.ini)
        self.assertEqual(ini[("MELT", "OVERWRITE")], "0")
        self.assertEqual(ini[("OPTION", "ZIP_LEVEL")], "-1")
        self.assertEqual(ini[("OPTION", "SECURITY")], "1")
        self.assertEqual(ini[("OPTION", "MAKE_DIRECTRY")], "0")
        self.assertEqual(ini[("OPTION", "NUMBER_FILTER")], "1")
        self.assertEqual(ini[("ARC", "OUTPUT")], "2")
        self.assertEqual(ini[("ARC", "OUTPUT_PATH")], os.path.realpath(target))
        self.assertEqual(ini[("MELT", "OUTPUT")], "0")
        self.assertEqual(ini[("MELT", "OUTPUT_PATH")], "")
        self.assertNotIn(("EXT_SETTING", "ZIP_STATUS"), ini)

    def test_without_a_terminal_nothing_is_written(self):
        result = self.run_quindo()
        self.assertEqual(result.returncode, 0)
        self.assertIn(b"terminal", result.stderr)
        self.assertFalse(os.path.exists(self.ini))


if __name__ == "__main__":
    unittest.main()
