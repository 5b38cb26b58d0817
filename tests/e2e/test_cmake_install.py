"""`cmake --install` of the Linux program into an empty prefix, and the
installed program's catalogues."""
import os
import shutil
import subprocess
import tempfile
import unittest

from quindo_e2e import QUINDO

BUILD = os.path.dirname(QUINDO)


@unittest.skipUnless(shutil.which("cmake"), "cmake is not installed")
class CmakeInstallTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.root = tempfile.mkdtemp(prefix="quindo-install-")
        cls.prefix = os.path.join(cls.root, "prefix")
        os.makedirs(cls.prefix)
        cls.result = subprocess.run(["cmake", "--install", BUILD, "--prefix", cls.prefix],
                                    capture_output=True, text=True, timeout=300)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.root, ignore_errors=True)

    def env(self, **extra):
        home = os.path.join(self.root, "home")
        os.makedirs(home, exist_ok=True)
        env = {"PATH": "/usr/bin:/bin", "HOME": home, "XDG_CONFIG_HOME": os.path.join(home, ".config"),
               "XDG_DATA_HOME": os.path.join(home, "data"), "XDG_DATA_DIRS": os.path.join(self.root, "nowhere"),
               "LANG": "C.UTF-8"}
        env.update(extra)
        return env

    def test_the_files_land_where_the_fhs_and_xdg_expect_them(self):
        self.assertEqual(self.result.returncode, 0, self.result.stdout + self.result.stderr)
        installed = sorted(os.path.relpath(os.path.join(base, name), self.prefix)
                           for base, _, files in os.walk(self.prefix) for name in files)
        self.assertEqual(installed, [
            "bin/quindo",
            "share/applications/quindo.desktop",
            "share/icons/hicolor/scalable/apps/quindo.svg",
            "share/locale/en/LC_MESSAGES/quindo.mo",
            "share/locale/ja/LC_MESSAGES/quindo.mo",
            "share/man/man1/quindo.1",
        ])
        self.assertTrue(os.access(os.path.join(self.prefix, "bin", "quindo"), os.X_OK))
        if shutil.which("desktop-file-validate"):
            entry = os.path.join(self.prefix, "share", "applications", "quindo.desktop")
            r = subprocess.run(["desktop-file-validate", entry], capture_output=True, text=True)
            self.assertEqual((r.returncode, r.stdout), (0, ""))

    def test_the_installed_program_finds_its_catalogues(self):
        program = os.path.join(self.prefix, "bin", "quindo")
        r = subprocess.run([program, "--help"], capture_output=True, text=True, env=self.env(LANG="ja_JP.UTF-8"))
        self.assertEqual(r.returncode, 0)
        self.assertTrue(r.stdout.startswith("使い方: quindo"), r.stdout)


if __name__ == "__main__":
    unittest.main()
