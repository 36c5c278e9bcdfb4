"""python3 -m marrowind.batch: one family's job, see marrowind.batch.job."""
import sys

from .job import main

sys.exit(main())
