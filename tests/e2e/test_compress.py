"""The Linux program compressing: archives that the peer tools accept and
extract to the same tree, and the items and failures it must tell (Ctrl-C: test_command_line)."""
import os
import shutil
import subprocess
import unittest
import zipfile

from quindo_e2e import QUINDO, QuindoTestCase

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

    def run_as_user(self, *args, private=()):
        """Runs the program as an ordinary user (nobody) when the tests run as
        root, so that the modes of the `private` paths keep it out as they
        keep out users; everything else is opened to it."""
        as_root = os.geteuid() == 0
        if as_root and not shutil.which("setpriv"):
            self.skipTest("setpriv is not installed")
        for base, dirs, files in os.walk(self.root):
            os.chmod(base, 0o777 if base in (self.out, self.tmp) else 0o755)
            for f in files:
                os.chmod(os.path.join(base, f), 0o644)
        for path in private:
            os.chmod(path, 0o700 if os.path.isdir(path) else 0o600)
        prefix = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"] if as_root else []
        return subprocess.run([*prefix, QUINDO, *args], env=self.env(), cwd=self.root, capture_output=True,
                              stdin=subprocess.DEVNULL, timeout=300)

    def test_what_cannot_be_read_is_left_out_named_and_not_success(self):
        self.write_file("proj/ok.txt", "fine")
        self.write_file("proj/locked/inside.txt", "in")
        long_name = "n" * 255  # with "proj/" past what a member name may hold
        self.write_file("proj/" + long_name, "long")
        secret = self.write_file("proj/secret.txt", "secret")
        r = self.run_as_user(self.path("proj"), private=(secret, self.path("proj/locked")))
        err = r.stderr.decode()
        self.assertEqual(r.returncode, 1, err)
        self.assertIn("圧縮の警告: 圧縮ファイルを作成しましたが、次の項目は含まれていません。", err)
        for line in ("proj/secret.txt（読み取る権限がありません）", "proj/locked（フォルダーの内容を読み取れません）",
                     f"proj/{long_name}（名前が長すぎます）"):
            self.assertIn(line, err)
        with zipfile.ZipFile(os.path.join(self.out, "proj.zip")) as z:
            self.assertIsNone(z.testzip())
            self.assertEqual(sorted(z.namelist()), ["proj/", "proj/ok.txt"])
        self.assertEqual(os.listdir(self.tmp), [])


if __name__ == "__main__":
    unittest.main()
