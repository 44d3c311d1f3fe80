#!/usr/bin/env bash
# Builds vexa and runs the whole suite on each supported Python other than
# the default one, each in its own environment (.venv-3.X): 3.12 and 3.13
# from pyenv, 3.14 and 3.15 from Debian's testing suite in a chroot
# (.ci/chroot.sh), since neither pyenv nor uv can fetch them here. To stay
# within CI's time, the runs skip the slow tests (child processes and
# campaigns), which the default Python runs.
set -euo pipefail
cd "$(dirname "$0")/.."
versions=${PYENV_ROOT:-$HOME/.pyenv}/versions
for minor in 3.12 3.13; do
  python=$(find "$versions" -maxdepth 3 -path "*/$minor.*/bin/python$minor" | sort -V | tail -n 1)
  if [ -z "$python" ]; then
    echo "no Python $minor under $versions" >&2
    exit 1
  fi
  echo "== Python $minor: $python"
  VEXA_PYTHON=$python VEXA_VENV=.venv-$minor bash tools/venv.sh test
  ".venv-$minor/bin/python" -m pytest -q -p no:cacheprovider -m "not slow"
done
# shellcheck disable=SC2016
bash .ci/chroot.sh bash -c 'for minor in 3.14 3.15; do
  echo "== Python $minor: $(command -v "python$minor")"
  VEXA_PYTHON=python$minor VEXA_VENV=.venv-$minor bash tools/venv.sh test
  ".venv-$minor/bin/python" -m pytest -q -p no:cacheprovider -m "not slow"
done'
