"""The Windows program's entry under Wine: its message box for an output
folder that cannot be written, its exit code, and what its file carries (a
64-bit GUI program with the version block, icons and manifest)."""
import pathlib
import unittest
import zipfile

import winehelper

CANNOT_WRITE_TITLE = "ファイル エラー"
CANNOT_WRITE_TEXT = "ファイルの出力ができませんでした。\n保存先に対する書き込み権限があるかを確認してください。"


class CannotWriteTest(winehelper.WineTestCase):
    def start_with_output_path(self, output_path):
        """A private copy of the program whose quindo.ini sends new archives
        to output_path, started on one ordinary file."""
        folder = self.scratch()
        exe = self.wine.private_copy(folder / "program")
        winehelper.write_ini(exe.parent / "quindo.ini", {"ARC": {"OUTPUT": "2", "OUTPUT_PATH": output_path}})
        source = folder / "report.txt"
        source.write_text("quarterly figures\n")
        before = sorted(p.relative_to(folder) for p in folder.rglob("*"))
        return folder, before, self.wine.start(exe, source)

    def assert_cannot_write_box(self, folder, before, proc):
        box = self.wine.window(CANNOT_WRITE_TITLE)
        self.wine.screenshot("cannot-write")
        self.assertEqual(box.window_class, "#32770")
        statics = [c["text"] for c in box.by_class("Static") if c["text"]]
        self.assertEqual(statics, [CANNOT_WRITE_TEXT])
        # One OK button and nothing else to press.
        self.assertEqual(list(box.buttons()), ["OK"])
        self.wine.click(CANNOT_WRITE_TITLE, box.buttons()["OK"])
        self.wine.wait_gone(CANNOT_WRITE_TITLE)
        # The Windows program ends with 0 even when the job could not write.
        self.assertEqual(self.wine.wait_exit(proc, timeout=60), 0)
        # Nothing else was shown before or after the box, and nothing written.
        self.assertEqual(sorted(p.relative_to(folder) for p in folder.rglob("*")), before)

    def test_missing_output_folder_shows_the_cannot_write_box(self):
        # The settings file beside the program copy is the one read: with the
        # default settings the archive would go to the desktop, which exists.
        folder, before, proc = self.start_with_output_path(
            winehelper.to_windows_path(pathlib.Path("/nonexistent-quindo-output/folder")))
        self.assert_cannot_write_box(folder, before, proc)

    def test_output_path_naming_a_file_shows_the_cannot_write_box(self):
        folder = self.scratch()
        blocker = folder / "not-a-folder"
        blocker.write_bytes(b"user data")
        folder2, before, proc = self.start_with_output_path(winehelper.to_windows_path(blocker))
        self.assert_cannot_write_box(folder2, before, proc)
        # The user's file is left exactly as it was.
        self.assertEqual(blocker.read_bytes(), b"user data")


class ExtractionCannotWriteTest(winehelper.WineTestCase):
    def test_each_archive_shows_the_box_in_turn(self):
        # [MELT] OUTPUT_PATH names a file: no folder can be made below it, so
        # every archive fails its write test and the loop goes on to the next.
        folder = self.scratch()
        exe = self.wine.private_copy(folder / "program")
        blocker = folder / "not-a-folder"
        blocker.write_bytes(b"user data")
        winehelper.write_ini(exe.parent / "quindo.ini",
                             {"MELT": {"OUTPUT": "2", "OUTPUT_PATH": winehelper.to_windows_path(blocker),
                                       "OPENDIR": "0"}})
        archives = []
        for name in ("first.zip", "second.zip"):
            archive = folder / name
            with zipfile.ZipFile(archive, "w") as z:
                z.writestr("inside.txt", "member of " + name)
            archives.append(archive)
        proc = self.wine.start(exe, *archives)
        for turn in range(2):
            box = self.wine.window(CANNOT_WRITE_TITLE)
            self.assertIn(CANNOT_WRITE_TEXT, box.texts())
            self.wine.click(CANNOT_WRITE_TITLE, box.buttons()["OK"])
            self.wine.wait_closed(box)
        self.assertEqual(self.wine.wait_exit(proc, timeout=60), 0)
        self.assertEqual(blocker.read_bytes(), b"user data")
        self.assertEqual(sorted(p.name for p in folder.iterdir()), ["first.zip", "not-a-folder", "program",
                                                                     "second.zip"])


