#!/usr/bin/env python3
"""tools/devicesim/devicesim.py ...: the simulator without setting up the module path."""

import os
import sys

# This file sits inside the package folder; put the folder above it first on the path so that
# "devicesim" names the package, not this script.
_tools = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path[0] = _tools

from devicesim.cli import main  # noqa: E402

if __name__ == "__main__":
    sys.exit(main())
