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
    def test_an_output_folder_that_cannot_be_made_shows_the_cannot_write_box_for_each_job(self):
        # The settings file beside the program copy is the one read: with the
        # default settings the output would go to the desktop, which exists.
        # An output path naming a file has no folder below it: each archive of
        # an extraction fails its write test and the loop goes on to the next.
        missing = pathlib.Path("/nonexistent-quindo-output/folder")
        for name, section, inputs in (("missing", "ARC", ["report.txt"]), ("file", "ARC", ["report.txt"]),
                                      ("file", "MELT", ["first.zip", "second.zip"])):
            with self.subTest(name=name, section=section):
                folder = self.scratch()
                blocker = folder / "not-a-folder"
                blocker.write_bytes(b"user data")
                exe = self.wine.private_copy(folder / "program")
                winehelper.write_ini(exe.parent / "quindo.ini", {section: {
                    "OUTPUT": "2", "OPENDIR": "0",
                    "OUTPUT_PATH": winehelper.to_windows_path(blocker if name == "file" else missing)}})
                for input_name in inputs:
                    if input_name.endswith(".zip"):
                        with zipfile.ZipFile(folder / input_name, "w") as z:
                            z.writestr("inside.txt", "member of " + input_name)
                    else:
                        (folder / input_name).write_text("quarterly figures\n")
                before = sorted(folder.rglob("*"))
                proc = self.wine.start(exe, *(folder / n for n in inputs))
                for _ in inputs:
                    box = self.wine.window(CANNOT_WRITE_TITLE)
                    self.wine.screenshot("cannot-write")
                    self.assertEqual(box.window_class, "#32770")
                    self.assertEqual([c["text"] for c in box.by_class("Static") if c["text"]], [CANNOT_WRITE_TEXT])
                    self.assertEqual(list(box.buttons()), ["OK"])  # nothing else to press
                    self.wine.click(CANNOT_WRITE_TITLE, box.buttons()["OK"])
                    self.wine.wait_closed(box)
                # The Windows program ends with 0 even when the job could not write.
                self.assertEqual(self.wine.wait_exit(proc, timeout=60), 0)
                # Nothing written, and the user's file is left as it was.
                self.assertEqual(sorted(folder.rglob("*")), before)
                self.assertEqual(blocker.read_bytes(), b"user data")


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


class ProgramFileTest(winehelper.WineTestCase):
    """What quindo.exe carries: headers and resources read from the file,
    the version block as the system's version API reads it."""

    def test_a_64_bit_gui_program_with_version_icons_and_manifest(self):
        pe = winehelper.PeFile(self.wine.quindo_exe)
        self.assertEqual((pe.machine, pe.optional_magic, pe.subsystem), (0x8664, 0x20B, 2))  # PE32+, GUI
        resources = pe.resources()
        # Group icons: 128 the program, 206 the archives it is associated with.
        for group in (128, 206):
            data = resources[14][group]
            sizes = {data[6 + 14 * i] or 256 for i in range(int.from_bytes(data[4:6], "little"))}
            self.assertTrue({16, 32, 48} <= sizes, sizes)
        manifest = resources[24][1].decode("utf-8")
        for text in ('name="Microsoft.Windows.Common-Controls" version="6.0.0.0"', 'level="asInvoker"', "PerMonitor"):
            self.assertIn(text, manifest)
        info = self.wine.version_info(self.wine.quindo_exe)
        self.assertEqual((info["InternalName"], info["OriginalFilename"]), ("quindo", "quindo.exe"))
        self.assertEqual((info["FileVersion"], info["fileVersion"]), ("0.5.0", [0, 5, 0, 0]))
        self.assertTrue(info["FileDescription"])


if __name__ == "__main__":
    unittest.main()