class CommandLineTest(winehelper.WineTestCase):
    def test_japanese_paths_reach_the_job_in_the_ansi_code_page(self):
        # The wide command line is handed on in CP932: the file is found, and
        # the archive beside it carries the name as CP932 bytes.
        folder = self.scratch()
        exe = self.wine.private_copy(folder / "program")
        winehelper.write_ini(exe.parent / "quindo.ini", {"ARC": {"OUTPUT": "1", "OPENDIR": "0"}})
        source = folder / "data" / "報告 書.txt"
        source.parent.mkdir()
        source.write_bytes(b"figures\r\n" * 100)
        self.assertEqual(self.wine.run(exe, source, timeout=120), 0)
        archives = list(source.parent.glob("*.zip"))
        self.assertEqual(len(archives), 1, sorted(p.name for p in source.parent.iterdir()))
        self.assertTrue(archives[0].name.startswith("報告 書"), archives[0].name)
        with zipfile.ZipFile(archives[0]) as z:
            info = z.infolist()[0]
            # Without the UTF-8 flag zipfile decodes as CP437; the raw bytes are CP932.
            raw = info.filename.encode("utf-8") if info.flag_bits & 0x800 else info.filename.encode("cp437")
            self.assertEqual(raw.decode("cp932"), "報告 書.txt")
            self.assertEqual(z.read(info), b"figures\r\n" * 100)


class ProgramFileTest(unittest.TestCase):
    """What quindo.exe carries, read from the file itself; then the same
    version block read by the system's version API under Wine."""

    @classmethod
    def setUpClass(cls):
        cls.exe = winehelper.win64_dir() / "quindo.exe"
        if not cls.exe.is_file():
            winehelper.unavailable("%s is missing: build the win64 preset first" % cls.exe)
        cls.pe = winehelper.PeFile(cls.exe)

    def test_is_a_64_bit_gui_program(self):
        self.assertEqual(self.pe.machine, 0x8664)
        self.assertEqual(self.pe.optional_magic, 0x20B)  # PE32+
        self.assertEqual(self.pe.subsystem, 2)  # Windows GUI

    def test_version_block(self):
        strings = self.pe.version_strings()
        self.assertEqual(strings["InternalName"], "quindo")
        self.assertEqual(strings["FileVersion"], "0.5.0")
        self.assertEqual(strings["OriginalFilename"], "quindo.exe")
        self.assertTrue(strings["FileDescription"])

    def test_icons_and_manifest(self):
        resources = self.pe.resources()
        # Group icons: 128 the program, 206 the archives it is associated with.
        self.assertIn(128, resources.get(14, {}))
        self.assertIn(206, resources.get(14, {}))
        for group in (128, 206):
            data = resources[14][group]
            count = int.from_bytes(data[4:6], "little")
            sizes = {data[6 + 14 * i] or 256 for i in range(count)}
            self.assertTrue({16, 32, 48} <= sizes, sizes)
        manifest = resources[24][1].decode("utf-8")
        self.assertIn('name="Microsoft.Windows.Common-Controls" version="6.0.0.0"', manifest)
        self.assertIn('level="asInvoker"', manifest)
        self.assertIn("PerMonitor", manifest)

    def test_version_read_by_the_system(self):
        wine = winehelper.session(self.__module__)
        info = wine.version_info(self.exe)
        self.assertEqual(info["InternalName"], "quindo")
        self.assertEqual(info["fileVersion"], [0, 5, 0, 0])


if __name__ == "__main__":
    unittest.main()
