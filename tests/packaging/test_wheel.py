"""The analyser as a wheel: built offline from the package's own files, holding the analyser and
nothing else, installed into a fresh virtual environment, where its varnel-inspect command
gives the same output and exit statuses as the clone's scripts/inspect.sh, and the analyser's
command-line tests pass against the installed copy."""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "bench"))
sys.path.insert(0, ROOT)

from camera import Camera, Display, photograph  # noqa: E402

# The registry for Python packages is out of reach: nothing may be fetched.
OFFLINE = ["--no-index", "--no-deps"]


def tool_version():
    """The version CMake gives the tool (passed in by CTest), else the package's own line."""
    if os.environ.get("VARNEL_VERSION"):
        return os.environ["VARNEL_VERSION"]
    with open(os.path.join(ROOT, "analyser", "__init__.py")) as source:
        return re.search(r'^__version__ = "(.+)"', source.read(), re.M).group(1)


def run(command, **options):
    done = subprocess.run(command, capture_output=True, text=True, timeout=300, **options)
    return done.returncode, done.stdout, done.stderr


class Wheel(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.TemporaryDirectory()
        scratch = cls.scratch.name
        # Built from a copy of what the package is made of, so that nothing else in the clone
        # (nor an earlier build's leftovers) can slip in.
        source = os.path.join(scratch, "source")
        os.makedirs(source)
        shutil.copy(os.path.join(ROOT, "pyproject.toml"), source)
        shutil.copytree(os.path.join(ROOT, "analyser"), os.path.join(source, "analyser"),
                        ignore=shutil.ignore_patterns("__pycache__"))
        status, out, err = run([sys.executable, "-m", "pip", "wheel", *OFFLINE,
                                "--no-build-isolation", "-w", os.path.join(scratch, "dist"),
                                source])
        if status:
            raise AssertionError(f"pip wheel failed:\n{out}\n{err}")
        wheels = os.listdir(os.path.join(scratch, "dist"))
        assert len(wheels) == 1, wheels
        cls.wheel = os.path.join(scratch, "dist", wheels[0])
        cls.venv = os.path.join(scratch, "venv")
        # Debian's numpy and OpenCV serve the environment.
        subprocess.run([sys.executable, "-m", "venv", "--system-site-packages", cls.venv],
                       check=True, timeout=300)
        bin_dir = "Scripts" if os.name == "nt" else "bin"
        cls.python = os.path.join(cls.venv, bin_dir, "python")
        cls.command = os.path.join(cls.venv, bin_dir, "varnel-inspect")
        status, out, err = run([cls.python, "-m", "pip", "install", *OFFLINE, cls.wheel])
        if status:
            raise AssertionError(f"pip install failed:\n{out}\n{err}")
        cls.photos = cls.make_photos()

    @classmethod
    def tearDownClass(cls):
        cls.scratch.cleanup()

    @classmethod
    def make_photos(cls):
        folder = os.path.join(cls.scratch.name, "photos")
        os.makedirs(folder)
        displays = [Display(0, 0, 1280, 720, phase_ms=4.0),
                    Display(1280, 0, 1280, 720, phase_ms=4.0, lag_frames=1.0)]
        data, _, _ = photograph(displays, Camera(photo_size=(1800, 1000), yaw_deg=10,
                                                 coverage=0.9, exposure_ms=0.5, seed=3),
                                3456.7)
        files = {"wall": data, "empty": b"", "text": b"not a photo\n" * 20}
        paths = {}
        for name, content in files.items():
            paths[name] = os.path.join(folder, f"{name}.jpg")
            with open(paths[name], "wb") as out:
                out.write(content)
        return paths

    def test_the_wheel_is_named_for_the_tools_version_and_holds_the_analyser_alone(self):
        version = tool_version()
        self.assertEqual(os.path.basename(self.wheel),
                         f"varnel_analyser-{version}-py3-none-any.whl")
        with zipfile.ZipFile(self.wheel) as wheel:
            names = set(wheel.namelist())
            info = f"varnel_analyser-{version}.dist-info/"
            metadata = wheel.read(info + "METADATA").decode()
            entry_points = wheel.read(info + "entry_points.txt").decode()
        sources = {f"analyser/{name}" for name in os.listdir(os.path.join(ROOT, "analyser"))
                   if name.endswith(".py")}
        self.assertEqual({n for n in names if not n.startswith(info)}, sources)
        for line in ("Requires-Python: >=3.9", "Requires-Dist: numpy",
                     "Requires-Dist: opencv-python-headless",
                     "Requires-Dist: matplotlib ; extra == 'plot'"):
            self.assertIn(line, metadata)
        self.assertRegex(entry_points, r"varnel-inspect = analyser\.cli:main")

    def test_the_command_answers_as_the_clones_script_does(self):
        inspect = os.path.join(ROOT, "scripts", "inspect.sh")
        groups = ["0", "0", "1280", "720", "V", "1280", "0", "1280", "720", "V"]
        cases = [
            ("a photo", [self.photos["wall"], *groups], 3),
            ("a photo, as JSON", ["--json", self.photos["wall"], *groups], 3),
            ("an empty file", [self.photos["empty"]], 1),
            ("not a photo", [self.photos["text"]], 1),
            ("groups not in fives", [self.photos["wall"], *groups[:4]], 2),
            ("the version", ["--version"], 0),
        ]
        for name, arguments, expected in cases:
            with self.subTest(name):
                # Run from elsewhere, so that the clone's package cannot be what answers.
                installed = run([self.command, *arguments], cwd=self.scratch.name)
                self.assertEqual(installed[0], expected, installed[2])
                self.assertEqual(installed, run([inspect, *arguments]))
        self.assertEqual(run([self.command, "--version"])[1],
                         f"varnel-inspect {tool_version()}\n")

    def test_the_analysers_command_tests_pass_against_the_installed_copy(self):
        environment = dict(os.environ, VARNEL_ANALYSER="installed", PYTHONDONTWRITEBYTECODE="1")
        status, out, err = run([self.python, "-m", "unittest", "tests.analyser.test_cli"],
                               cwd=ROOT, env=environment)
        self.assertEqual(status, 0, out + err)
        self.assertRegex(err, r"Ran [1-9]\d* tests?")


if __name__ == "__main__":
    unittest.main()
