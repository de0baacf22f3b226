import sys

from analyser.cli import main

sys.exit(main(sys.argv[1:]))
