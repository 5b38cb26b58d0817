"""Names from other systems on Linux: UTF-8 names without the flag as zip
and a Mac write them (decomposed kana, 〜 as U+301C), the flag from 7-Zip,
the Unicode Path field, the Mac's __MACOSX and ._ files, and names that are
not UTF-8 written without the flag."""
import os
import shutil
import subprocess
import unicodedata
import unittest
import zipfile
import zlib

from quindo_e2e import QuindoTestCase

GA = unicodedata.normalize("NFD", "が")


def tree(root):
    return sorted(os.path.relpath(os.path.join(base, n), root) for base, dirs, files in os.walk(root) for n in files)


def unicode_path_field(stored, name):
    data = b"\x01" + zlib.crc32(stored).to_bytes(4, "little") + name.encode()
    return b"\x75\x70" + len(data).to_bytes(2, "little") + data


class NamesTest(QuindoTestCase):
    def setUp(self):
        super().setUp()
        self.out = self.path("out")
        os.makedirs(self.out)
        self.settings = f"[MELT]\nOUTPUT=2\nOUTPUT_PATH={self.out}\nOPENDIR=0\n"
        self.write_settings(self.settings)

    def mac_archive(self):
        # Info-ZIP's zip on Linux stores UTF-8 names as they are, unflagged,
        # as a Mac's archiver does.
        names = ["世界/" + GA + ".txt", "世界/〜.txt", "世界/._〜.txt", "__MACOSX/世界/._" + GA + ".txt"]
        for name in names:
            self.write_file(os.path.join("src", name), name)
        archive = self.path("mac.zip")
        subprocess.run(["zip", "-qr", archive, "世界", "__MACOSX"], cwd=self.path("src"), check=True,
                       env=dict(os.environ, LC_ALL="C.UTF-8"))
        with zipfile.ZipFile(archive) as z:
            self.assertFalse(any(i.flag_bits & 0x800 for i in z.infolist()))
        return archive

    @unittest.skipUnless(shutil.which("zip"), "zip is not installed")
    def test_a_mac_archive_comes_out_composed_without_its_metadata(self):
        archive = self.mac_archive()
        r = self.run_quindo(archive)
        self.assertEqual(r.returncode, 0, r.stderr.decode())
        self.assertEqual(tree(self.out), ["世界/〜.txt", "世界/が.txt"])
        listed = self.run_quindo("-l", archive).stdout.decode()
        self.assertIn("世界/が.txt", listed)
        self.assertNotIn("._", listed)

        # MAC_METADATA=1 keeps everything; the archive then has no one top folder.
        shutil.rmtree(self.out)
        self.write_settings(self.settings + "[OPTION]\nMAC_METADATA=1\n")
        r = self.run_quindo(archive)
        self.assertEqual(r.returncode, 0, r.stderr.decode())
        self.assertEqual(tree(self.out), ["mac/__MACOSX/世界/._が.txt", "mac/世界/._〜.txt", "mac/世界/〜.txt",
                                          "mac/世界/が.txt"])

    def test_the_flag_and_the_unicode_path_field(self):
        archive = self.path("marked.zip")
        with zipfile.ZipFile(archive, "w") as z:
            z.writestr("top/café.txt", b"flagged")  # Python flags names beyond ASCII
            info = zipfile.ZipInfo("top/x.txt")
            info.extra = unicode_path_field(b"top/x.txt", "top/emoji😀 한국어.txt")
            z.writestr(info, b"field")
            info = zipfile.ZipInfo("top/stale.txt")
            info.extra = unicode_path_field(b"top/renamed.txt", "top/wrong.txt")
            z.writestr(info, b"stale")
        r = self.run_quindo(archive)
        self.assertEqual(r.returncode, 0, r.stderr.decode())
        self.assertEqual(tree(self.out), ["top/café.txt", "top/emoji😀 한국어.txt", "top/stale.txt"])

    @unittest.skipUnless(shutil.which("7z"), "7z is not installed")
    def test_what_7z_writes(self):
        self.write_file(os.path.join("src", "d", GA + "〜.txt"), b"7z")
        archive = self.path("seven.zip")
        subprocess.run(["7z", "a", "-bd", archive, "d"], cwd=self.path("src"), check=True, capture_output=True)
        r = self.run_quindo(archive)
        self.assertEqual(r.returncode, 0, r.stderr.decode())
        self.assertEqual(tree(self.out), ["d/が〜.txt"])

    def test_a_name_that_is_not_utf8_is_written_without_the_flag(self):
        src = self.path("latin").encode()
        os.makedirs(src)
        for name in (b"caf\xe9.txt", "日本.txt".encode()):
            with open(os.path.join(src, name), "wb") as f:
                f.write(name)
        self.write_settings(f"[ARC]\nOUTPUT=2\nOUTPUT_PATH={self.out}\n")
        r = self.run_quindo(self.path("latin"))
        self.assertEqual(r.returncode, 0, r.stderr.decode())
        with zipfile.ZipFile(os.path.join(self.out, "latin.zip")) as z:
            flags = {i.filename: i.flag_bits & 0x800 for i in z.infolist() if not i.is_dir()}
        # Unflagged names are read in code page 437 by Python.
        self.assertEqual(flags, {b"latin/caf\xe9.txt".decode("cp437"): 0, "latin/日本.txt": 0x800})
        if shutil.which("unzip"):
            listed = subprocess.run(["unzip", "-l", os.path.join(self.out, "latin.zip")], capture_output=True)
            self.assertEqual(listed.returncode, 0, listed.stderr)


if __name__ == "__main__":
    unittest.main()
