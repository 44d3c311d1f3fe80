#!/usr/bin/env bash
# Builds vexa and runs the whole suite on each supported Python other than
# the default one, each in its own environment (.venv-3.X).
set -euo pipefail
cd "$(dirname "$0")/.."
versions=${PYENV_ROOT:-$HOME/.pyenv}/versions
for minor in 3.9 3.10 3.12 3.13; do
  python=$(ls -d "$versions/$minor".*/bin/python"$minor" 2>/dev/null | sort -V | tail -n 1)
  if [ -z "$python" ]; then
    echo "no Python $minor under $versions" >&2
    exit 1
  fi
  echo "== Python $minor: $python"
  VEXA_PYTHON=$python VEXA_VENV=.venv-$minor bash tools/venv.sh test
  ".venv-$minor/bin/python" -m pytest -q -p no:cacheprovider
done
