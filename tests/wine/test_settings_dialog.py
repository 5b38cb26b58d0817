"""The settings dialog of quindo.exe under Wine: every control of dialog 129
at its place with its text, the form loaded from quindo.ini, OK writing it
and Cancel writing nothing."""
import time
import unittest

import winehelper

TITLE = "Quindo"

# id: (class, text, x, y, width, height) in dialog units, as laid out.
CONTROLS = {
    1031: ("Static", "Version 0.5.0", 225, 8, 67, 10),
    1030: ("Static", "最新バージョンの確認", 156, 20, 136, 10),
    1011: ("Static", "圧縮・解凍動作の設定", 0, 0, 305, 32),
    1018: ("Static", "", 0, 32, None, None),
    1020: ("Static", "圧縮先フォルダ", 15, 40, 126, 12),
    1028: ("Button", "", 16, 51, 130, 50),
    1033: ("Button", "デスクトップ", 19, 58, 67, 10),
    1034: ("Button", "ファイルと同じ場所", 19, 72, 67, 10),
    1035: ("Button", "直接指定", 19, 86, 43, 10),
    1036: ("Edit", None, 62, 84, 72, 14),
    1015: ("Static", "圧縮詳細オプション", 15, 107, 126, 12),
    1016: ("Button", "ファイルの上書きを許可する", 19, 124, 91, 10),
    1017: ("Button", "圧縮先フォルダを開く", 19, 138, 91, 10),
    -1: ("Static", "圧縮レベル", 20, 161, 35, 9),
    1021: ("ComboBox", None, 55, 158, 59, None),
    1014: ("Static", "圧縮ファイルの関連付け", 15, 199, 126, 12),
    1003: ("Button", "zip", 19, 216, 25, 11),
    1004: ("Button", "lzh", 50, 216, 29, 11),
    1022: ("Static", "解凍先フォルダ", 158, 40, 126, 12),
    1024: ("Button", "デスクトップ", 164, 58, 67, 10),
    1025: ("Button", "ファイルと同じ場所", 164, 72, 67, 10),
    1026: ("Button", "直接指定", 164, 86, 43, 10),
    1027: ("Edit", None, 207, 84, 72, 14),
    1013: ("Static", "解凍詳細オプション", 158, 107, 126, 12),
    1009: ("Button", "ファイルの上書きを許可する", 163, 124, 91, 10),
    1010: ("Button", "解凍先フォルダを開く", 163, 138, 91, 10),
    1008: ("Button", "フォルダを自動生成する", 163, 152, 91, 10),
    1007: ("Button", "連番除去フィルタ", 172, 166, 91, 10),
    1019: ("Button", "簡易セキュリティチェック", 163, 180, 91, 10),
    1012: ("Static", "ZIPファイル 文字コード", 158, 199, 126, 12),
    1006: ("Button", "UTF-8 自動判定", 163, 216, 91, 10),
    1: ("Button", "OK", 189, 241, 50, 14),
    2: ("Button", "キャンセル", 243, 241, 50, 14),
    1032: ("Button", "ヘルプ", 7, 241, 50, 14),
    1023: ("Static", "", 0, 234, None, None),
}

LEVELS = ["圧縮率優先", "通常圧縮", "処理速度優先"]


