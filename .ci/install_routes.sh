#!/usr/bin/env bash
# Installs vexa from a clean clone by each route a user may take, every
# build with the installer's build isolation (its default), and each time,
# from an unrelated directory, imports vexa's modules and computes with them:
#   pip install .          into a fresh venv
#   pip install -e .       into a fresh venv
#   the sdist              built with python -m build, installed with pip
#   uv pip install .       into a fresh venv made by uv
#   the release wheel      tools/wheel.sh (pip wheel . and auditwheel), installed
#                          into a fresh venv, a venv with --system-site-packages,
#                          and a directory with pip install --target
set -euo pipefail
cd "$(dirname "$0")/.."
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
git clone --quiet . "$work/clone"
check='import vexa, vexa_io, vexa_linalg
A, x = vexa.matd(3, 2), vexa.vecd(3)
for i in range(3):
    A[i, 0], A[i, 1], x[i] = 1.0, float(i), 1.0 + 2.0 * i
vexa.ls(A, x)
assert abs(x[0] - 1.0) < 1e-12 and abs(x[1] - 2.0) < 1e-12, (x[0], x[1])
assert vexa.dot(vexa.scale(2.0, x[0:2]), x[0:2]) == 20.0
assert vexa_io.asbuffer(x).tolist()[:2] == [2.0, 4.0]
assert vexa_linalg.nrm2(vexa_linalg.column(A, 0)) > 0
try:
    import vexa_dask
except ImportError as error:  # shipped, and asking for its extra
    assert "vexa[dask]" in str(error), error
print("  ok:", vexa.__file__)'
# check PYTHON [ENV...]: the computation, from a directory of its own.
check() {
  mkdir -p "$work/elsewhere"
  (cd "$work/elsewhere" && env "${@:2}" "$1" -c "$check")
}
route() {
  echo "== $1"
  start=$SECONDS
}
took() { echo "  took $((SECONDS - start)) s"; }

python3 -m venv "$work/tools"
"$work/tools/bin/python" -m pip install --quiet build uv

route "pip install ."
python3 -m venv "$work/plain"
(cd "$work/clone" && "$work/plain/bin/python" -m pip install --quiet .)
check "$work/plain/bin/python"
took

route "pip install -e ."
python3 -m venv "$work/editable"
(cd "$work/clone" && "$work/editable/bin/python" -m pip install --quiet -e .)
check "$work/editable/bin/python"
took

route "sdist (python -m build --sdist, then pip install vexa-*.tar.gz)"
"$work/tools/bin/python" -m build --sdist --outdir "$work/sdist" "$work/clone" >/dev/null
python3 -m venv "$work/sdist-venv"
"$work/sdist-venv/bin/python" -m pip install --quiet "$work"/sdist/vexa-*.tar.gz
check "$work/sdist-venv/bin/python"
took

route "uv pip install ."
"$work/tools/bin/uv" venv --quiet --python "$(command -v python3)" "$work/uv-venv"
(cd "$work/clone" && SSL_CERT_FILE=${PIP_CERT:-/etc/ssl/certs/ca-certificates.crt} \
  "$work/tools/bin/uv" pip install --quiet --python "$work/uv-venv/bin/python" .)
check "$work/uv-venv/bin/python"
took

route "release wheel (tools/wheel.sh)"
bash "$work/clone/tools/wheel.sh" "$work/wheel" >"$work/wheel.log" 2>&1 ||
  { tail -n 40 "$work/wheel.log"; exit 1; }
wheel=$(ls "$work"/wheel/vexa-*manylinux*.whl)
echo "  $(basename "$wheel")"
python3 -m zipfile -l "$wheel" | grep -q 'dist-info/licenses/LICENSES_bundled.txt'
python3 -m venv "$work/fresh"
"$work/fresh/bin/python" -m pip install --quiet "$wheel"
check "$work/fresh/bin/python"
python3 -m venv --system-site-packages "$work/system"
"$work/system/bin/python" -m pip install --quiet "$wheel"
check "$work/system/bin/python"
python3 -m pip install --quiet --target "$work/target" "$wheel"
check python3 PYTHONPATH="$work/target"
took
