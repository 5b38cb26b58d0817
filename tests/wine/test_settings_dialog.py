"""The settings dialog of quindo.exe under Wine: its layout, loading, OK and Cancel, the folder browsers."""
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
    def open_dialog(self, ini):
        exe = self.wine.private_copy(self.scratch() / "program")
        self.ini = exe.parent / "quindo.ini"
        winehelper.write_ini(self.ini, ini)
        proc = self.wine.start(exe)
        return proc, self.wine.window(TITLE)

    def finish(self, proc, button):
        self.wine.click(TITLE, button)
        self.wine.wait_gone(TITLE)
        self.assertEqual(self.wine.wait_exit(proc), 0)

    def assert_checked(self, dialog, on, off):
        self.assertEqual({i: dialog.control(i)["checked"] for i in on + off}, {i: int(i in on) for i in on + off})

    def browsers(self):  # the shown dialogs other than ours
        return [w["title"] for w in self.wine.windows() if w["title"] != TITLE and w["class"] == "#32770"]

    def browse(self, radio, prompt):  # the folder browser a radio opens, with its prompt
        self.wine.click(TITLE, radio)
        for _ in range(100):
            if self.browsers():
                self.assertIn(prompt, self.wine.window(self.browsers()[0]).texts())
                return self.browsers()[0]
            time.sleep(0.1)
        self.fail("no folder browser was shown")

    def test_every_control_in_place_with_the_defaults(self):
        proc, dialog = self.open_dialog({"ARC": {"OUTPUT_PATH": "C:\\work"}})
        self.wine.screenshot("dialog")
        self.assertEqual(dialog["class"], "#32770")
        # Every control, in the tab order of the layout.
        self.assertEqual([c["id"] for c in dialog["controls"]], list(CONTROLS))
        # Dialog units to pixels, from the header band laid out at 0,0,305,32.
        origin = dialog.control(1011)["rect"]
        sx, sy = (origin[2] - origin[0]) / 305.0, (origin[3] - origin[1]) / 32.0
        for control_id, (cls, text, *laid_out) in CONTROLS.items():
            c = dialog.control(control_id)
            left, top, right, bottom = c["rect"]
            with self.subTest(control_id):
                self.assertEqual((c["class"].lower(), c["text"], c["visible"]),
                                 (cls.lower(), c["text"] if text is None else text, control_id != 1028))
                for got, want, scale in zip((left - origin[0], top - origin[1], right - left, bottom - top), laid_out,
                                            (sx, sy, sx, sy)):
                    if want is not None:
                        self.assertAlmostEqual(got, want * scale, delta=2)
        # The separators are two pixels high and ten wider than laid out.
        for control_id in (1018, 1023):
            left, top, right, bottom = dialog.control(control_id)["rect"]
            self.assertEqual(bottom - top, 2)
            self.assertAlmostEqual(right - left, 305 * sx + 10, delta=2)
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
        # Already in chosen-folder mode: clicking it again opens no browser.
        self.wine.click(TITLE, 1035)
        self.assertEqual(self.browsers(), [])
        self.wine.driver("check", TITLE, 1017, 1)
        self.finish(proc, 2)
        self.assertEqual(self.ini.read_bytes(), before)

    def test_chosen_folder_radio_browses_and_a_cancel_goes_back(self):
        proc, dialog = self.open_dialog({"MELT": {"OUTPUT": "1", "OUTPUT_PATH": "C:\\kept"}})
        title = self.browse(1026, "解凍ファイルの保存先を指定してください。")
        self.wine.driver("close", title)
        self.wine.wait_gone(title)
        dialog = self.wine.window(TITLE)
        self.assert_checked(dialog, [1025], [1026])
        self.assertEqual(dialog.control(1027)["text"], "C:\\kept")

        # The compression column asks with its own title; a pick is shown
        # in its field and saved with the chosen-folder mode.
        title = self.browse(1035, "圧縮ファイルの保存先を指定してください。")
        self.wine.click(title, 1)
        self.wine.wait_gone(title)
        dialog = self.wine.window(TITLE)
        picked = dialog.control(1036)["text"]
        self.assertRegex(picked, r"^[A-Za-z]:\\")
        self.assert_checked(dialog, [1035], [])
        self.finish(proc, 1)
        ini = winehelper.read_ini(self.ini)
        self.assertEqual([(ini[s]["OUTPUT"], ini[s]["OUTPUT_PATH"]) for s in ("MELT", "ARC")],
                         [("1", "C:\\kept"), ("2", picked)])


if __name__ == "__main__":
    unittest.main()
