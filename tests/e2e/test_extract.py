"""The Linux program extracting ZIP archives: trees made by zip, Japanese
names, passwords typed on a terminal and cancel (hostile names: see
extraction_job_test)."""
import os
import pathlib
import shutil
import subprocess
import unittest
import zipfile

from quindo_e2e import QUINDO, QuindoTestCase

M2 = "ファイルエラーが検出されました。: 処理失敗"
PROMPT = "パスワード: ".encode("utf-8")


def tree(root):  # relative path -> bytes of every file below root
    return {str(p.relative_to(root)): p.read_bytes() for p in pathlib.Path(root).rglob("*") if p.is_file()}


class ExtractTest(QuindoTestCase):
    def setUp(self):
        super().setUp()
        self.out = self.path("out")
        self.write_settings(f"[MELT]\nOUTPUT=2\nOUTPUT_PATH={self.out}\nOPENDIR=0\n")

    def test_zip_tree_round_trips_with_times(self):
        files = {"README.txt": b"hello\n" * 50, "bin/tool.sh": b"#!/bin/sh\necho hi\n",
                 "data/zeros.bin": bytes(300000), "data/random.bin": os.urandom(200000),
                 "data/empty": b"", "deep/a/b/c/d/leaf.txt": b"leaf"}
        for rel, data in files.items():
            self.write_file(os.path.join("src", "project", rel), data)
        archive = self.path("project.zip")
        subprocess.run(["zip", "-qr", "-6", archive, "project"], cwd=self.path("src"), check=True)
        r = self.run_quindo(archive)
        self.assertEqual(r.returncode, 0, r.stderr.decode())
        # One top folder: no extra folder named after the archive.
        self.assertEqual(tree(os.path.join(self.out, "project")), files)
        src_time = os.stat(self.path("src", "project", "README.txt")).st_mtime
        self.assertLessEqual(abs(src_time - os.stat(os.path.join(self.out, "project", "README.txt")).st_mtime), 2)

    def encrypted_archives(self):
        members = [f"m{i}.txt" for i in range(5)]
        for i, name in enumerate(members):
            self.write_file(os.path.join("secret", name), f"member {i}\n".encode() * (100 + i * 500))
        made = [self.path("zipcrypt.zip")]
        subprocess.run(["zip", "-q", "-P", "pw123", made[0], *members], cwd=self.path("secret"), check=True)
        if shutil.which("7z"):
            made.append(self.path("sevencrypt.zip"))
            subprocess.run(["7z", "a", "-tzip", "-ppw123", "-mem=ZipCrypto", made[1], *members],
                           cwd=self.path("secret"), check=True, capture_output=True)
        return made

    def test_encrypted_archives_take_one_prompt_three_wrong_ones_fail_and_cancel_stops(self):
        archives = self.encrypted_archives()
        for archive in archives:
            code, prompts, output = self.run_on_terminal([archive], PROMPT, ["pw123"])
            self.assertEqual((code, prompts), (0, 1), output)
            name = os.path.splitext(os.path.basename(archive))[0]
            self.assertEqual(tree(os.path.join(self.out, name)), tree(self.path("secret")))
        code, prompts, output = self.run_on_terminal([archives[0]], PROMPT, ["no", "nope", "still no"])
        self.assertNotEqual(code, 0)
        self.assertEqual(prompts, 3)
        self.assertIn(M2, output)
        # A new session has no terminal to ask on: every encrypted member is
        # named as needing a password, no empty folder is left, and the
        # archive after it is extracted.
        later = self.path("later.zip")
        with zipfile.ZipFile(later, "w") as z:
            z.writestr("later.txt", "later")
        shutil.rmtree(self.out)
        r = self.run_quindo(archives[0], later, start_new_session=True)
        self.assertNotEqual(r.returncode, 0)
        for i in range(5):
            self.assertIn(f"m{i}.txt: パスワードが必要です", r.stderr.decode())
        self.assertEqual(sorted(os.listdir(self.out)), ["later"])

    @unittest.skipUnless(shutil.which("7z"), "7z is not installed")
    def test_deflate64_and_winzip_aes_archives_of_7zip(self):
        # Text that repeats beyond 32 KiB, so Deflate64's larger window is used.
        files = {"notes.txt": b"".join(b"line %d of the notes\n" % (i % 5000) for i in range(40000)),
                 "data/random.bin": os.urandom(150000), "data/empty": b""}
        for rel, data in files.items():
            self.write_file(os.path.join("src", rel), data)
        made = []
        for name, options in (("d64.zip", ["-mm=Deflate64"]), ("aes128.zip", ["-mem=AES128", "-ppass word"]),
                              ("aes256.zip", ["-mem=AES256", "-ppass word", "-mm=Deflate64"])):
            made.append(self.path(name))
            subprocess.run(["7z", "a", "-tzip", *options, made[-1], "notes.txt", "data"], cwd=self.path("src"),
                           check=True, capture_output=True)
        for archive in made:
            code, prompts, output = self.run_on_terminal([archive], PROMPT, ["pass word"])
            self.assertEqual(code, 0, output)
            self.assertEqual(prompts, 0 if archive.endswith("d64.zip") else 1, output)
            folder = os.path.splitext(os.path.basename(archive))[0]
            self.assertEqual(tree(os.path.join(self.out, folder)), files)
        # A wrong AES password is asked again, and fails after three tries.
        shutil.rmtree(self.out)
        code, prompts, output = self.run_on_terminal([made[1]], PROMPT, ["a", "b", "c"])
        self.assertEqual((code, prompts), (1, 3), output)
        self.assertIn("パスワードが違います", output)
        self.assertFalse(os.path.exists(os.path.join(self.out, "aes128")))

    @unittest.skipUnless(shutil.which("7z"), "7z is not installed")
    def test_traditional_encryption_streamed_by_7zip(self):
        # From a pipe 7-Zip writes a data descriptor and checks the password
        # by one byte of the encryption header.
        data = b"streamed secret\n" * 4000
        archive = self.path("piped.zip")
        subprocess.run(["7z", "a", "-tzip", "-siletter.txt", "-ppw", "-mem=ZipCrypto", archive], input=data,
                       check=True, capture_output=True)
        code, prompts, output = self.run_on_terminal([archive], PROMPT, ["pw"])
        self.assertEqual((code, prompts), (0, 1), output)
        with open(os.path.join(self.out, "piped", "letter.txt"), "rb") as f:
            self.assertEqual(f.read(), data)

    def test_a_named_pipe_never_makes_it_wait(self):
        pipe = self.path("pipe.zip")
        os.mkfifo(pipe)
        archive = self.path("a.zip")
        with zipfile.ZipFile(archive, "w") as z:
            z.writestr("a.txt", "a")
        self.run_quindo(pipe, archive, timeout=30)  # a hang fails by its time-out

    def test_relative_paths_from_any_folder_for_both_formats(self):
        # "cd Downloads && quindo photos.zip": the archive is the one in the
        # current folder, and an archive of the same name in the output
        # folder is not read instead (where the output goes: settings_test).
        downloads = self.path("Downloads")
        os.makedirs(downloads)
        with zipfile.ZipFile(os.path.join(downloads, "photos.zip"), "w") as z:
            z.writestr("a.jpg", "from downloads")
        self.write_file("src/note.txt", "lzh member")
        subprocess.run(["jlha", "a0o5", os.path.join(downloads, "notes.lzh"), "note.txt"], cwd=self.path("src"),
                       check=True, capture_output=True)
        decoy = os.path.join(self.desktop, "photos.zip")
        with zipfile.ZipFile(decoy, "w") as z:
            z.writestr("a.jpg", "the decoy on the desktop")
        # The output goes to the desktop, where the decoy lies.
        self.write_settings("[MELT]\nOUTPUT=0\nOPENDIR=0\n")
        r = subprocess.run([QUINDO, "photos.zip", "notes.lzh"], env=self.env(), cwd=downloads, capture_output=True,
                           stdin=subprocess.DEVNULL, timeout=120)
        self.assertEqual(r.returncode, 0, r.stderr.decode())
        self.assertEqual(tree(os.path.join(self.desktop, "photos")), {"a.jpg": b"from downloads"})
        self.assertEqual(tree(os.path.join(self.desktop, "notes")), {"note.txt": b"lzh member"})
        self.assertEqual(sorted(os.listdir(downloads)), ["notes.lzh", "photos.zip"])  # the current folder is left alone


if __name__ == "__main__":
    unittest.main()
