"""The built executable itself: how it is linked and what resources it carries."""

import os
import unittest
import xml.etree.ElementTree as ElementTree

from pe_file import RT_MANIFEST, SUBSYSTEM_WINDOWS_GUI, PeFile

# Read from the file alone, so that it runs on Windows too (the harness is for Linux hosts).
TOOL_EXE = os.environ["VARNEL_EXE"]

ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"

# DLLs that every Windows installation has; anything else would have to be shipped alongside.
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "opengl32.dll", "msvcrt.dll"}


class Executable(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.exe = PeFile(TOOL_EXE)

    def test_is_a_desktop_program_that_needs_no_extra_dlls(self):
        self.assertEqual(self.exe.subsystem, SUBSYSTEM_WINDOWS_GUI)
        imported = set(self.exe.imported_dlls())
        self.assertIn("opengl32.dll", imported)
        self.assertLessEqual(imported, SYSTEM_DLLS | {
            name for name in imported if name.startswith("api-ms-win-crt-")})

    def test_carries_exactly_one_resource_its_manifest(self):
        resources = self.exe.resources()
        self.assertEqual([(kind, name) for kind, name, _, _ in resources], [(RT_MANIFEST, 1)])

    def test_manifest_asks_only_to_run_as_invoker(self):
        manifest = ElementTree.fromstring(self.exe.resources()[0][3])
        self.assertEqual(manifest.tag, ASM_V1 + "assembly")
        levels = manifest.findall(
            f"{ASM_V3}trustInfo/{ASM_V3}security/{ASM_V3}requestedPrivileges/"
            f"{ASM_V3}requestedExecutionLevel")
        self.assertEqual([level.attrib for level in levels],
                         [{"level": "asInvoker", "uiAccess": "false"}])
        # Nothing else: in particular no display-scaling awareness and no dependencies.
        self.assertEqual(
            sorted(element.tag for element in manifest.iter()),
            sorted([ASM_V1 + "assembly", ASM_V3 + "trustInfo", ASM_V3 + "security",
                    ASM_V3 + "requestedPrivileges", ASM_V3 + "requestedExecutionLevel"]))


if __name__ == "__main__":
    unittest.main()
