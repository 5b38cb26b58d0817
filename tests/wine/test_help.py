"""The help file: quindo.chm is built beside the program with its pages, and
the settings dialog's Help button and link open it under Wine."""
import os
import pathlib
import shutil
import subprocess
import time
import unittest

import winehelper

PAGES = ["/index.html", "/settings.html", "/messages.html", "/quindo.hhc"]
SETTINGS_TITLE = "Quindo"
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
        self.wine.window(SETTINGS_TITLE)
        self.wine.click(SETTINGS_TITLE, 1032)
        shown = self.viewer_shown()
        self.wine.screenshot("help-viewer")
        self.assertTrue(shown, self.wine.shown())
        self.wine.driver("close", HELP_TITLE)
        self.wine.wait_gone(HELP_TITLE)
        # Until the project has a public site, the link opens the same file.
        link = self.wine.window(SETTINGS_TITLE).control(1030)
        self.assertEqual(link["text"], "最新バージョンの確認")
        if not shutil.which("xdotool"):
            winehelper.unavailable("xdotool is not installed")
        left, top, right, bottom = link["rect"]
        subprocess.run(["xdotool", "mousemove", str((left + right) // 2), str((top + bottom) // 2), "click", "1"],
                       env=self.wine.env(), check=True, timeout=30)
        self.assertTrue(self.viewer_shown(), self.wine.shown())


if __name__ == "__main__":
    unittest.main()