class SettingsDialogTest(winehelper.WineTestCase):
    def open_dialog(self, ini=None):
        folder = self.scratch()
        exe = self.wine.private_copy(folder / "program")
        self.ini = exe.parent / "quindo.ini"
        if ini is not None:
            winehelper.write_ini(self.ini, ini)
        proc = self.wine.start(exe)
        return proc, self.wine.window(TITLE)

    def finish(self, proc, button):
        self.wine.click(TITLE, button)
        self.wine.wait_gone(TITLE)
        self.assertEqual(self.wine.wait_exit(proc), 0)

    def test_every_control_in_place_with_the_defaults(self):
        proc, dialog = self.open_dialog({"ARC": {"OUTPUT_PATH": "C:\\work"}})
        self.wine.screenshot("dialog")
        self.assertEqual(dialog.window_class, "#32770")
        ids = [c["id"] for c in dialog.controls]
        self.assertEqual(sorted(ids), sorted(CONTROLS))
        # Tab order is the order of the layout.
        self.assertEqual(ids, list(CONTROLS))

        # Dialog units to pixels, from the header band laid out at 0,0,305,32.
        origin = dialog.control(1011)["rect"]
        sx = (origin[2] - origin[0]) / 305.0
        sy = (origin[3] - origin[1]) / 32.0
        for control_id, (cls, text, x, y, w, h) in CONTROLS.items():
            c = dialog.control(control_id)
            self.assertEqual(c["class"].lower(), cls.lower(), control_id)
            if text is not None:
                self.assertEqual(c["text"], text, control_id)
            left, top, right, bottom = c["rect"]
            self.assertAlmostEqual(left - origin[0], x * sx, delta=2, msg=control_id)
            self.assertAlmostEqual(top - origin[1], y * sy, delta=2, msg=control_id)
            if w is not None:
                self.assertAlmostEqual(right - left, w * sx, delta=2, msg=control_id)
            if h is not None:
                self.assertAlmostEqual(bottom - top, h * sy, delta=2, msg=control_id)
            self.assertEqual(c["visible"], control_id != 1028, control_id)
        # The separators are two pixels high and ten wider than laid out.
        for control_id in (1018, 1023):
            left, top, right, bottom = dialog.control(control_id)["rect"]
            self.assertEqual(bottom - top, 2)
            self.assertAlmostEqual(right - left, 305 * sx + 10, delta=2)

        checked = {c["id"]: c["checked"] for c in dialog.by_class("Button") if "checked" in c}
        for control_id in (1009, 1016, 1006, 1008, 1007, 1010, 1024, 1033):
            self.assertEqual(checked[control_id], 1, control_id)
        for control_id in (1003, 1004, 1017, 1019, 1025, 1026, 1034, 1035):
            self.assertEqual(checked[control_id], 0, control_id)
        self.assertTrue(dialog.control(1007)["enabled"])
        level = dialog.control(1021)
        self.assertEqual(level["items"], LEVELS)
        self.assertEqual(level["selected"], 1)
        self.assertEqual(dialog.control(1036)["text"], "C:\\work")
        self.assertEqual(dialog.control(1027)["text"], "")

        # Change a few controls, then OK writes every setting.
        self.wine.check(TITLE, 1019, True)
        self.wine.check(TITLE, 1008, False)
        self.wine.select(TITLE, 1021, 2)
        self.assertFalse(self.wine.window(TITLE).control(1007)["enabled"])
        self.finish(proc, 1)
        ini = winehelper.read_ini(self.ini)
        self.assertEqual(ini["OPTION"], {"MAKE_DIRECTRY": "0", "NUMBER_FILTER": "1", "SECURITY": "1",
                                         "ZIP_LEVEL": "2"})
        self.assertEqual(ini["MELT"], {"OVERWRITE": "1", "OPENDIR": "1", "OUTPUT": "0", "OUTPUT_PATH": ""})
        self.assertEqual(ini["ARC"], {"OVERWRITE": "1", "OPENDIR": "0", "OUTPUT": "0",
                                      "OUTPUT_PATH": "C:\\work"})
        self.assertEqual(ini["ZIP_OPTION"], {"USE_UTF8": "1"})
        self.assertNotIn("EXT_SETTING", ini)

    def test_stored_values_shown_as_the_rules_say_and_cancel_writes_nothing(self):
        long_path = "C:\\" + "p" * 297
        proc, dialog = self.open_dialog({
            "MELT": {"OVERWRITE": "true", "OPENDIR": "01", "OUTPUT": "5", "OUTPUT_PATH": long_path},
            "ARC": {"OUTPUT": "2"},
            "OPTION": {"ZIP_LEVEL": "7", "MAKE_DIRECTRY": "0"},
        })
        before = self.ini.read_bytes()
        checked = {c["id"]: c["checked"] for c in dialog.by_class("Button") if "checked" in c}
        self.assertEqual(checked[1009], 0)
        self.assertEqual(checked[1010], 0)
        self.assertEqual(checked[1024], 1)
        self.assertEqual(checked[1035], 1)
        self.assertEqual(dialog.control(1021)["selected"], -1)
        self.assertEqual(dialog.control(1027)["text"], long_path[:254])
        self.assertFalse(dialog.control(1007)["enabled"])
        self.assertEqual(checked[1007], 1)
        # Already in chosen-folder mode: clicking it again opens no browser.
        self.wine.click(TITLE, 1035)
        self.assertEqual([w for w in self.wine.windows() if w.get("title") != TITLE and
                          w.get("class") == "#32770"], [])
        self.wine.check(TITLE, 1017, True)
        self.finish(proc, 2)
        self.assertEqual(self.ini.read_bytes(), before)

    def test_ok_rewrites_other_texts_and_cuts_long_paths(self):
        long_path = "C:\\" + "q" * 297
        proc, dialog = self.open_dialog({
            "MELT": {"OVERWRITE": "true", "OUTPUT": "5", "OUTPUT_PATH": long_path},
            "OPTION": {"ZIP_LEVEL": "7"},
        })
        self.finish(proc, 1)
        ini = winehelper.read_ini(self.ini)
        self.assertEqual(ini["MELT"]["OVERWRITE"], "0")
        self.assertEqual(ini["MELT"]["OUTPUT"], "0")
        self.assertEqual(ini["MELT"]["OUTPUT_PATH"], long_path[:254])
        self.assertEqual(ini["OPTION"]["ZIP_LEVEL"], "-1")


    def browser(self):
        """The folder browser the dialog opened: the shown dialog window
        other than the settings dialog."""
        for _ in range(100):
            others = [w for w in self.wine.windows() if w["title"] != TITLE and w["class"] == "#32770"]
            if others:
                return others[0]["title"]
            time.sleep(0.1)
        self.fail("no folder browser was shown")

    def test_chosen_folder_radio_browses_and_a_cancel_goes_back(self):
        proc, dialog = self.open_dialog({"MELT": {"OUTPUT": "1", "OUTPUT_PATH": "C:\\kept"}})
        self.wine.click(TITLE, 1026)
        title = self.browser()
        texts = self.wine.window(title).texts()
        self.assertIn("解凍ファイルの保存先を指定してください。", texts)
        self.wine.close_window(title)
        self.wine.wait_gone(title)
        dialog = self.wine.window(TITLE)
        self.assertEqual(dialog.control(1025)["checked"], 1)
        self.assertEqual(dialog.control(1026)["checked"], 0)
        self.assertEqual(dialog.control(1027)["text"], "C:\\kept")

        # The compression column asks with its own title; a pick is shown
        # in its field and saved with the chosen-folder mode.
        self.wine.click(TITLE, 1035)
        title = self.browser()
        self.assertIn("圧縮ファイルの保存先を指定してください。", self.wine.window(title).texts())
        self.wine.click(title, 1)
        self.wine.wait_gone(title)
        dialog = self.wine.window(TITLE)
        picked = dialog.control(1036)["text"]
        self.assertRegex(picked, r"^[A-Za-z]:\\")
        self.assertEqual(dialog.control(1035)["checked"], 1)
        self.finish(proc, 1)
        ini = winehelper.read_ini(self.ini)
        self.assertEqual(ini["MELT"]["OUTPUT"], "1")
        self.assertEqual(ini["MELT"]["OUTPUT_PATH"], "C:\\kept")
        self.assertEqual(ini["ARC"]["OUTPUT"], "2")
        self.assertEqual(ini["ARC"]["OUTPUT_PATH"], picked)


if __name__ == "__main__":
    unittest.main()
