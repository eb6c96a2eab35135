"""python3 -m fendrix_tools: the same command line as fendrix-tools."""

import sys

from .cli import main

if __name__ == "__main__":
    sys.exit(main())
