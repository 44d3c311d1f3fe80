#!/usr/bin/env bash
# Makes sure a virtual environment holds an up-to-date build of vexa with
# the given extras (for example: test, demo, bench), building only when the
# sources, the build files or the interpreter changed since the last build,
# or an extra is new; extras installed before stay installed. The build tree
# persists in build/, so a rebuild compiles only what changed.
#   VEXA_VENV    the environment (default .venv)
#   VEXA_PYTHON  the interpreter that creates it (default python3)
#   VEXA_CMAKE_ARGS  extra -C settings for the build, as one string
set -euo pipefail
cd "$(dirname "$0")/.."
venv=${VEXA_VENV:-.venv}
python=${VEXA_PYTHON:-python3}
[ -x "$venv/bin/python" ] || "$python" -m venv "$venv"
inputs=(src stubs CMakeLists.txt pyproject.toml)
stamp=$( { "$venv/bin/python" -c 'import sys; print(sys.version)'; echo "${VEXA_CMAKE_ARGS:-}";
           git ls-files -s "${inputs[@]}" 2>/dev/null || true; } | sha256sum | cut -c1-16)
# The stamp file holds the build's stamp, then the extras installed with it.
built=$(sed -n 1p "$venv/.vexa-build" 2>/dev/null || true)
installed=$(sed -n 2p "$venv/.vexa-build" 2>/dev/null || true)
[ "$built" = "$stamp" ] || installed=
# shellcheck disable=SC2086
extras=$(printf '%s\n' "$@" ${installed//,/ } | sort -u | paste -sd, -)
# Up to date: the same interpreter and committed inputs as the last build,
# no input edited since, and the extras asked for among those installed.
if [ "$built" = "$stamp" ] && [ "$extras" = "$installed" ] &&
   [ -z "$(find "${inputs[@]}" -newer "$venv/.vexa-build" -print -quit 2>/dev/null)" ]; then
  echo "vexa in $venv is up to date"
  exit 0
fi

echo "building vexa into $venv (about 2 minutes on 2 cores the first time, seconds after that)..."
start=$SECONDS
mkdir -p build
"$venv/bin/python" -m pip install --quiet --upgrade pip scikit-build-core
# The build requirements, as the build backend itself states them.
mapfile -t requirements < <("$venv/bin/python" -c \
  'from scikit_build_core.build import get_requires_for_build_wheel as g; print("\n".join(g()))')
"$venv/bin/python" -m pip install --quiet "${requirements[@]}"
tag=$("$venv/bin/python" -c 'import sys; print(f"{sys.implementation.cache_tag}")')
# The build's progress, one line per compiled unit, as it happens; the whole
# output goes to a log, shown when the build fails.
log=build/$tag-${venv#.}.log
# shellcheck disable=SC2086
if ! "$venv/bin/python" -m pip install --verbose --no-build-isolation \
  -C "build-dir=build/$tag-${venv#.}" ${VEXA_CMAKE_ARGS:-} ".${extras:+[$extras]}" 2>&1 |
  tee "$log" | { grep --line-buffered -E '^ *\[[0-9]+/[0-9]+\] ' || true; }; then
  tail -n 60 "$log"
  echo "the build failed; its whole output is in $log" >&2
  exit 1
fi
printf '%s\n%s\n' "$stamp" "$extras" > "$venv/.vexa-build"
echo "built vexa in $((SECONDS - start)) s"
