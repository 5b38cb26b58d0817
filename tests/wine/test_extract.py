"""The Windows program extracting ZIP and LZH archives under Wine: the password dialog, relative paths and names."""
import os
import shutil
import subprocess
import unicodedata
import unittest
import zipfile
import zlib

import winehelper

PROGRESS_TITLE = "解凍状況"
PASSWORD_TITLE = "パスワード"


def tree(root):
    return {str(p.relative_to(root)): p.read_bytes() for p in root.rglob("*") if p.is_file()}


class ExtractUnderWineTest(winehelper.WineTestCase):
    def program(self, folder):  # a private program copy that extracts into folder/out and opens nothing
        exe, out = self.wine.private_copy(folder / "program"), folder / "out"
        winehelper.write_ini(exe.parent / "quindo.ini", {
            "MELT": {"OUTPUT": "2", "OUTPUT_PATH": winehelper.to_windows_path(out), "OPENDIR": "0"}})
        return exe, out

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
        subprocess.run(["zip", "-q", "-P", "pw123", str(archive)] + names, cwd=src, check=True)
        subprocess.run(["zip", "-q", str(later), "m0.txt"], cwd=src, check=True)
        # Cancel in the prompt ends the run: nothing of either archive is written.
        proc = self.wine.start(exe, archive, later)
        self.wine.window(PASSWORD_TITLE)
        self.wine.click(PASSWORD_TITLE, 2)
        self.assertEqual(self.wine.wait_exit(proc, timeout=120), 0)
        self.assertEqual((list((out / "locked").glob("*")), (out / "later").exists()), ([], False))

        proc = self.wine.start(exe, archive)
        prompt = self.wine.window(PASSWORD_TITLE)
        self.wine.screenshot("password")
        self.assertIsNotNone(self.wine.find_window(PROGRESS_TITLE))
        self.assertEqual((prompt["owner"], prompt.control(1001)["class"].lower(), prompt.buttons()),
                         (PROGRESS_TITLE, "edit", {"OK": 1, "キャンセル": 2}))
        self.assertIn("PASSWORD", prompt.texts())
        self.wine.driver("settext", PASSWORD_TITLE, 1001, "pw123")
        self.wine.click(PASSWORD_TITLE, 1)
        # One prompt for all five members: the program ends without another.
        self.assertEqual(self.wine.wait_exit(proc, timeout=120), 0)
        self.assertEqual(tree(out / "locked"), tree(src))

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
        self.assertEqual(tree(out), {"notes/Photos _/a.jpg": b"jpeg", "photos/Photos _/a.jpg": b"jpeg"})
        self.assertEqual(sorted(p.name for p in downloads.iterdir()), ["notes.lzh", "photos.zip"])

    def test_a_mac_archive_and_a_unicode_path_field(self):
        if not shutil.which("zip"):
            winehelper.unavailable("zip is not installed")
        folder = self.scratch()
        exe, out = self.program(folder)
        src = folder / "src"
        # zip on Linux stores UTF-8 names unflagged, as a Mac does; が
        # decomposed, 〜 as U+301C, the Mac's metadata beside them.
        ga = unicodedata.normalize("NFD", "が")
        for name in ("世界/" + ga + ".txt", "世界/〜.txt", "世界/._〜.txt", "__MACOSX/世界/._" + ga + ".txt"):
            (src / name).parent.mkdir(parents=True, exist_ok=True)
            (src / name).write_bytes(b"mac")
        subprocess.run(["zip", "-qr", str(folder / "mac.zip"), "世界", "__MACOSX"], cwd=src, check=True,
                       env=dict(os.environ, LC_ALL="C.UTF-8"))
        self.assertEqual(self.wine.run(exe, folder / "mac.zip"), 0)
        # The wide calls hold 〜 (U+301C) as it is: no CP932 look-alike.
        self.assertEqual(sorted(tree(out)), ["世界/〜.txt", "世界/が.txt"])

        field = "表−.txt".encode()
        field = b"\x01" + zlib.crc32(b"x.txt").to_bytes(4, "little") + field
        info = zipfile.ZipInfo("x.txt")
        info.extra = b"\x75\x70" + len(field).to_bytes(2, "little") + field
        with zipfile.ZipFile(folder / "field.zip", "w") as z:
            z.writestr(info, b"field")
        self.assertEqual(self.wine.run(exe, folder / "field.zip"), 0)
        self.assertEqual(tree(out / "field"), {"表−.txt": b"field"})


if __name__ == "__main__":
    unittest.main()
