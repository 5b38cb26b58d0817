"""uninstall.exe under Wine over a fake installation that the test lays out, with the file types that
quindo.exe /install took over and /uninstall gives back."""
import unittest

import winehelper

TITLE = "「Quindo」のアンインストール"
ENTRY = "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\quindo"
EXPLANATION = ("全ての関連付け情報を削除します。\n\n「Quindo」を終了させてからアンインストールを実行してください。\n"
               "一部のファイルは、次回のシステム再起動時に削除されます。")


class UninstallTest(winehelper.WineTestCase):
    def reg(self, *args):
        return self.wine.reg(*args)[0]

    def lay_out(self, folder="Quindo Program", encoding="cp932"):
        # An installation in a folder with a blank in its name, as the
        # installer leaves it, plus a file of the user's in that folder.
        root = self.scratch()
        self.install = root / folder
        quindo = self.wine.private_copy(self.install)
        self.uninstaller = self.wine.private_copy(self.install, "uninstall.exe")
        for name in ("quindo.chm", "readme.txt", "mine.txt"):
            (self.install / name).write_text(name)
        self.menu = root / "menu" / "Quindo"
        self.shortcuts = [root / "sendto" / "Quindo.lnk", root / "desktop" / "Quindo.lnk", self.menu / "Quindo.lnk"]
        for link in self.shortcuts:
            link.parent.mkdir(parents=True, exist_ok=True)
            link.write_bytes(b"L\0\0\0")
        win = winehelper.to_windows_path
        winehelper.write_ini(self.install / "setup.inf", {
            "PROGRAM": {"DIRECTRY": win(self.install), "EXE_FILE": "quindo.exe", "HELP_FILE": "quindo.chm",
                        "README_FILE": "readme.txt", "CONFIG_FILE": "quindo.ini", "UNINSTALL_FILE": "uninstall.exe"},
            "SHORTCAT": dict(zip(("SENDTO", "DESKTOP", "STARTMENU_EXE"), map(win, self.shortcuts))),
            "STARTMENU": {"DIRECTRY": win(self.menu)},
        }, encoding)
        self.keep_registry_keys(ENTRY, "HKCR\\QuindoZip", "HKCR\\QuindoLzh", "HKCR\\.zip", "HKCR\\.lzh")
        # The uninstall entry, with a key below it that the removal takes too.
        added = [self.reg("add", key, "/v", "x", "/d", "y", "/f") for key in (ENTRY, ENTRY + "\\Details\\More")]
        self.assertEqual(added, [0, 0])
        # quindo takes the types over from X, so that its /uninstall has something to give back.
        self.assertEqual(self.reg("add", "HKCR\\.zip", "/ve", "/d", "X", "/f"), 0)
        self.assertEqual(self.wine.run(quindo, "/install"), 0)
        command = self.wine.reg_default("HKCR\\QuindoZip\\shell\\open\\command")
        expected = '"%s" "%%1"' % winehelper.to_windows_path(quindo)
        if encoding != "cp932":
            # reg.exe shows values in the console's code page, which cannot
            # show this folder's name: the rest of the command is compared.
            head, tail = expected.split(folder)
            expected, command = (head, tail), (command[:len(head)], command[len(command) - len(tail):])
        self.assertEqual((self.wine.reg_default("HKCR\\.zip"), command), ("QuindoZip", expected))
        return root

    def open_dialog(self):  # the launcher copies itself away, starts the copy and ends at once
        self.assertEqual(self.wine.run(self.uninstaller), 0)
        return self.wine.window(TITLE)

    def answer_box(self, title):
        box = self.wine.window(title)
        self.wine.driver("click", title, box.buttons()["OK"])
        self.wine.wait_gone(title)
        return box.texts("static")

    def test_cancel_removes_nothing_then_the_removal_keeps_only_the_users_file(self):
        root = self.lay_out()
        before = sorted(root.rglob("*"))
        self.open_dialog()
        self.wine.driver("click", TITLE, 2)
        self.wine.wait_gone(TITLE)
        self.assertEqual(sorted(root.rglob("*")), before)
        self.assertEqual((self.reg("query", ENTRY), self.reg("query", "HKCR\\QuindoZip")), (0, 0))

        dialog = self.open_dialog()
        self.assertEqual((dialog.control(1000)["text"], dialog.control(1002)["text"], dialog.buttons()),
                         ("「Quindo」をコンピュータから削除します", EXPLANATION, {"アンインストール": 1, "キャンセル": 2}))

        self.remove_and_check()

    def test_an_installation_under_a_name_no_ansi_code_page_holds(self):
        # The record can hold such a name only as UTF-16.
        self.lay_out("Quindo Program \u00fc\u20ac", "utf-16")
        self.open_dialog()
        self.remove_and_check()

    def remove_and_check(self):
        self.wine.driver("click", TITLE, 1)
        self.assertEqual(self.answer_box("削除失敗"), [winehelper.to_windows_path(self.install) + "\\"])
        self.assertEqual(self.answer_box("アンインストール"), ["アンインストールは正常に終了しました。"])
        self.wine.wait_gone(TITLE)
        self.assertEqual(sorted(p.name for p in self.install.iterdir()), ["mine.txt"])
        self.assertEqual([link for link in self.shortcuts + [self.menu] if link.exists()], [])
        # quindo /uninstall ran from the folder with a blank in its name.
        self.assertEqual([k for k in (ENTRY, "HKCR\\QuindoZip", "HKCR\\QuindoLzh") if self.reg("query", k) == 0], [])
        self.assertEqual(self.wine.reg_default("HKCR\\.zip"), "X")


if __name__ == "__main__":
    unittest.main()
