"""The Linux program compressing: archives that the peer tools accept and
extract to the same tree (Ctrl-C: test_command_line; items left out:
compression_job_test)."""
import os
import shutil
import subprocess
import unittest
import zipfile

from quindo_e2e import QuindoTestCase

# name -> (bytes, modification time)
TREE = {
    "資料/メモ.txt": ("会議のメモ\n".encode() * 300, 1262304000),          # 2010-01-01 00:00:00 UTC
    "資料/写真/海.jpg": (bytes(range(256)) * 64, 1300000001),
    "資料/写真/夏/花火.bin": (os.urandom(70000), 1400000002),
    "資料/data.ZIP": (b"PK\x05\x06" + b"\0" * 18, 1500000003),
    "資料/README": (b"plain ascii " * 50, 1600000004),
    "資料/空.txt": (b"", 1650000005),
}
EMPTY_FOLDER = "資料/空のフォルダ"


class CompressTest(QuindoTestCase):
    def setUp(self):
        super().setUp()
        self.out, self.tmp = self.path("out"), self.path("tmp")
        os.makedirs(self.out)
        os.makedirs(self.tmp)
        self.write_settings(f"[ARC]\nOUTPUT=2\nOUTPUT_PATH={self.out}\n")

    def env(self):
        return dict(super().env(), TMPDIR=self.tmp, TZ="Asia/Tokyo")

    def assert_same_tree(self, root):
        found = {os.path.relpath(os.path.join(base, n), root) + ("/" if n in dirs else ""): os.path.join(base, n)
                 for base, dirs, files in os.walk(root)
                 for n in files + [d for d in dirs if not os.listdir(os.path.join(base, d))]}
        self.assertEqual(set(found), set(TREE) | {EMPTY_FOLDER + "/"})
        for name, (data, mtime) in TREE.items():
            with open(found[name], "rb") as f:
                self.assertEqual(f.read(), data, name)
            # DOS times count in steps of two seconds; the extended timestamp is exact.
            self.assertLessEqual(abs(os.stat(found[name]).st_mtime - mtime), 2, name)

    def test_tree_with_japanese_names_is_read_alike_by_every_peer(self):
        if not all(map(shutil.which, ("unzip", "7z", "bsdtar"))):
            self.skipTest("unzip, 7z or bsdtar is not installed")
        for name, (data, mtime) in TREE.items():
            os.utime(self.write_file(name, data), (mtime, mtime))
        os.makedirs(self.path(EMPTY_FOLDER))
        r = self.run_quindo(self.path("資料"))
        self.assertEqual(r.returncode, 0, r.stderr.decode())
        archive = os.path.join(self.out, "資料.zip")
        self.assertEqual(os.listdir(self.out), ["資料.zip"])
        self.assertEqual(os.listdir(self.tmp), [], "the temporary file is gone")
        for args in (["unzip", "-t", archive], ["7z", "t", archive], ["bsdtar", "-tf", archive]):
            r = subprocess.run(args, capture_output=True)
            self.assertEqual(r.returncode, 0, f"{args[0]}: {r.stdout.decode()} {r.stderr.decode()}")
        with zipfile.ZipFile(archive) as z:
            self.assertIsNone(z.testzip())
            self.assertEqual(z.infolist()[0].filename, "資料/")
            self.assertTrue(all(i.flag_bits & 0x800 for i in z.infolist()), "UTF-8 names are marked")
        for tool, args in (("unzip", ["unzip", "-q", archive, "-d", self.path("by-unzip")]),
                           ("7z", ["7z", "x", "-y", archive, "-o" + self.path("by-7z")])):
            r = subprocess.run(args, capture_output=True, env=self.env())
            self.assertEqual(r.returncode, 0, r.stdout.decode() + r.stderr.decode())
            self.assert_same_tree(self.path("by-" + tool))


if __name__ == "__main__":
    unittest.main()
