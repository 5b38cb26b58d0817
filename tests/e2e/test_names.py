"""Names from other systems on Linux: UTF-8 names without the flag as zip
and a Mac write them (decomposed kana, 〜 as U+301C), and the Mac's
__MACOSX and ._ files, left out unless the settings ask for them (the flag
and the Unicode Path field: member_names_test)."""
import os
import shutil
import subprocess
import unicodedata
import unittest
import zipfile

from quindo_e2e import QuindoTestCase

GA = unicodedata.normalize("NFD", "が")


def tree(root):
    return sorted(os.path.relpath(os.path.join(base, n), root) for base, dirs, files in os.walk(root) for n in files)


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

if __name__ == "__main__":
    unittest.main()
