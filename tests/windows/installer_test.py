#!/usr/bin/env python3
"""The installer's source against the folder build.sh lays out, and, where
wixl and msitools are installed, the installer built from it read back as
Windows reads it."""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
WINDOWS = os.path.join(ROOT, "scripts", "windows")
sys.path.insert(0, WINDOWS)
import runpy  # noqa: E402
import types  # noqa: E402

# The checker's file name has a dash: read as a script, its functions kept.
check_installer = types.SimpleNamespace(**runpy.run_path(os.path.join(WINDOWS, "check-installer.py")))

WXS = os.path.join(WINDOWS, "sorna.wxs")
LIST = os.path.join(WINDOWS, "folder.txt")
NAME = "소르나 승인 시스템"


class Source(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp()

    def tearDown(self):
        shutil.rmtree(self.tmp)

    def write(self, name, text):
        path = os.path.join(self.tmp, name)
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)
        return path

    def test_installer_carries_the_folder_whole(self):
        self.assertEqual(check_installer.check(WXS, LIST), [])

    def test_changes_that_break_the_installer_are_named(self):
        with open(WXS, encoding="utf-8") as f:
            wxs = f.read()
        with open(LIST, encoding="utf-8") as f:
            listing = f.read()
        cases = [
            # (what changed, folder list, installer source, expected problem)
            ("a DLL added to the folder only", listing + "Qt6Svg.dll  $SDK/qt/bin/Qt6Svg.dll\n", wxs,
             "in the folder but not in the installer: Qt6Svg.dll"),
            ("a plugin dropped from the installer", listing,
             wxs.replace('<File Id="f_qico.dll" Name="qico.dll" Source="$(var.Folder)/imageformats/qico.dll" '
                         'KeyPath="yes"/>', ""),
             "in the folder but not in the installer: imageformats/qico.dll"),
            ("a file of the installer the folder does not have", listing.replace("README.txt", "#README.txt"), wxs,
             "in the installer but not in the folder: README.txt"),
            ("a file taken from the wrong place", listing,
             wxs.replace('Source="$(var.Folder)/platforms/qwindows.dll"', 'Source="$(var.Folder)/qwindows.dll"'),
             "platforms/qwindows.dll: taken from $(var.Folder)/qwindows.dll, not from $(var.Folder)/platforms/qwindows.dll"),
            ("a component in no feature", listing, wxs.replace('<ComponentRef Id="c_sqlite3.dll"/>', ""),
             "component c_sqlite3.dll belongs to no feature"),
            ("not well-formed", listing, wxs.replace("</Product>", ""), "not well-formed"),
        ]
        for what, new_listing, new_wxs, expected in cases:
            with self.subTest(what):
                problems = check_installer.check(self.write("sorna.wxs", new_wxs), self.write("folder.txt", new_listing))
                self.assertTrue(any(expected in p for p in problems), problems)

    def test_laid_out_folder_against_the_list(self):
        folder = os.path.join(self.tmp, "folder")
        for path in check_installer.listed_files(LIST):
            os.makedirs(os.path.dirname(os.path.join(folder, path)), exist_ok=True)
            open(os.path.join(folder, path), "w").close()
        self.assertEqual(check_installer.check(WXS, LIST, folder), [])
        open(os.path.join(folder, "platforms", "qdirect2d.dll"), "w").close()
        os.remove(os.path.join(folder, "sqlite3.dll"))
        self.assertEqual(check_installer.check(WXS, LIST, folder),
                         ["listed but not laid out: sqlite3.dll", "laid out but not listed in folder.txt: platforms/qdirect2d.dll"])


@unittest.skipUnless(shutil.which("wixl") and shutil.which("msiinfo") and shutil.which("msibuild"),
                     "wixl and msitools are not installed (scripts/install-deps.sh installs them)")
