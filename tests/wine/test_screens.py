"""Every box the program shows, under Wine with the dialogs' fonts mapped to
the installed Japanese font: the texts as given, and a screenshot of each in
build/artifacts for a look at the layout (the settings, uninstall, password,
failure, cannot-write and compression progress dialogs are taken by their
own tests)."""
import os
import time
import zipfile

import winehelper

OK = "OK"


class ScreensTest(winehelper.WineTestCase):
    def program(self, folder, sections):
        exe = self.wine.private_copy(folder / "program")
        winehelper.write_ini(exe.parent / "quindo.ini", sections)
        return exe

    def extracting(self, folder, **melt):
        out = folder / "out"
        settings = {"OUTPUT": "2", "OUTPUT_PATH": winehelper.to_windows_path(out), "OPENDIR": "0"}
        settings.update(melt)
        return out, {"MELT": settings}

    def box(self, proc, title, name, text):
        shown = self.wine.window(title)
        self.wine.screenshot(name)
        self.assertTrue(any(t.startswith(text) for t in shown.texts("static")), shown.texts("static"))
        self.wine.click(title, shown.buttons()[OK])
        self.assertEqual(self.wine.wait_exit(proc, timeout=60), 0)
        return shown

    def test_security_box(self):
        folder = self.scratch()
        _, sections = self.extracting(folder)
        sections["OPTION"] = {"SECURITY": "1"}
        archive = folder / "gift.zip"
        with zipfile.ZipFile(archive, "w") as z:
            z.writestr("meeting-notes-2026.doc.exe", "MZ")
        proc = self.wine.start(self.program(folder, sections), archive)
        shown = self.wine.window("セキュリティ")
        self.wine.screenshot("security")
        self.assertTrue(any("meeting-notes-2026.doc.exe" in t for t in shown.texts("static")), shown)
        self.wine.click("セキュリティ", shown.buttons()[OK])
        self.assertEqual(self.wine.wait_exit(proc, timeout=60), 0)

    def test_progress_shortens_a_long_name_in_the_middle(self):
        folder = self.scratch()
        out = folder / "out"
        out.mkdir()
        name = "2026年度_第3四半期_営業部門_月次報告書_最終版_確認済み_提出用_控え.bin"
        source = folder / name
        with open(source, "wb") as f:  # incompressible, so that the dialog stays a while
            for _ in range(96):
                f.write(os.urandom(1 << 20))
        proc = self.wine.start(self.program(folder, {
            "ARC": {"OUTPUT": "2", "OUTPUT_PATH": winehelper.to_windows_path(out), "OPENDIR": "0"},
            "OPTION": {"ZIP_LEVEL": "0"}}), source)
        self.wine.window("圧縮状況")
        # The label is set on the view's next ticks; it is read again until
        # it holds the name (once seen as a lone "2" on a busy machine).
        label = ""
        for _ in range(20):
            progress = self.wine.window("圧縮状況")
            label = progress.control(1029)["text"]
            if "…" in label:
                break
            time.sleep(0.25)
        self.wine.screenshot("progress-long-name")
        self.wine.click("圧縮状況", 2)
        self.assertEqual(self.wine.wait_exit(proc, timeout=120), 0)
        self.assertIn("…", label)
        self.assertTrue(label.startswith("2026年度") and label.endswith("控え.bin"), label)
