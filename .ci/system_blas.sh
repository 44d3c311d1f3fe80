#!/usr/bin/env bash
# The build against the system's CBLAS/LAPACKE (Debian's OpenBLAS, whose
# symbols carry no prefix), with -Wconversion -Wshadow as errors in vexa's
# own code, and the suite against it, slow tests aside: the other builds
# cover those.
set -euo pipefail
cd "$(dirname "$0")/.."
if ! dpkg -s libopenblas-dev liblapacke-dev >/dev/null 2>&1; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq libopenblas-dev liblapacke-dev >/dev/null
fi
VEXA_VENV=.venv-system \
  VEXA_CMAKE_ARGS="-C cmake.define.VEXA_SYSTEM_BLAS=ON -C cmake.define.VEXA_STRICT_WARNINGS=ON" \
  bash tools/venv.sh test
# The module must take its routines from the system libraries.
.venv-system/bin/python - <<'PY'
import subprocess

import vexa

linked = subprocess.run(["ldd", vexa.__file__], capture_output=True, text=True, check=True).stdout
assert "liblapacke" in linked and "scipy_openblas" not in linked, linked
PY
.venv-system/bin/python -m pytest -q -p no:cacheprovider -m "not slow"