class Package(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp()
        folder = os.path.join(cls.tmp, "sorna-windows-x64")
        for path in check_installer.listed_files(LIST):
            os.makedirs(os.path.dirname(os.path.join(folder, path)), exist_ok=True)
            with open(os.path.join(folder, path), "w") as f:
                f.write(path)
        cls.msi = os.path.join(cls.tmp, "sorna-44-x64.msi")
        subprocess.run([os.path.join(WINDOWS, "make-msi.sh"), folder, "44", cls.msi], check=True,
                       stdout=subprocess.DEVNULL)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp)

    def table(self, name):
        """Rows of a table, as a C-locale machine reads them (the database's
        own code page decides)."""
        out = subprocess.run(["msiinfo", "export", self.msi, name], check=True, capture_output=True,
                             env=dict(os.environ, LC_ALL="C.UTF-8", WINDOWS_LANGUAGE="en_US")).stdout
        lines = out.decode("utf-8").replace("\r", "").split("\n")[3:]
        return [line.split("\t") for line in lines if line]

    def test_korean_names_survive(self):
        out = subprocess.run(["msiinfo", "export", self.msi, "_ForceCodepage"], check=True, capture_output=True).stdout
        self.assertEqual(out.decode().replace("\r", "").split("\n")[2].split("\t")[0], "949")
        self.assertEqual(sorted((r[0], r[1], r[2]) for r in self.table("Shortcut")),
                         [("s_menu", "ProgramMenuFolder", NAME), ("s_startup", "StartupFolder", NAME)])
        self.assertIn(["ProductName", NAME], self.table("Property"))

    def test_what_goes_where(self):
        props = {r[0]: r[1] for r in self.table("Property")}
        self.assertEqual((props["ALLUSERS"], props["QUENDAL"], props["ProductVersion"]), ("1", "C:\\Quendal\\", "44.0.0"))
        dirs = {r[0]: (r[1], r[2]) for r in self.table("Directory")}
        self.assertEqual(dirs["INSTALLDIR"], ("ProgramFiles64Folder", "sorna"))
        self.assertEqual(len(self.table("File")), len(check_installer.listed_files(LIST)))
        # C:\Quendal is created, and no file of the installer lives there:
        # removing the program leaves the merchant's journal alone.
        self.assertIn(["QUENDAL", "c_quendal"], self.table("CreateFolder"))
        quendal_components = {r[0] for r in self.table("Component") if r[2] == "QUENDAL"}
        self.assertEqual(quendal_components, {"c_quendal"})
        self.assertFalse([r for r in self.table("File") if r[1] == "c_quendal"])
        self.assertFalse(self.table("RemoveFile"))
        # The merchant's account may change it: icacls run by the installer
        # itself (deferred, not impersonated: 50 + 1024 + 2048), a failure
        # not fatal (+ 64), never on removal.
        actions = {r[0]: r[1:] for r in self.table("CustomAction")}
        self.assertEqual(actions["QuendalWritable"][:3],
                         ["3186", "ICACLS", '"[QUENDAL]." /grant *S-1-5-32-545:(OI)(CI)M'])
        self.assertEqual(actions["FindIcacls"][1:3], ["ICACLS", "[System64Folder]icacls.exe"])
        sequence = {r[0]: (r[1], int(r[2])) for r in self.table("InstallExecuteSequence")}
        self.assertEqual(sequence["QuendalWritable"][0], 'NOT REMOVE~="ALL"')
        self.assertLess(sequence["CreateFolders"][1], sequence["QuendalWritable"][1])
        self.assertLess(sequence["QuendalWritable"][1], sequence["InstallFinalize"][1])

    def test_upgrade_and_start_with_windows(self):
        upgrade = sorted((r[1], r[2], r[4], r[6]) for r in self.table("Upgrade"))
        # 769: 0.0.0 up to this version, both included, features carried
        # over; 2: a newer one only detected, and the setup stops.
        self.assertEqual(upgrade, [("0.0.0", "44.0.0", "769", "SORNA_OLDER_INSTALLED"),
                                   ("44.0.0", "", "2", "SORNA_NEWER_INSTALLED")])
        self.assertIn("NOT SORNA_NEWER_INSTALLED", [r[0] for r in self.table("LaunchCondition")])
        sequence = {r[0]: int(r[2]) for r in self.table("InstallExecuteSequence")}
        self.assertLess(sequence["InstallValidate"], sequence["RemoveExistingProducts"])
        self.assertLess(sequence["RemoveExistingProducts"], sequence["InstallInitialize"])
        features = {r[0]: r[5] for r in self.table("Feature")}
        self.assertEqual((features["Program"], features["StartWithWindows"]), ("1", "1000"))
        self.assertEqual(self.table("Condition"), [["StartWithWindows", "1", 'STARTWITHWINDOWS="1"']])


if __name__ == "__main__":
    unittest.main()
