"""The Linux program extracting: passwords typed on a terminal and without
one, Ctrl-C at the prompt, a named pipe, relative paths (wrong passwords:
zip_reader_test; hostile names: path_utils_test)."""
import os
import pathlib
import shutil
import subprocess
import unittest
import zipfile

from quindo_e2e import QUINDO, QuindoTestCase

PROMPT = "パスワード: ".encode("utf-8")


def tree(root):  # relative path -> bytes of every file below root
    return {str(p.relative_to(root)): p.read_bytes() for p in pathlib.Path(root).rglob("*") if p.is_file()}


class ExtractTest(QuindoTestCase):
    def setUp(self):
        super().setUp()
        self.out = self.path("out")
        self.write_settings(f"[MELT]\nOUTPUT=2\nOUTPUT_PATH={self.out}\nOPENDIR=0\n")

    def encrypted_archives(self):
        members = [f"m{i}.txt" for i in range(5)]
        for i, name in enumerate(members):
            self.write_file(os.path.join("secret", name), f"member {i}\n".encode() * (100 + i * 500))
        archive = self.path("zipcrypt.zip")
        subprocess.run(["zip", "-q", "-P", "pw123", archive, *members], cwd=self.path("secret"), check=True)
        return archive

    def test_an_encrypted_archive_takes_one_prompt_and_without_a_terminal_fails(self):
        archive = self.encrypted_archives()
        code, prompts, output = self.run_on_terminal([archive], PROMPT, ["pw123\n"])
        self.assertEqual((code, prompts), (0, 1), output)
        self.assertEqual(tree(os.path.join(self.out, "zipcrypt")), tree(self.path("secret")))
        # A new session has no terminal to ask on: every encrypted member is
        # named as needing a password, no empty folder is left, and the
        # archive after it is extracted.
        later = self.path("later.zip")
        with zipfile.ZipFile(later, "w") as z:
            z.writestr("later.txt", "later")
        shutil.rmtree(self.out)
        r = self.run_quindo(archive, later, start_new_session=True)
        self.assertNotEqual(r.returncode, 0)
        for i in range(5):
            self.assertIn(f"m{i}.txt: パスワードが必要です", r.stderr.decode())
        self.assertEqual(sorted(os.listdir(self.out)), ["later"])

    def test_ctrl_c_at_the_prompt_ends_the_run_at_once(self):
        archive = self.encrypted_archives()
        for quiet in ([], ["-q"]):
            with self.subTest(quiet=quiet):
                shutil.rmtree(self.out, ignore_errors=True)
                code, prompts, output = self.run_on_terminal(quiet + [archive], PROMPT, ["\x03"])  # no Enter
                # The run is cancelled (130), whether the prompt came before
                # the progress view or during it, with or without its line,
                # at once and with nothing written.
                self.assertEqual(code, 130, output)
                self.assertEqual(prompts, 1)
                if "解凍状況" in output:
                    self.assertIn("% キャンセル", output)
                self.assertNotIn("100%", output)
                self.assertEqual(os.listdir(self.out) if os.path.isdir(self.out) else [], [])

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
