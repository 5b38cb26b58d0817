"""Names beyond the ANSI code page under Wine (code page 932): what the Windows program compresses, how other tools
list it, and what it extracts from UTF-8 archives of other systems."""
import os
import pathlib
import shutil
import struct
import subprocess
import unicodedata
import zipfile
import zlib

import winehelper

# name: (bytes stored in the archive, flagged as UTF-8)
MIXED = {
    "日本語.txt": ("日本語.txt".encode("cp932"), False),
    "plain.txt": (b"plain.txt", False),
    "café.txt": ("café.txt".encode(), True),
    "한국어.txt": ("한국어.txt".encode(), True),
    "emoji😀.txt": ("emoji😀.txt".encode(), True),
}


def tree(root):
    return {str(p.relative_to(root)): p.read_bytes() for p in root.rglob("*") if p.is_file()}


def raw_names(archive):  # {stored name bytes: flags} of the central directory
    names = {}
    with zipfile.ZipFile(archive) as z:
        for info in z.infolist():
            raw = info.filename.encode() if info.flag_bits & 0x800 else info.filename.encode("cp437")
            names[raw] = info.flag_bits
    return names


def make_zip(path, members):
    """A stored archive of (name bytes, data, flags, extra) members, as another system's tool would write it."""
    local, central = bytearray(), bytearray()
    for name, data, flags, extra in members:
        crc, offset = zlib.crc32(data), len(local)
        fields = struct.pack("<HHHHIIIHH", flags, 0, 0, 0x5B21, crc, len(data), len(data), len(name), len(extra))
        local += struct.pack("<IH", 0x04034B50, 20) + fields + name + extra + data
        central += struct.pack("<IHH", 0x02014B50, 0x031E, 20) + fields + struct.pack("<HHHII", 0, 0, 0, 0o100644 << 16,
                                                                                      offset) + name + extra
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(members), len(members), len(central), len(local), 0)
    pathlib.Path(path).write_bytes(bytes(local + central + end))


def unicode_path(header_name, name):  # the 0x7075 extra field naming `name` for the header's name
    field = b"\x01" + zlib.crc32(header_name).to_bytes(4, "little") + name.encode()
    return b"\x75\x70" + len(field).to_bytes(2, "little") + field


class UnicodeNamesTest(winehelper.WineTestCase):
    def program(self, folder, **sections):  # a private copy whose archives and folders go to folder/out
        exe, out = self.wine.private_copy(folder / "program"), folder / "out"
        out.mkdir()
        winehelper.write_ini(exe.parent / "quindo.ini", {
            section: {"OUTPUT": "2", "OUTPUT_PATH": winehelper.to_windows_path(out), "OPENDIR": "0"}
            for section in ("ARC", "MELT")})
        return exe, out

    def test_names_beyond_cp932_compress_list_and_extract_back(self):
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
        stored = raw_names(archive)
        expected = {"混在/".encode("cp932"): False}
        expected.update({"混在/".encode("cp932") + raw if not utf8 else "混在/".encode() + raw: utf8
                         for raw, utf8 in MIXED.values()})
        self.assertEqual({raw: bool(flags & 0x800) for raw, flags in stored.items()}, expected)

        # Other tools list the right names: zipfile decoding CP932 where the
        # flag is absent; unzip prints each name's bytes as stored; 7-Zip
        # (which reads unflagged names in no code page of ours) the flagged ones.
        want = sorted(["混在/"] + ["混在/" + name for name in MIXED])
        with zipfile.ZipFile(archive) as z:
            listed = sorted(i.filename if i.flag_bits & 0x800 else i.filename.encode("cp437").decode("cp932")
                            for i in z.infolist())
            self.assertIsNone(z.testzip())
        self.assertEqual(listed, want)
        env = dict(os.environ, LC_ALL="C.UTF-8")
        if shutil.which("unzip"):
            result = subprocess.run(["unzip", "-Z1", str(archive)], capture_output=True, env=env)
            self.assertEqual(sorted(result.stdout.splitlines()), sorted(expected), result.stderr)
        if shutil.which("7z"):
            result = subprocess.run(["7z", "l", "-slt", str(archive)], capture_output=True, env=env)
            paths = [line[7:] for line in result.stdout.decode(errors="replace").splitlines()
                     if line.startswith("Path = ")][1:]
            self.assertEqual(len(paths), len(want), paths)
            flagged = sorted("混在/" + name for name, (_, utf8) in MIXED.items() if utf8)
            self.assertEqual(sorted(p for p in paths if p in flagged), flagged)
            self.assertEqual(subprocess.run(["7z", "t", str(archive)], capture_output=True, env=env).returncode, 0)

        # And back: the same names and bytes.
        archive.rename(folder / "back.zip")
        self.assertEqual(self.wine.run(exe, folder / "back.zip"), 0)
        self.assertEqual(tree(out / "混在"), tree(source))

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

    def test_utf8_archives_of_other_systems_extract_composed_without_mac_metadata(self):
        folder = self.scratch()
        exe, out = self.program(folder)
        ga = unicodedata.normalize("NFD", "が")
        cases = {
            # Flagged UTF-8, as 7-Zip and Python write it.
            "flagged": ([("café.txt", 0x800), ("한국어/emoji😀.txt", 0x800), ("日本語.txt", 0x800)],
                        ["café.txt", "한국어/emoji😀.txt", "日本語.txt"]),
            # A Mac's: UTF-8 without the flag, decomposed, 〜 as U+301C, its metadata beside.
            "mac": ([("写真/" + ga + ".txt", 0), ("写真/〜.txt", 0), ("写真/._〜.txt", 0), ("__MACOSX/写真/._x.txt", 0),
                     ("한국어.txt", 0)],
                    ["写真/が.txt", "写真/〜.txt", "한국어.txt"]),
            # Windows takes Ä and ä for one letter: the second member gets a
            # name of its own instead of replacing the first.
            "case": ([("Ärger.txt", 0x800), ("ärger.txt", 0x800), ("ＡＢ.txt", 0x800), ("ａｂ.txt", 0x800)],
                     ["Ärger.txt", "ärger (2).txt", "ＡＢ.txt", "ａｂ (2).txt"]),
        }
        for archive, (members, _) in cases.items():
            make_zip(folder / (archive + ".zip"),
                     [(name.encode(), name.encode() + b"\n", flags, b"") for name, flags in members])
        # The Unicode Path field of 7-Zip and WinZip: the header's name is a
        # stand-in, the field names the file (and only for that header name).
        make_zip(folder / "field.zip", [
            (b"x.txt", b"x.txt\n", 0, unicode_path(b"x.txt", "emoji😀.txt")),
            (b"_.txt", b"_.txt\n", 0, unicode_path(b"_.txt", "한국어" + ga + ".txt")),
            (b"y.txt", b"y.txt\n", 0, unicode_path(b"other", "never.txt")),
        ])
        cases["field"] = (None, ["emoji😀.txt", "한국어が.txt", "y.txt"])
        for archive, (_, names) in cases.items():
            with self.subTest(archive):
                self.assertEqual(self.wine.run(exe, folder / (archive + ".zip")), 0)
                got = tree(out / archive)
                self.assertEqual(sorted(got), sorted(names))
                self.assertTrue(all(unicodedata.is_normalized("NFC", name) for name in got))
        self.assertEqual(tree(out / "field")["emoji😀.txt"], b"x.txt\n")
        self.assertEqual(tree(out / "case")["ärger (2).txt"], "ärger.txt\n".encode())
