"""python3 -m devicesim ... (with tools/ on the module path)."""

import sys

from devicesim.cli import main

sys.exit(main())
