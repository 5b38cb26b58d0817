"""The settings dialog of quindo.exe under Wine: loading, OK and Cancel, the folder browsers; the help file
quindo.chm built beside the program with its pages, which the dialog's Help button and link open."""
import os
import pathlib
import shutil
import subprocess
import time
import unittest

import winehelper

TITLE = "Quindo"

LEVELS = ["圧縮率優先", "通常圧縮", "処理速度優先"]
PAGES = ["/index.html", "/settings.html", "/messages.html", "/quindo.hhc"]
HELP_TITLE = "Quindo ヘルプ"


def help_file():
    return pathlib.Path(os.environ.get("QUINDO_WIN64_DIR") or winehelper.BUILD_DIR / "win64") / "quindo.chm"


class HelpFileTest(unittest.TestCase):
    def test_the_win64_build_makes_quindo_chm_with_every_page(self):
        if not help_file().is_file():
            winehelper.unavailable("%s is missing: build the win64 preset first" % help_file())
        if not shutil.which("chmls"):
            winehelper.unavailable("chmls is not installed (fp-utils)")
        listing = subprocess.run(["chmls", "list", str(help_file())], capture_output=True, text=True,
                                 errors="replace", check=True).stdout
        names = {line.split()[-1] for line in listing.splitlines() if line.strip().startswith(("0 ", "1 "))}
        for page in PAGES:
            self.assertIn(page, names, listing)
        # Each page the contents name is in the file, and each page links only to pages that are.
        source = winehelper.SOURCE_DIR / "resources" / "help"
        for page in source.glob("*.html"):
            self.assertIn("/" + page.name, names)
            for link in page.read_text(encoding="utf-8").split('href="')[1:]:
                target = link.split('"')[0].split("#")[0]
                if target and "://" not in target:
                    self.assertIn("/" + target, names, "%s links to %s" % (page.name, target))


class HelpUnderWineTest(winehelper.WineTestCase):
    def program(self):  # a private copy with the help file beside it
        folder = self.scratch()
        exe = self.wine.private_copy(folder / "program")
        if not help_file().is_file():
            winehelper.unavailable("%s is missing: build the win64 preset first" % help_file())
        shutil.copy2(help_file(), exe.parent / "quindo.chm")
        return exe

    def viewer_shown(self, timeout=30):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if any(w["title"] == HELP_TITLE for w in self.wine.windows()):
                return True
            time.sleep(0.5)
        return False

    def test_help_button_and_link_open_the_help_file(self):
        exe = self.program()
        self.wine.start(exe)
        self.wine.window(TITLE)
        self.wine.click(TITLE, 1032)
        shown = self.viewer_shown()
        self.wine.screenshot("help-viewer")
        self.assertTrue(shown, self.wine.shown())
        self.wine.driver("close", HELP_TITLE)
        self.wine.wait_gone(HELP_TITLE)
        # Until the project has a public site, the link opens the same file.
        link = self.wine.window(TITLE).control(1030)
        self.assertEqual(link["text"], "最新バージョンの確認")
        if not shutil.which("xdotool"):
            winehelper.unavailable("xdotool is not installed")
        left, top, right, bottom = link["rect"]
        subprocess.run(["xdotool", "mousemove", str((left + right) // 2), str((top + bottom) // 2), "click", "1"],
                       env=self.wine.env(), check=True, timeout=30)
        self.assertTrue(self.viewer_shown(), self.wine.shown())




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

    def test_the_defaults_shown_and_ok_writes_every_setting(self):
        # The layout is the resource script's; the screenshot is there for a look at it.
        proc, dialog = self.open_dialog({"ARC": {"OUTPUT_PATH": "C:\\work"}})
        self.wine.screenshot("dialog")
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
