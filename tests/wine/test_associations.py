"""quindo.exe /install and /uninstall under Wine, read back with `wine reg query`, and the dialog's type boxes."""
import unittest

import winehelper

KEYS = ("HKCR\\.zip", "HKCR\\.lzh", "HKCR\\QuindoZip", "HKCR\\QuindoLzh")


class AssociationsTest(winehelper.WineTestCase):
    def setUp(self):
        super().setUp()
        self.keep_registry_keys(*KEYS)
        self.reg, self.default_value = self.wine.reg, self.wine.reg_default

    def test_install_remembers_the_owner_and_uninstall_restores_it(self):
        self.reg("delete", "HKCR\\.lzh", "/f")
        self.assertEqual(self.reg("add", "HKCR\\.zip", "/ve", "/d", "X", "/f")[0], 0)
        exe = self.wine.private_copy(self.scratch() / "program files")
        path, ini = winehelper.to_windows_path(exe), exe.parent / "quindo.ini"
        self.assertEqual(self.wine.run(exe, "/install"), 0)
        self.assertEqual(self.wine.windows(), [])
        for ext, prog_id in ((".zip", "QuindoZip"), (".lzh", "QuindoLzh")):
            self.assertEqual([self.default_value("HKCR\\" + key) for key in (
                ext, prog_id + "\\shell\\open\\command", prog_id + "\\DefaultIcon")],
                [prog_id, '"%s" "%%1"' % path, path + ",1"])
        # Installing again keeps X as the owner to give back.
        self.assertEqual(self.wine.run(exe, "/INSTALL"), 0)
        self.assertEqual(winehelper.read_ini(ini)["EXT_SETTING"],
                         {"OLD_ZIP_TYPE": "X", "ZIP_STATUS": "1", "LZH_STATUS": "1"})

        self.assertEqual(self.wine.run(exe, "/uninstall"), 0)
        self.assertEqual((self.default_value("HKCR\\.zip"), self.default_value("HKCR\\.lzh")), ("X", ""))
        self.assertEqual([key for key in KEYS[2:] if self.reg("query", key)[0] == 0], [])  # both deleted
        self.assertEqual(winehelper.read_ini(ini)["EXT_SETTING"],
                         {"OLD_ZIP_TYPE": "X", "ZIP_STATUS": "0", "LZH_STATUS": "0"})


if __name__ == "__main__":
    unittest.main()
