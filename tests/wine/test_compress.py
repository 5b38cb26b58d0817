"""The Windows program compressing under Wine, behind its progress dialog: the archive, Cancel and the close box."""
import json
import os
import time
import unittest
import zipfile

import winehelper

TITLE = "圧縮状況"


def temporary_archives():
    # The job's temporary files in the users' temporary folders (only there:
    # the users' folders link to Linux folders outside the prefix).
    users = winehelper.PREFIX / "drive_c" / "users"
    return set(users.glob("*/Temp/arc*.tmp")) | set(users.glob("*/AppData/Local/Temp/arc*.tmp"))


class CompressTest(winehelper.WineTestCase):
    def prepare(self, size):
        # A private program copy whose archives go to out/, and a folder with a
        # large incompressible file so that the dialog stays up.
        folder = self.scratch()
        exe, out = self.program(folder)
        source = folder / "写真"
        (source / "夏").mkdir(parents=True)
        (source / "夏" / "花火.txt").write_bytes("夏の夜\n".encode("utf-8") * 1000)
        (source / "big.bin").write_bytes(os.urandom(size))
        (folder / "note.txt").write_text("a note beside the folder\n")
        return exe, out, source, folder / "note.txt"

    def assert_dialog(self, window):
        self.assertEqual([window["class"]] + [window.control(i)["class"].lower() for i in (1000, 1029, 2)] +
                         [window.control(2)["text"]], ["#32770", "msctls_progress32", "static", "button", "キャンセル"])

    def test_dropped_paths_become_an_archive_and_the_dialog_closes_itself(self):
        exe, out, source, note = self.prepare(48 << 20)
        before = temporary_archives()
        proc = self.wine.start(exe, source, note)
        self.assert_dialog(self.wine.window(TITLE, timeout_ms=60000))
        # Within a few ticks the label shows the file being added and the bar moves.
        seen, deadline = None, time.monotonic() + 60
        while seen is None and time.monotonic() < deadline and (window := self.wine.window(TITLE, 0)):
            if window.control(1029)["text"] and window.control(1000).get("position", 0) > 0:
                seen = window
        self.assertIsNotNone(seen, "the dialog never showed a name and a position")
        self.assertIn(seen.control(1029)["text"], ("big.bin", "花火.txt", "note.txt"))
        self.wine.wait_gone(TITLE, timeout_ms=180000)
        self.assertEqual(self.wine.wait_exit(proc, timeout=60), 0)
        self.assertEqual([p.name for p in out.iterdir()], ["写真.zip"])
        with zipfile.ZipFile(out / "写真.zip") as z:
            self.assertIsNone(z.testzip())
            self.assertFalse(any(i.flag_bits & 0x800 for i in z.infolist()), "names stay in the ANSI code page")
            names = [i.filename.encode("cp437").decode("cp932") for i in z.infolist()]
            self.assertEqual(names[:2], ["写真/", "note.txt"])
            self.assertEqual(sorted(names[2:]), ["写真/big.bin", "写真/夏/", "写真/夏/花火.txt"])
            self.assertEqual(z.read("note.txt"), note.read_bytes())
        self.assertEqual(temporary_archives(), before)

    def test_cancel_button_and_close_box_stop_the_job(self):
        for press in (("click", TITLE, 2), ("close", TITLE)):
            with self.subTest(press[0]):
                exe, out, source, _ = self.prepare(256 << 20)
                before = temporary_archives()
                proc = self.wine.start(exe, source)
                self.assert_dialog(self.wine.window(TITLE, timeout_ms=60000))
                # Wait until the worker is deflating the large file.
                deadline = time.monotonic() + 60
                while temporary_archives() == before and time.monotonic() < deadline:
                    time.sleep(0.1)
                time.sleep(0.5)
                self.wine.driver(*press)
                self.wine.wait_gone(TITLE, timeout_ms=60000)
                # The Windows program ends with 0 whatever the job answered.
                self.assertEqual(self.wine.wait_exit(proc, timeout=60), 0)
                # No archive, no temporary file, and no message box follows a cancel.
                boxes = [w for w in json.loads(self.wine.driver("windows").stdout) if w["class"] == "#32770"]
                self.assertEqual((list(out.iterdir()), temporary_archives(), boxes), ([], before, []))


if __name__ == "__main__":
    unittest.main()
