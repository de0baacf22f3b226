"""The analyser's tests. The camera model of the benchmark makes their photos.

With VARNEL_ANALYSER=installed they test the analyser installed in the interpreter that runs
them (a wheel in a virtual environment) and its varnel-inspect command, not the clone's copy.
"""

import importlib.util
import os
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
INSTALLED = os.environ.get("VARNEL_ANALYSER") == "installed"
if INSTALLED:
    # Test discovery puts the clone first on the path, where its own copy would serve.
    sys.path[:] = [p for p in sys.path if os.path.abspath(p or os.curdir) != ROOT]
    found = importlib.util.find_spec("analyser")
    if found is None or found.origin.startswith(ROOT + os.sep):
        raise ImportError("VARNEL_ANALYSER=installed, but no installed analyser is found")
sys.path[:0] = ([] if INSTALLED else [ROOT]) + [os.path.join(ROOT, "bench")]
