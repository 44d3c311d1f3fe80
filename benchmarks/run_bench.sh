#!/usr/bin/env bash
# Builds vexa with the benchmark's dependencies into .venv (only when
# something changed since the last build) and runs the benchmark. Extra
# arguments go to bench.py (--quick, --out DIR).
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/venv.sh bench
.venv/bin/python benchmarks/bench.py "$@"
