"""quindo.exe /install and /uninstall under Wine: the keys under
HKEY_CLASSES_ROOT, the previous owner remembered and restored, and the
status keys of quindo.ini, read back with `wine reg query`."""
import subprocess
import unittest

import winehelper


class AssociationsTest(winehelper.WineTestCase):
    def reg(self, *args):
        result = subprocess.run(["wine", "reg", *args], env=self.wine.env(), capture_output=True, timeout=120)
        return result.returncode, result.stdout.decode("utf-8", "replace")

    def default_value(self, key):
        """The default value of a key, "" when it is empty, None when the
        key (or its default value) is absent."""
        code, out = self.reg("query", key, "/ve")
        if code != 0:
            return None
        for line in out.splitlines():
            if "REG_SZ" in line:
                return line.split("REG_SZ", 1)[1].strip()
        return None

    def key_exists(self, key):
        return self.reg("query", key)[0] == 0

    def restore_key(self, key):
        """Puts a key back as it was when the test ends."""
        before = self.default_value(key)
        existed = self.key_exists(key)

        def restore():
            self.reg("delete", key, "/f")
            if existed:
                self.reg("add", key, "/ve", "/d", before or "", "/f")
        self.addCleanup(restore)

    def test_install_remembers_the_owner_and_uninstall_restores_it(self):
        for key in ("HKCR\\.zip", "HKCR\\.lzh", "HKCR\\QuindoZip", "HKCR\\QuindoLzh"):
            self.restore_key(key)
        self.reg("delete", "HKCR\\.lzh", "/f")
        self.assertEqual(self.reg("add", "HKCR\\.zip", "/ve", "/d", "X", "/f")[0], 0)

        folder = self.scratch()
        exe = self.wine.private_copy(folder / "program files")
        path = winehelper.to_windows_path(exe)
        ini = exe.parent / "quindo.ini"
        self.assertEqual(self.wine.run(exe, "/install"), 0)
        self.assertEqual(self.wine.windows(), [])

        self.assertEqual(self.default_value("HKCR\\.zip"), "QuindoZip")
        self.assertEqual(self.default_value("HKCR\\.lzh"), "QuindoLzh")
        for prog_id in ("QuindoZip", "QuindoLzh"):
            self.assertEqual(self.default_value("HKCR\\%s\\shell\\open\\command" % prog_id),
                             '"%s" "%%1"' % path)
            self.assertEqual(self.default_value("HKCR\\%s\\DefaultIcon" % prog_id), path + ",1")
        ext = winehelper.read_ini(ini)["EXT_SETTING"]
        self.assertEqual(ext, {"OLD_ZIP_TYPE": "X", "ZIP_STATUS": "1", "LZH_STATUS": "1"})

        # Installing again keeps X as the owner to give back.
        self.assertEqual(self.wine.run(exe, "/INSTALL"), 0)
        self.assertEqual(winehelper.read_ini(ini)["EXT_SETTING"]["OLD_ZIP_TYPE"], "X")

        self.assertEqual(self.wine.run(exe, "/uninstall"), 0)
        self.assertEqual(self.default_value("HKCR\\.zip"), "X")
        self.assertEqual(self.default_value("HKCR\\.lzh"), "")
        self.assertFalse(self.key_exists("HKCR\\QuindoZip"))
        self.assertFalse(self.key_exists("HKCR\\QuindoLzh"))
        ext = winehelper.read_ini(ini)["EXT_SETTING"]
        self.assertEqual(ext["ZIP_STATUS"], "0")
        self.assertEqual(ext["LZH_STATUS"], "0")
        self.assertEqual(ext["OLD_ZIP_TYPE"], "X")

    def test_settings_dialog_ok_registers_a_ticked_type(self):
        for key in ("HKCR\\.zip", "HKCR\\.lzh", "HKCR\\QuindoZip", "HKCR\\QuindoLzh"):
            self.restore_key(key)
        self.reg("add", "HKCR\\.lzh", "/ve", "/d", "LhaFile", "/f")
        folder = self.scratch()
        exe = self.wine.private_copy(folder / "program")
        ini = exe.parent / "quindo.ini"
        proc = self.wine.start(exe)
        self.wine.window("Quindo")
        self.wine.check("Quindo", 1004, True)
        self.wine.click("Quindo", 1)
        self.wine.wait_gone("Quindo")
        self.assertEqual(self.wine.wait_exit(proc), 0)
        self.assertEqual(self.default_value("HKCR\\.lzh"), "QuindoLzh")
        ext = winehelper.read_ini(ini)["EXT_SETTING"]
        self.assertEqual(ext, {"OLD_LZH_TYPE": "LhaFile", "LZH_STATUS": "1"})

        # Unticked again: the type goes back to its owner.
        proc = self.wine.start(exe)
        dialog = self.wine.window("Quindo")
        self.assertEqual(dialog.control(1004)["checked"], 1)
        self.wine.check("Quindo", 1004, False)
        self.wine.click("Quindo", 1)
        self.wine.wait_gone("Quindo")
        self.assertEqual(self.wine.wait_exit(proc), 0)
        self.assertEqual(self.default_value("HKCR\\.lzh"), "LhaFile")
        self.assertEqual(winehelper.read_ini(ini)["EXT_SETTING"]["LZH_STATUS"], "0")


if __name__ == "__main__":
    unittest.main()
