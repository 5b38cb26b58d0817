"""The Windows platform layer under Wine, through platform_check.exe of the win64 build."""
import re
import winehelper


class PlatformLayerTest(winehelper.WineTestCase):
    def test_files_folders_times_profiles_and_code_page(self):
        work = self.scratch() / "work"
        work.mkdir()
        proc = self.wine.start(self.wine.private_copy(self.scratch(), "platform_check.exe"),
                               winehelper.to_windows_path(work))
        code, (out, err) = self.wine.wait_exit(proc, timeout=120), self.wine.output(proc)
        self.assertRegex(out, "(?m)^ok ", "no checks ran: " + err)
        self.assertEqual(re.findall("(?m)^FAIL .*$", out), [], out + err)
        self.assertEqual(code, 0, out + err)
        # The CP932 name came out as the Unix name Wine gives it: UTF-8 "表.txt".
        self.assertTrue((work / "表.txt").is_file())
