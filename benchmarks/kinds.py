"""The scalar kinds, from the table that stubs/generate.py holds: their letters in registration
order, those of the complex and the real kinds, each kind's numpy type and the Python type of its
values."""

import runpy
from pathlib import Path

import numpy as np

TABLE = runpy.run_path(str(Path(__file__).resolve().parent.parent / "stubs" / "generate.py"))[
    "KINDS"
]
KINDS = "".join(TABLE)
COMPLEX_KINDS = "".join(k for k in KINDS if TABLE[k].is_complex)
REAL_KINDS = "".join(k for k in KINDS if not TABLE[k].is_complex)
DTYPES = {k: np.dtype(kind.dtype).type for k, kind in TABLE.items()}
OWN = {k: kind.scalar for k, kind in TABLE.items()}
