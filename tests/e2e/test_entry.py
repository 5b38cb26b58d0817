"""The Linux program's entry: its messages (options: test_command_line)."""
import os
import unittest

from quindo_e2e import QuindoTestCase

M1 = ("ファイル エラー: ファイルの出力ができませんでした。 "
      "保存先に対する書き込み権限があるかを確認してください。")


class EntryTest(QuindoTestCase):
    def test_unwritable_output_folder_shows_m1_and_fails(self):
        target = self.path("no", "such", "folder")
        self.write_settings(f"[ARC]\nOUTPUT=2\nOUTPUT_PATH={target}\n")
        source = self.write_file("some-file.txt", "hello")
        r = self.run_quindo(source)
        self.assertNotEqual(r.returncode, 0)
        self.assertIn(M1, r.stderr.decode())

    def test_new_archive_has_the_rights_of_a_user_file(self):
        # The archive is written privately in the temporary folder, then
        # moved into place: it must not stay readable by its owner alone.
        out = self.path("out")
        os.makedirs(out)
        self.write_settings(f"[ARC]\nOUTPUT=2\nOUTPUT_PATH={out}\n")
        source = self.write_file("notes.txt", "hello")
        self.addCleanup(os.umask, os.umask(0o022))
        r = self.run_quindo(source)
        self.assertEqual(r.returncode, 0, r.stderr.decode())
        self.assertEqual(os.stat(os.path.join(out, "notes.zip")).st_mode & 0o777, 0o644)


if __name__ == "__main__":
    unittest.main()
