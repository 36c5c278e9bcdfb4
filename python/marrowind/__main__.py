"""python3 -m marrowind: see marrowind.cli."""
import sys

from .cli import main

sys.exit(main())
