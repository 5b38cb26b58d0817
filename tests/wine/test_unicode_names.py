"""Names beyond the ANSI code page under Wine (code page 932): what the Windows program compresses and extracts
back, and names that Windows takes for one."""
import os
import zipfile

import winehelper

# name: (bytes stored in the archive, flagged as UTF-8)
MIXED = {
    "日本語.txt": ("日本語.txt".encode("cp932"), False),
    "plain.txt": (b"plain.txt", False),
    "café.txt": ("café.txt".encode(), True),
    "한국어.txt": ("한국어.txt".encode(), True),
    "emoji😀.txt": ("emoji😀.txt".encode(), True),
}


def raw_names(archive):  # {stored name bytes: flagged as UTF-8} of a sound archive's central directory
    with zipfile.ZipFile(archive) as z:
        assert z.testzip() is None
        return {i.filename.encode("utf-8" if i.flag_bits & 0x800 else "cp437"): bool(i.flag_bits & 0x800)
                for i in z.infolist()}


class UnicodeNamesTest(winehelper.WineTestCase):
    def test_names_beyond_cp932_compress_and_extract_back(self):
        folder = self.scratch()
        exe, out = self.program(folder)
        source = folder / "混在"
        source.mkdir()
        for i, name in enumerate(MIXED):
            (source / name).write_bytes(("%s %d\n" % (name, i)).encode() * (i + 1))
        self.assertEqual(self.wine.run(exe, source), 0)
        archive = out / "混在.zip"
        self.assertTrue(archive.is_file(), "no archive: %s" % sorted(os.listdir(out)))

        # The bytes and flags as stored: CP932 where it holds the name, byte
        # for byte as before, else UTF-8 with bit 11.
        expected = {"混在/".encode("cp932"): False}
        expected.update({"混在/".encode("cp932") + raw if not utf8 else "混在/".encode() + raw: utf8
                         for raw, utf8 in MIXED.values()})
        self.assertEqual(raw_names(archive), expected)

        # And back: the same names and bytes.
        archive.rename(folder / "back.zip")
        self.assertEqual(self.wine.run(exe, folder / "back.zip"), 0)
        self.assertEqual(winehelper.tree(out / "混在"), winehelper.tree(source))

    def test_a_dropped_name_beyond_cp932_is_that_file_and_no_look_alike(self):
        folder = self.scratch()
        exe, out = self.program(folder)
        (folder / "café.txt").write_bytes(b"the cafe with an accent\n")
        (folder / "cafe.txt").write_bytes(b"the other one\n")
        self.assertEqual(self.wine.run(exe, folder / "café.txt"), 0)
        self.assertEqual(sorted(os.listdir(out)), ["café.zip"])
        with zipfile.ZipFile(out / "café.zip") as z:
            self.assertEqual([(i.filename, bool(i.flag_bits & 0x800)) for i in z.infolist()], [("café.txt", True)])
            self.assertEqual(z.read("café.txt"), b"the cafe with an accent\n")

    def test_names_that_windows_takes_for_one_both_come_out(self):
        # Ä and ä, Ａ and ａ are one letter to Windows: the second member gets
        # a name of its own instead of replacing the first.
        folder = self.scratch()
        exe, out = self.program(folder)
        names = ["Ärger.txt", "ärger.txt", "ＡＢ.txt", "ａｂ.txt"]
        with zipfile.ZipFile(folder / "case.zip", "w") as z:
            for name in names:
                z.writestr(name, name)
        self.assertEqual(self.wine.run(exe, folder / "case.zip"), 0)
        self.assertEqual(winehelper.tree(out / "case"), {shown: name.encode() for shown, name in zip(
            ["Ärger.txt", "ärger (2).txt", "ＡＢ.txt", "ａｂ (2).txt"], names)})
