"""quindo /install and /uninstall on a Linux desktop (xdg-mime), and the
settings form on a terminal and without one."""
import configparser
import os
import re
import shutil
import subprocess
import unittest

from quindo_e2e import QUINDO, QuindoTestCase


def read_ini(path):  # {(section, key): value}; {} when there is no file
    parser = configparser.ConfigParser(interpolation=None, strict=False)
    parser.optionxform = str
    parser.read(path, encoding="utf-8")
    return {(section, key): value for section in parser.sections() for key, value in parser[section].items()}


@unittest.skipUnless(shutil.which("xdg-mime"), "xdg-mime is not installed")
class InstallTest(QuindoTestCase):
    def setUp(self):
        super().setUp()
        self.apps = self.path("data", "applications")
        os.makedirs(self.apps)

    def env(self):
        # Nothing of the desktop we run in: xdg-mime takes its own way for each.
        return {"PATH": "/usr/bin:/bin", "HOME": self.home, "XDG_CONFIG_HOME": self.config, "LANG": "C.UTF-8",
                "XDG_DATA_HOME": self.path("data"), "XDG_DATA_DIRS": self.path("nowhere")}

    def query(self, mime):
        return subprocess.run(["xdg-mime", "query", "default", mime], env=self.env(), capture_output=True,
                              text=True, timeout=30).stdout.strip()

    def test_install_takes_both_types_and_uninstall_gives_them_back(self):
        with open(os.path.join(self.apps, "other-archiver.desktop"), "w") as f:
            f.write("[Desktop Entry]\nType=Application\nName=Other\nExec=sh %f\nMimeType=application/zip;\n")
        subprocess.run(["xdg-mime", "default", "other-archiver.desktop", "application/zip"], env=self.env(),
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


class SettingsFormTest(QuindoTestCase):
    def test_without_a_terminal_nothing_is_written(self):
        result = self.run_quindo()
        self.assertEqual(result.returncode, 0)
        self.assertIn(b"terminal", result.stderr)
        self.assertFalse(os.path.exists(self.ini))

    def test_on_a_terminal_in_english_and_cancel_writes_nothing(self):
        self.locale = "en_US.UTF-8"  # English whether or not the system has that locale
        code, prompts, output = self.run_on_terminal([], b"Cancel > ", ["c\n"])
        self.assertEqual((code, prompts), (0, 1), output)
        self.assertIn("Quindo - Compression and extraction settings", output)
        self.assertIsNone(re.search("[\u3040-\u30ff\u4e00-\u9fff]", output), output)
        self.assertFalse(os.path.exists(self.ini))


if __name__ == "__main__":
    unittest.main()
