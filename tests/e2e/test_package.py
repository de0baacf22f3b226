"""The release package, as a user gets it: built by CPack, unpacked into an empty folder, and
the executable run from there."""

import glob
import os
import subprocess
import tempfile
import unittest
import zipfile

from harness import BUILD_DIR, EndToEndTest, start_session, stop_session
from output_lines import REPORT

PACKAGE_FILES = {"Varnel.exe", "README.md", "starting-on-windows.txt"}

setUpModule = start_session
tearDownModule = stop_session


class Package(EndToEndTest):
    @classmethod
    def setUpClass(cls):
        for old in glob.glob(os.path.join(BUILD_DIR, "Varnel-*-win64.zip")):
            os.remove(old)
        subprocess.run(["cpack", "-G", "ZIP"], cwd=BUILD_DIR, check=True,
                       capture_output=True, timeout=300)
        packages = glob.glob(os.path.join(BUILD_DIR, "Varnel-*-win64.zip"))
        assert len(packages) == 1, packages
        cls.package = packages[0]
        cls.folder = tempfile.TemporaryDirectory()
        with zipfile.ZipFile(cls.package) as archive:
            cls.names = set(archive.namelist())
            archive.extractall(cls.folder.name)
        cls.exe = os.path.join(cls.folder.name, "Varnel.exe")

    @classmethod
    def tearDownClass(cls):
        cls.folder.cleanup()

    def test_the_package_holds_the_program_and_how_to_start_it(self):
        self.assertRegex(os.path.basename(self.package), r"^Varnel-\d+\.\d+\.\d+-win64\.zip$")
        self.assertEqual(self.names, PACKAGE_FILES)

    def test_the_unpacked_program_shows_its_usage_and_runs_a_window(self):
        run = self.session.launch(exe=self.exe)
        self.assertIn("Please run from the command shell", self.session.usage_text(run))
        self.session.dismiss_usage(run)
        self.assertEqual(run.wait_exit(), 1)

        run = self.session.launch(40, 40, 320, 240, "V", exe=self.exe)
        self.session.wait_for_windows(1, visible=True)
        run.wait_for_line(REPORT.fullmatch, what="a report line")
        self.session.close_all(run)
        self.assertTrue(any(REPORT.fullmatch(line) for line in self.assert_clean_end(run)))


if __name__ == "__main__":
    unittest.main()
