"""The Windows program extracting ZIP and LZH archives under Wine: the password dialog and relative paths."""
import shutil
import subprocess
import unittest

import winehelper

PROGRESS_TITLE = "解凍状況"
PASSWORD_TITLE = "パスワード"


class ExtractUnderWineTest(winehelper.WineTestCase):
    def test_cancel_then_the_password_dialog_over_the_progress_dialog(self):
        if not shutil.which("zip"):
            winehelper.unavailable("zip is not installed")
        folder = self.scratch()
        exe, out = self.program(folder)
        src, archive, later = folder / "secret", folder / "locked.zip", folder / "later.zip"
        src.mkdir()
        names = ["m%d.txt" % i for i in range(5)]
        for i, name in enumerate(names):
            (src / name).write_bytes(("member %d\n" % i).encode() * (2000 + 3000 * i))
        # Enciphered on Japanese Windows: the password's CP932 bytes.
        subprocess.run(["zip", "-q", "-P", "パスワード".encode("cp932"), str(archive)] + names, cwd=src, check=True)
        subprocess.run(["zip", "-q", str(later), "m0.txt"], cwd=src, check=True)
        # Cancel in the prompt ends the run: nothing of either archive is written.
        proc = self.wine.start(exe, archive, later)
        self.wine.window(PASSWORD_TITLE)
        self.wine.driver("click", PASSWORD_TITLE, 2)
        self.assertEqual(self.wine.wait_exit(proc, timeout=120), 0)
        self.assertEqual((list((out / "locked").glob("*")), (out / "later").exists()), ([], False))

        proc = self.wine.start(exe, archive)
        prompt = self.wine.window(PASSWORD_TITLE)
        self.assertIsNotNone(self.wine.window(PROGRESS_TITLE, 0))
        self.assertEqual((prompt["owner"], prompt.control(1001)["class"].lower(), prompt.buttons()),
                         (PROGRESS_TITLE, "edit", {"OK": 1, "キャンセル": 2}))
        self.assertIn("PASSWORD", prompt.texts())
        self.wine.driver("settext", PASSWORD_TITLE, 1001, "パスワード")
        self.wine.driver("click", PASSWORD_TITLE, 1)
        # One prompt for all five members: the program ends without another.
        self.assertEqual(self.wine.wait_exit(proc, timeout=120), 0)
        self.assertEqual(winehelper.tree(out / "locked"), winehelper.tree(src))

    def test_relative_paths_and_an_lzh_archive_from_the_current_folder(self):
        if not shutil.which("jlha"):
            winehelper.unavailable("jlha is not installed")
        folder = self.scratch()
        exe, out = self.program(folder)
        downloads, src = folder / "Downloads", folder / "src"
        (src / "Photos ").mkdir(parents=True)
        (src / "Photos " / "a.jpg").write_bytes(b"jpeg")
        downloads.mkdir()
        subprocess.run(["jlha", "a1o5", str(downloads / "notes.lzh"), "Photos /a.jpg"], cwd=src, check=True,
                       capture_output=True)
        subprocess.run(["zip", "-q", str(downloads / "photos.zip"), "Photos /a.jpg"], cwd=src, check=True)
        # Started from the archives' folder with bare names, as a shell would.
        proc = self.wine.start(exe, "notes.lzh", "photos.zip", cwd=downloads)
        self.assertEqual(self.wine.wait_exit(proc, timeout=120), 0)
        # A folder whose name ends in a blank keeps a name Windows can hold,
        # the same for the folder and its file.
        self.assertEqual(winehelper.tree(out), {"notes/Photos _/a.jpg": b"jpeg", "photos/Photos _/a.jpg": b"jpeg"})
        self.assertEqual(sorted(p.name for p in downloads.iterdir()), ["notes.lzh", "photos.zip"])


if __name__ == "__main__":
    unittest.main()
