#!/usr/bin/env bash
# Formatting and lint of the Python, the C++ and the shell scripts, and the
# stubs' freshness.
set -euo pipefail
cd "$(dirname "$0")/.."
venv=.venv-lint
[ -x "$venv/bin/python" ] || python3 -m venv "$venv"
"$venv/bin/python" -m pip install --quiet --upgrade pip
"$venv/bin/python" -m pip install --quiet --group lint
"$venv/bin/ruff" check .
"$venv/bin/ruff" format --check .
git ls-files '*.hpp' '*.cpp' | xargs "$venv/bin/clang-format" --dry-run --Werror
git ls-files '*.sh' .ci/run | xargs "$venv/bin/shellcheck"
"$venv/bin/python" stubs/generate.py --check
echo "lint: clean"
