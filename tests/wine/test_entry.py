"""The Windows program's entry under Wine: the cannot-write box, the ANSI command line, the program file."""
import struct
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
        for section, inputs in (("ARC", ["report.txt"]), ("MELT", ["first.zip", "second.zip"])):
            with self.subTest(section):
                folder = self.scratch()
                blocker = folder / "not-a-folder"
                blocker.write_bytes(b"user data")
                exe = self.wine.private_copy(folder / "program")
                winehelper.write_ini(exe.parent / "quindo.ini", {section: {
                    "OUTPUT": "2", "OPENDIR": "0", "OUTPUT_PATH": winehelper.to_windows_path(blocker)}})
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
                    # The box names the folder that could not be written.
                    texts = box.texts("static")
                    self.assertEqual((box["class"], len(texts), list(box.buttons())), ("#32770", 1, ["OK"]))
                    self.assertTrue(texts[0].startswith(CANNOT_WRITE_TEXT + "\n\n保存先: " +
                                                        winehelper.to_windows_path(blocker)), texts[0])
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
        self.assertEqual(self.wine.run(exe, source), 0)
        self.assertEqual([p.name for p in source.parent.glob("*.zip")], ["報告 書.zip"])
        with zipfile.ZipFile(source.with_suffix(".zip")) as z:
            info = z.infolist()[0]
            # Without the UTF-8 flag zipfile decodes as CP437; the raw bytes are CP932.
            raw = info.filename.encode("utf-8" if info.flag_bits & 0x800 else "cp437")
            self.assertEqual((raw.decode("cp932"), z.read(info)), ("報告 書.txt", b"figures\r\n" * 100))


class ProgramFileTest(winehelper.WineTestCase):
    def test_a_64_bit_gui_program_with_icons_and_manifest(self):
        exe = self.wine.quindo_exe
        data = exe.read_bytes()
        # PE32+ for x86-64, GUI subsystem.
        self.assertEqual(struct.unpack_from("<4sH18xH66xH", data, int.from_bytes(data[0x3C:0x40], "little")),
                         (b"PE\0\0", 0x8664, 0x20B, 2))
        resource = lambda kind, name: bytes.fromhex(
            self.wine.driver("resource", winehelper.to_windows_path(exe), kind, name).stdout)
        # Group icons: 128 the program, 206 the archives it is associated with.
        for group in (resource(14, 128), resource(14, 206)):
            sizes = {group[6 + 14 * i] or 256 for i in range(int.from_bytes(group[4:6], "little"))}
            self.assertTrue({16, 32, 48} <= sizes, sizes)
        manifest = resource(24, 1).decode("utf-8")
        for text in ('name="Microsoft.Windows.Common-Controls" version="6.0.0.0"', 'level="asInvoker"', "PerMonitor"):
            self.assertIn(text, manifest)


if __name__ == "__main__":
    unittest.main()
