"""The settings dialog of quindo.exe under Wine: loading, OK and Cancel."""
import unittest

import winehelper

TITLE = "Quindo"

LEVELS = ["圧縮率優先", "通常圧縮", "処理速度優先"]


class SettingsDialogTest(winehelper.WineTestCase):
    def open_dialog(self, ini):
        exe = self.wine.private_copy(self.scratch() / "program")
        self.ini = exe.parent / "quindo.ini"
        winehelper.write_ini(self.ini, ini)
        proc = self.wine.start(exe)
        return proc, self.wine.window(TITLE)

    def finish(self, proc, button):
        self.wine.driver("click", TITLE, button)
        self.wine.wait_gone(TITLE)
        self.assertEqual(self.wine.wait_exit(proc), 0)

    def assert_checked(self, dialog, on, off):
        self.assertEqual({i: dialog.control(i)["checked"] for i in on + off}, {i: int(i in on) for i in on + off})

    def test_the_defaults_shown_and_ok_writes_every_setting(self):
        proc, dialog = self.open_dialog({"ARC": {"OUTPUT_PATH": "C:\\work"}})
        self.assertEqual(dialog["class"], "#32770")
        self.assert_checked(dialog, [1009, 1016, 1006, 1008, 1007, 1010, 1024, 1033],
                            [1003, 1004, 1017, 1019, 1025, 1026, 1034, 1035])
        self.assertTrue(dialog.control(1007)["enabled"])
        self.assertEqual((dialog.control(1021)["items"], dialog.control(1021)["selected"]), (LEVELS, 1))
        self.assertEqual((dialog.control(1036)["text"], dialog.control(1027)["text"]), ("C:\\work", ""))

        # Change a few controls, then OK writes every setting.
        for command, control_id, value in (("check", 1019, 1), ("check", 1008, 0), ("select", 1021, 2)):
            self.wine.driver(command, TITLE, control_id, value)
        self.assertFalse(self.wine.window(TITLE).control(1007)["enabled"])
        self.finish(proc, 1)
        self.assertEqual(winehelper.read_ini(self.ini), {
            "OPTION": {"MAKE_DIRECTRY": "0", "NUMBER_FILTER": "1", "SECURITY": "1", "ZIP_LEVEL": "2"},
            "MELT": {"OVERWRITE": "1", "OPENDIR": "1", "OUTPUT": "0", "OUTPUT_PATH": ""},
            "ARC": {"OVERWRITE": "1", "OPENDIR": "0", "OUTPUT": "0", "OUTPUT_PATH": "C:\\work"},
            "ZIP_OPTION": {"USE_UTF8": "1"}})

    def test_stored_values_shown_as_the_rules_say_and_cancel_writes_nothing(self):
        long_path = "C:\\" + "p" * 297
        proc, dialog = self.open_dialog({
            "MELT": {"OVERWRITE": "true", "OPENDIR": "01", "OUTPUT": "5", "OUTPUT_PATH": long_path},
            "ARC": {"OUTPUT": "2"}, "OPTION": {"ZIP_LEVEL": "7", "MAKE_DIRECTRY": "0"}})
        before = self.ini.read_bytes()
        self.assert_checked(dialog, [1024, 1035, 1007], [1009, 1010])
        self.assertEqual(dialog.control(1021)["selected"], -1)
        self.assertEqual(dialog.control(1027)["text"], long_path[:254])
        self.assertFalse(dialog.control(1007)["enabled"])
        self.wine.driver("check", TITLE, 1017, 1)
        self.finish(proc, 2)
        self.assertEqual(self.ini.read_bytes(), before)


if __name__ == "__main__":
    unittest.main()
